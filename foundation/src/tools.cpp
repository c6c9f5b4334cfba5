#include "foundation/tools.h"

#include "foundation/clock.h"
#include "foundation/params.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <filesystem>
#include <system_error>

namespace foundation {

namespace {

void StripLineEnd(std::string& line) {
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
}

bool ReadLine(TTextFile& tf) {
    if (!std::getline(tf.file, tf.line)) {
        return false;
    }
    StripLineEnd(tf.line);
    return true;
}

bool IsTokenChar(char c) {
    auto u = static_cast<unsigned char>(c);
    return u >= 33 && u <= 126;
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

std::string Trimmed(const std::string& s) {
    auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    auto last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The entries of a folder in name order, without "." and ".."; false when it cannot be listed.
// Directory listings come in no defined order here, and a search whose result changed from one
// machine to the next would be no use.
bool ListFolder(const std::string& folder, std::vector<std::string>& entries) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return false;
    }
    entries.clear();
    while (const dirent* e = readdir(dir)) {
        std::string entry = e->d_name;
        if (entry != "." && entry != "..") {
            entries.push_back(std::move(entry));
        }
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end());
    return true;
}

// Where a bare name is looked for in one FILE_PATH folder: the folder itself, then each of its
// entries in name order (a file among them simply holds nothing).
bool SearchPlaces(const std::string& folder, std::vector<std::string>& places) {
    std::vector<std::string> entries;
    if (!ListFolder(folder, entries)) {
        return false;
    }
    places.assign(1, folder);
    for (const auto& entry : entries) {
        places.push_back(JoinPath(folder, entry));
    }
    return true;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// The first file of folder, in name order, whose name differs from name only in letter case.
bool FindNameIgnoringCase(const std::string& folder, const std::string& name, std::string& found) {
    std::vector<std::string> entries;
    if (!ListFolder(folder, entries)) {
        return false;
    }
    for (const auto& entry : entries) {
        if (SameIgnoringCase(entry, name) && FileExists(JoinPath(folder, entry))) {
            found = JoinPath(folder, entry);
            return true;
        }
    }
    return false;
}

// Evaluates hexadecimal digits from the right with 32-bit weights, so that a ninth digit
// weighs nothing and eight digits read as a two's-complement number.
std::int32_t HexDigitsFromRight(const std::string& text, std::size_t first, std::size_t last) {
    std::uint32_t value = 0;
    std::uint32_t weight = 1;
    for (std::size_t i = last; i > first; --i) {
        value += weight * static_cast<std::uint32_t>(HexDigitValue(text[i - 1]));
        weight *= 16;
    }
    return static_cast<std::int32_t>(value);
}

} // namespace

bool OpenTextFile(TTextFile& tf, const std::string& name) {
    tf.errorText.clear();
    tf.fileName = name;
    ResolveFilePath(tf.fileName);
    tf.isOpen = false;
    tf.file.close();
    tf.file.clear();
    if (!FileExists(tf.fileName)) {
        tf.errorText = "file " + name + " not found";
        return false;
    }
    tf.file.open(tf.fileName, std::ios::binary);
    if (!tf.file.is_open()) {
        tf.errorText = "file " + name + " not found";
        return false;
    }
    tf.isOpen = true;
    tf.line.clear();
    ReadLine(tf);
    tf.position = 1;
    tf.lineNumber = 1;
    tf.quoteChar = '"';
    return true;
}

bool NextLine(TTextFile& tf) {
    if (!tf.isOpen) {
        return false;
    }
    std::string previous = tf.line;
    if (!ReadLine(tf)) {
        tf.line = previous;
        return false;
    }
    tf.position = 1;
    ++tf.lineNumber;
    return true;
}

bool NextToken(TTextFile& tf, std::string& token) {
    token.clear();
    const std::string& line = tf.line;
    std::size_t i = tf.position - 1;
    while (i < line.size() && !IsTokenChar(line[i])) {
        ++i;
    }
    if (i >= line.size()) {
        tf.position = line.size() + 1;
        return false;
    }
    std::size_t start = i;
    if (line[i] == tf.quoteChar) {
        auto close = line.find(tf.quoteChar, i + 1);
        i = close == std::string::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && IsTokenChar(line[i])) {
            ++i;
        }
    }
    token = line.substr(start, i - start);
    tf.position = i + 1;
    return token[0] != ';';
}

bool NextNumber(TTextFile& tf, double& value) {
    std::string token;
    if (!NextToken(tf, token)) {
        tf.errorText = "Error in " + tf.fileName + " : parameter missing";
        return false;
    }
    std::replace(token.begin(), token.end(), ',', '.');
    if (token[0] == '$') {
        value = HexTextToInt(token);
        return true;
    }
    if (!ParseDecimal(token, value)) {
        tf.errorText = "Error in " + tf.fileName + " : invalid numeric format " + token;
        return false;
    }
    return true;
}

void CloseTextFile(TTextFile& tf) {
    if (tf.isOpen) {
        tf.file.close();
        tf.isOpen = false;
    }
}

void ResolveFilePath(std::string& name) {
    if (name.find('/') != std::string::npos) {
        return;
    }
    std::string folderList;
    if (!GetParam("FILE_PATH", folderList)) {
        return;
    }
    const auto folders = SplitText(folderList, ';', true, false);
    for (const auto& folder : folders) {
        if (FindFileInFolder(name, folder)) {
            return;
        }
    }
    // A tree copied from a file system that ignores letter case may hold Motor.adr where
    // MOTOR.ADR is asked for; an exact name anywhere along the folders still comes first.
    for (const auto& folder : folders) {
        if (FindFileInFolderIgnoringCase(name, folder)) {
            return;
        }
    }
}

bool FindFileInFolder(std::string& name, const std::string& folder) {
    std::vector<std::string> places;
    if (!SearchPlaces(folder, places)) {
        return false;
    }
    for (const auto& place : places) {
        if (FileExists(name)) {
            return true; // a file in the current directory is taken as it is
        }
        std::string candidate = JoinPath(place, name);
        if (FileExists(candidate)) {
            name = candidate;
            return true;
        }
    }
    return false;
}

bool FindFileInFolderIgnoringCase(std::string& name, const std::string& folder) {
    std::vector<std::string> places;
    if (!SearchPlaces(folder, places)) {
        return false;
    }
    for (const auto& place : places) {
        std::string found;
        if (FindNameIgnoringCase(place, name, found)) {
            name = found;
            return true;
        }
    }
    return false;
}

bool FindFileIgnoringCase(std::string& path) {
    if (FileExists(path)) {
        return true;
    }
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return false;
    }
    std::string found;
    if (!FindNameIgnoringCase(path.substr(0, slash + 1), path.substr(slash + 1), found)) {
        return false;
    }
    path = found;
    return true;
}

void SplitFileName(const std::string& path, std::string& folder, std::string& name,
                   std::string& extension) {
    auto slash = path.rfind('/');
    folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string rest = slash == std::string::npos ? path : path.substr(slash + 1);
    auto dot = rest.find('.');
    name = rest.substr(0, dot);
    extension = dot == std::string::npos ? std::string() : rest.substr(dot);
}

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

std::string& ToolsError() {
    static std::string text;
    return text;
}

double ParseNumber(const std::string& text) {
    ToolsError().clear();
    if (text.empty()) {
        ToolsError() = "invalid numeric format";
        return 0;
    }
    const char last = text.back();
    if (last == 'h' || last == 'H') {
        return HexDigitsFromRight(text, 0, text.size() - 1);
    }
    const char first = text.front();
    if (first == '$' || first == 'h' || first == 'H') {
        return HexDigitsFromRight(text, 1, text.size());
    }
    std::string decimal = text;
    std::replace(decimal.begin(), decimal.end(), ',', '.');
    double factor = 1;
    if (decimal.back() == 'K' || decimal.back() == 'k') {
        decimal.pop_back();
        factor = 1024;
    }
    double value = 0;
    if (!ParseDecimal(decimal, value)) {
        ToolsError() = "invalid numeric format";
        return 0;
    }
    return value * factor;
}

int HexDigitValue(char c) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 'a' && u <= 'z') {
        u = static_cast<unsigned char>(u - 'a' + 'A');
    }
    if (u >= '0' && u <= '9') {
        return u - '0';
    }
    if (u >= 'A' && u <= 'F') {
        return u - 'A' + 10;
    }
    return u < 'A' ? 9 : 15;
}

char HexDigitChar(int value) {
    static const char digits[] = "0123456789ABCDEF";
    return digits[value & 15];
}

std::string ByteToHex(std::uint8_t b) {
    return {HexDigitChar(b >> 4), HexDigitChar(b & 15)};
}

std::int32_t HexTextToInt(const std::string& text) {
    return text.empty() ? 0 : HexDigitsFromRight(text, 1, text.size());
}

std::string IntToText(long long n) {
    return std::to_string(n);
}

std::string FloatToText(double n, int decimals) {
    // Printing the rounded value instead of converting it to an integer keeps huge values
    // (beyond 64 bits) defined.
    const int places = decimals <= 0 ? 0 : decimals;
    const double value = decimals <= 0 ? std::nearbyint(n) : n;
    int length = std::snprintf(nullptr, 0, "%*.*f", places + 2, places, value);
    std::string text(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
    std::snprintf(text.data(), text.size(), "%*.*f", places + 2, places, value);
    text.pop_back();
    if (decimals <= 0) {
        text.erase(0, text.find_first_not_of(' '));
    }
    // snprintf follows the C locale; the programs always show a decimal point.
    std::replace(text.begin(), text.end(), ',', '.');
    return text;
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

void SetBit(std::uint8_t& b, int n) {
    n &= 31;
    if (n < 8) {
        b = static_cast<std::uint8_t>(b | (1u << n));
    }
}

void StatInit(StatBlock& s, std::int32_t blockLength, double initial) {
    s.blockLength = blockLength;
    s.sum = 0;
    s.sumOfSquares = 0;
    s.count = -1;
    s.average = initial;
    s.rms = initial;
    s.last = initial;
}

void StatAdd(StatBlock& s, double x) {
    if (s.count < 0) {
        s.count = 0;
    }
    if (s.count == 0) {
        s.minimum = 1.0e10;
        s.maximum = -1.0e10;
    }
    if (x > s.maximum) {
        s.maximum = x;
    }
    if (x < s.minimum) {
        s.minimum = x;
    }
    ++s.count;
    s.sum += x;
    s.sumOfSquares += x * x;
    s.last = x;
    if (s.count == s.blockLength) {
        StatFlush(s);
    }
}

void StatFlush(StatBlock& s) {
    if (s.count > 0) {
        s.average = s.sum / s.count;
        s.rms = std::sqrt(s.sumOfSquares / s.count);
    }
    s.count = 0;
    s.sum = 0;
    s.sumOfSquares = 0;
}

void DelayMs(int ms) {
    if (ms > 0) {
        Clock().SleepMs(static_cast<std::uint32_t>(ms));
    }
}

std::int32_t HundredthsOf(int hours, int minutes, int seconds, int milliseconds) {
    return hours * 360000 + minutes * 6000 + seconds * 100 +
           static_cast<std::int32_t>(RoundHalfEven(milliseconds / 10.0));
}

std::int32_t TimeOfDayHundredths() {
    auto now = std::chrono::system_clock::now();
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    return HundredthsOf(local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms.count()));
}

long long RoundHalfEven(double x) {
    return static_cast<long long>(std::nearbyint(x));
}

} // namespace foundation
