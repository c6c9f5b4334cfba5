#include "foundation/text.h"

#include <utility>

namespace foundation {

namespace {

std::string Trimmed(const std::string& s) {
    auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    auto last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}

} // namespace

std::vector<std::string> SplitText(const std::string& text, char separator, bool trim,
                                   bool quoted) {
    std::vector<std::string> fields;
    std::string field;
    bool inQuotes = false;
    auto finish = [&](std::string f) {
        if (trim) {
            f = Trimmed(f);
        }
        if (quoted && !f.empty() && f[0] == separator) {
            f.erase(0, 1);
        }
        fields.push_back(std::move(f));
    };
    for (char c : text) {
        if (quoted && c == '"') {
            inQuotes = !inQuotes;
        } else if (c == separator && !inQuotes) {
            finish(field);
            field.clear();
        } else {
            field += c;
        }
    }
    if (!field.empty()) {
        finish(field);
    }
    return fields;
}

void UpperCaseText(std::string& text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
}

void ReplaceAll(std::string& text, const std::string& pattern, const std::string& replacement) {
    if (pattern.empty()) {
        return;
    }
    // A replacement that holds the pattern would be found again forever, so the search then
    // goes on after the inserted text; every other replacement rescans as before. Text before
    // the last replacement cannot hold a new match that starts earlier than pattern - 1
    // characters before it, so the rescan starts there.
    const bool selfContaining = replacement.find(pattern) != std::string::npos;
    std::size_t from = 0;
    for (auto at = text.find(pattern); at != std::string::npos; at = text.find(pattern, from)) {
        text.replace(at, pattern.size(), replacement);
        from = selfContaining ? at + replacement.size()
                              : (at >= pattern.size() - 1 ? at - (pattern.size() - 1) : 0);
    }
}

} // namespace foundation
