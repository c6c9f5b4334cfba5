#include "mcu/appl.h"

#include "foundation/fatal.h"
#include "foundation/text_file.h"

#include <cctype>

namespace mcu {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool ParseId(const std::string& text, int& id) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    long value = 0;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            return false;
        }
        value = value * 10 + (text[i] - '0');
        if (value > 1000) {
            value = 1000; // far out of range already; stop growing
        }
    }
    id = static_cast<int>(negative ? -value : value);
    return true;
}

} // namespace

ApplIdNames& ApplIdTable() {
    static ApplIdNames table;
    return table;
}

void ApplyApplIdLine(const std::string& rawLine, ApplIdNames& table) {
    std::string line = rawLine.substr(0, rawLine.find(';'));
    if (line.empty()) {
        return;
    }
    auto underscore = line.find('_');
    std::size_t start = underscore == std::string::npos ? 0 : underscore + 1;
    std::string name;
    if (start < line.size()) {
        name += line[start]; // the first character is taken even if it is a blank
        for (std::size_t i = start + 1; i < line.size() && name.size() < kMaxApplName; ++i) {
            if (IsBlank(line[i])) {
                break;
            }
            name += line[i];
        }
    }
    auto lastBlank = line.find_last_of(" \t");
    std::string number =
        lastBlank == std::string::npos ? line.substr(1) : line.substr(lastBlank + 1);
    int id = 0;
    // Ids outside the table's 256 entries name nothing.
    if (ParseId(number, id) && id >= 0 && id <= 255) {
        table[static_cast<std::size_t>(id)] = name;
    }
}

void LoadApplIdTable() {
    auto& table = ApplIdTable();
    table.fill(std::string());
    foundation::TTextFile tf;
    if (!foundation::OpenTextFile(tf, "applid.inc")) {
        foundation::FatalError("applid file " + tf.fileName + " not found");
        return;
    }
    do {
        ApplyApplIdLine(tf.line, table);
    } while (foundation::NextLine(tf));
    foundation::CloseTextFile(tf);
}

} // namespace mcu
