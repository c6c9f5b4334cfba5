#include "persistence/ini_file.h"

#include "persistence/errors.h"
#include "persistence/typinfo.h"

#include "foundation/text_file.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace persistence {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

// One pair of matching quotes around a value is taken off on reading, so that values with
// outer blanks, or that are quoted themselves, can be written quoted and still read back
// exactly. Every other value is written bare, as the settings files have always been.
std::string DecodeValue(std::string_view v) {
    v = TrimBlanks(v);
    if (v.size() >= 2 && IsQuote(v.front()) && v.front() == v.back()) {
        v = v.substr(1, v.size() - 2);
    }
    return std::string(v);
}

std::string EncodeValue(std::string_view value) {
    std::string v(value);
    // A line break would end the line and turn the rest of the value into a line of its own.
    for (char& c : v) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    const bool outerBlanks = !v.empty() && (IsBlank(v.front()) || IsBlank(v.back()));
    const bool quoted = v.size() >= 2 && IsQuote(v.front()) && v.front() == v.back();
    if (outerBlanks || quoted) {
        return "\"" + v + "\"";
    }
    return v;
}

void CheckName(std::string_view name, bool isKey) {
    bool ok = true;
    if (name.find('\r') != std::string_view::npos || name.find('\n') != std::string_view::npos ||
        TrimBlanks(name).size() != name.size()) {
        ok = false;
    } else if (isKey) {
        ok = !name.empty() && name.find('=') == std::string_view::npos && name.front() != '[' &&
             name.front() != ';';
    } else {
        ok = name.find(']') == std::string_view::npos;
    }
    if (!ok) {
        throw std::invalid_argument(std::string(isKey ? "INI key" : "INI section") + " name \"" +
                                    std::string(name) + "\" cannot be stored");
    }
}

bool ReadWholeFile(const std::string& name, std::string& text, bool& exists) {
    exists = false;
    // O_NONBLOCK: a FIFO in place of a settings file must not hang the program.
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno == ENOENT || errno == ENOTDIR;
    }
    exists = true;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ::close(fd);
            return false;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

} // namespace

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {
    std::string text;
    bool exists = false;
    if (!fileName_.empty() && !ReadWholeFile(fileName_, text, exists)) {
        unreadable_ = true;
        return;
    }
    Parse(text);
}

TIniFile TIniFile::FromText(std::string_view text, std::string fileName) {
    TIniFile f;
    f.fileName_ = std::move(fileName);
    f.Parse(text);
    return f;
}

void TIniFile::Parse(std::string_view text) {
    const std::size_t firstLf = text.find('\n');
    lineEnd_ = (firstLf != std::string_view::npos && firstLf > 0 && text[firstLf - 1] == '\r')
                   ? "\r\n"
                   : "\n";
    bool first = true;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        std::string_view raw = text.substr(pos, end == std::string_view::npos ? end : end - pos);
        if (end == std::string_view::npos) {
            pos = text.size();
        } else {
            pos = end +
                  ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
        }
        std::string_view view = raw;
        if (first && view.substr(0, 3) == "\xEF\xBB\xBF") {
            view.remove_prefix(3);
        }
        first = false;
        std::string_view t = TrimBlanks(view);
        if (!t.empty() && t.front() == '[') {
            std::string_view name = t.substr(1);
            std::size_t close = name.find(']');
            if (close != std::string_view::npos) {
                name = name.substr(0, close);
            }
            AddSection(Section{std::string(TrimBlanks(name)), std::string(raw), {}, {}});
            continue;
        }
        Line line;
        line.raw = std::string(raw);
        if (!sections_.empty() && !t.empty() && t.front() != ';') {
            std::size_t eq = view.find('=');
            if (eq != std::string_view::npos) {
                std::string_view key = TrimBlanks(view.substr(0, eq));
                if (!key.empty()) {
                    line.isEntry = true;
                    line.key = std::string(key);
                    line.value = DecodeValue(view.substr(eq + 1));
                }
            }
        }
        if (sections_.empty()) {
            preamble_.push_back(std::move(line));
        } else {
            Section& s = sections_.back();
            if (line.isEntry) {
                s.keys.try_emplace(LowerCase(line.key), s.lines.size());
            }
            s.lines.push_back(std::move(line));
        }
    }
}

void TIniFile::AddSection(Section section) {
    sectionIndex_[LowerCase(section.name)].push_back(sections_.size());
    sections_.push_back(std::move(section));
}

void TIniFile::RebuildSectionIndex() {
    sectionIndex_.clear();
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        sectionIndex_[LowerCase(sections_[i].name)].push_back(i);
    }
}

const std::vector<std::size_t>* TIniFile::SectionsNamed(std::string_view name) const {
    auto it = sectionIndex_.find(LowerCase(name));
    return it == sectionIndex_.end() ? nullptr : &it->second;
}

// A hand-edited file may hold a section twice; all parts of it count as one section and the
// first holder of a key wins, so a read never depends on which part a key landed in.
const TIniFile::Line* TIniFile::FindKey(std::string_view section, std::string_view key) const {
    const auto* indices = SectionsNamed(section);
    if (indices == nullptr) {
        return nullptr;
    }
    const std::string folded = LowerCase(key);
    for (std::size_t i : *indices) {
        const Section& s = sections_[i];
        if (auto it = s.keys.find(folded); it != s.keys.end()) {
            return &s.lines[it->second];
        }
    }
    return nullptr;
}

bool TIniFile::SectionExists(std::string_view section) const {
    const auto* indices = SectionsNamed(section);
    if (indices != nullptr) {
        for (std::size_t i : *indices) {
            if (!sections_[i].keys.empty()) {
                return true;
            }
        }
    }
    return false;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
    return FindKey(section, key) != nullptr;
}

std::vector<std::string> TIniFile::ReadSections() const {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        if (SectionsNamed(sections_[i].name)->front() == i) {
            out.push_back(sections_[i].name);
        }
    }
    return out;
}

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const {
    std::vector<std::string> out;
    const auto* indices = SectionsNamed(section);
    if (indices == nullptr) {
        return out;
    }
    for (std::size_t i : *indices) {
        for (const Line& l : sections_[i].lines) {
            // Only the first holder of each key counts.
            if (l.isEntry && FindKey(section, l.key) == &l) {
                out.push_back(l.key);
            }
        }
    }
    return out;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const {
    const Line* l = FindKey(section, key);
    return l != nullptr ? l->value : std::string(def);
}

std::int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t def) const {
    return ini_value::ParseInteger(ReadString(section, key), def);
}

double TIniFile::ReadFloat(std::string_view section, std::string_view key, double def) const {
    return ini_value::ParseFloat(ReadString(section, key), def);
}

double TIniFile::ReadDate(std::string_view section, std::string_view key, double def) const {
    return ini_value::ParseDate(ReadString(section, key), def);
}

double TIniFile::ReadTime(std::string_view section, std::string_view key, double def) const {
    return ini_value::ParseTime(ReadString(section, key), def);
}

double TIniFile::ReadDateTime(std::string_view section, std::string_view key, double def) const {
    return ini_value::ParseDateTime(ReadString(section, key), def);
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    CheckName(section, false);
    CheckName(key, true);
    modified_ = true;
    if (const Line* existing = FindKey(section, key)) {
        auto* l = const_cast<Line*>(existing);
        l->value = std::string(value);
        l->dirty = true;
        return;
    }
    const auto* indices = SectionsNamed(section);
    if (indices == nullptr) {
        AddSection(Section{std::string(section), {}, {}, {}});
        indices = SectionsNamed(section);
    }
    Section& s = sections_[indices->front()];
    // After the last line that holds anything, so blank lines that part sections stay so.
    // Only blank lines follow that place, so no entry moves and the key index stays right.
    std::size_t at = s.lines.size();
    while (at > 0 && !s.lines[at - 1].dirty && TrimBlanks(s.lines[at - 1].raw).empty()) {
        --at;
    }
    Line line;
    line.isEntry = true;
    line.dirty = true;
    line.key = std::string(key);
    line.value = std::string(value);
    s.lines.insert(s.lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
    s.keys.emplace(LowerCase(key), at);
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
    WriteString(section, key, ini_value::FormatFloat(value));
}

void TIniFile::WriteDate(std::string_view section, std::string_view key, double value) {
    WriteString(section, key, ini_value::FormatDate(value));
}

void TIniFile::WriteTime(std::string_view section, std::string_view key, double value) {
    WriteString(section, key, ini_value::FormatTime(value));
}

void TIniFile::WriteDateTime(std::string_view section, std::string_view key, double value) {
    WriteString(section, key, ini_value::FormatDateTime(value));
}

void TIniFile::EraseSection(std::string_view section) {
    if (SectionsNamed(section) == nullptr) {
        return;
    }
    std::erase_if(sections_, [&](const Section& s) { return SameText(s.name, section); });
    RebuildSectionIndex();
    modified_ = true;
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key) {
    const auto* indices = SectionsNamed(section);
    if (indices == nullptr) {
        return;
    }
    for (std::size_t i : *indices) {
        Section& s = sections_[i];
        const auto before = s.lines.size();
        std::erase_if(s.lines, [&](const Line& l) { return l.isEntry && SameText(l.key, key); });
        if (s.lines.size() != before) {
            modified_ = true;
            s.keys.clear();
            for (std::size_t n = 0; n < s.lines.size(); ++n) {
                if (s.lines[n].isEntry) {
                    s.keys.try_emplace(LowerCase(s.lines[n].key), n);
                }
            }
        }
    }
}

std::string TIniFile::Text() const {
    std::string out;
    auto put = [&](const Line& l) {
        out += l.dirty ? l.key + "=" + EncodeValue(l.value) : l.raw;
        out += lineEnd_;
    };
    for (const Line& l : preamble_) {
        put(l);
    }
    for (const Section& s : sections_) {
        out += s.header.empty() ? "[" + s.name + "]" : s.header;
        out += lineEnd_;
        for (const Line& l : s.lines) {
            put(l);
        }
    }
    return out;
}

void TIniFile::UpdateFile() {
    if (!modified_) {
        return;
    }
    if (fileName_.empty() || unreadable_ || !foundation::ReplaceFile(fileName_, Text())) {
        throw EIniFileException("Unable to write to " + fileName_);
    }
    modified_ = false;
}

// ---- value forms ----------------------------------------------------------------------------

namespace ini_value {

namespace {

constexpr double kMsPerDay = 86400000.0;

bool ParseHex(std::string_view digits, std::int32_t& out) {
    if (digits.empty()) {
        return false;
    }
    std::uint64_t v = 0;
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else {
            return false;
        }
        v = v * 16 + static_cast<std::uint64_t>(d);
        if (v > 0xFFFFFFFFu) {
            return false;
        }
    }
    out = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    return true;
}

bool Digits(std::string_view s, std::size_t minLen, std::size_t maxLen, int& out) {
    if (s.size() < minLen || s.size() > maxLen) {
        return false;
    }
    out = 0;
    for (char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
        out = out * 10 + (c - '0');
    }
    return true;
}

long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<long long>(yoe) + era * 400 + (m <= 2));
}

const long long kEpoch = DaysFromCivil(1899, 12, 30);

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : days[m - 1];
}

// Whole days and milliseconds of the day of a date-time value; false when it is no date of
// the years 1..9999.
bool Split(double value, long long& days, long long& ms) {
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6) {
        return false;
    }
    days = static_cast<long long>(std::trunc(value));
    ms = std::llround(std::fabs(value - static_cast<double>(days)) * kMsPerDay);
    if (ms >= static_cast<long long>(kMsPerDay)) {
        ms = 0;
        days += value < 0 ? -1 : 1;
    }
    int y, m, d;
    CivilFromDays(days + kEpoch, y, m, d);
    return y >= 1 && y <= 9999;
}

bool ParseDatePart(std::string_view s, double& out) {
    const std::size_t a = s.find('-');
    const std::size_t b = a == std::string_view::npos ? a : s.find('-', a + 1);
    int y, m, d;
    if (b == std::string_view::npos || !Digits(s.substr(0, a), 1, 4, y) ||
        !Digits(s.substr(a + 1, b - a - 1), 1, 2, m) || !Digits(s.substr(b + 1), 1, 2, d)) {
        return false;
    }
    if (y < 1 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) {
        return false;
    }
    out = EncodeDate(y, m, d);
    return true;
}

bool ParseTimePart(std::string_view s, double& out) {
    int h = 0, n = 0, sec = 0, ms = 0;
    const std::size_t a = s.find(':');
    if (a == std::string_view::npos || !Digits(s.substr(0, a), 1, 2, h)) {
        return false;
    }
    std::string_view rest = s.substr(a + 1);
    const std::size_t b = rest.find(':');
    if (b == std::string_view::npos) {
        if (!Digits(rest, 1, 2, n)) {
            return false;
        }
    } else {
        std::string_view secs = rest.substr(b + 1);
        const std::size_t dot = secs.find('.');
        if (!Digits(rest.substr(0, b), 1, 2, n) || !Digits(secs.substr(0, dot), 1, 2, sec)) {
            return false;
        }
        if (dot != std::string_view::npos && !Digits(secs.substr(dot + 1), 1, 3, ms)) {
            return false;
        }
    }
    if (h > 23 || n > 59 || sec > 59) {
        return false;
    }
    out = EncodeTime(h, n, sec, ms);
    return true;
}

std::string Two(int v) {
    return std::string{static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
}

} // namespace

std::int32_t ParseInteger(std::string_view text, std::int32_t def) {
    std::string_view t = TrimBlanks(text);
    std::int32_t out = 0;
    if (!t.empty() && t.front() == '$') {
        return ParseHex(t.substr(1), out) ? out : def;
    }
    if (t.size() >= 3 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        return ParseHex(t.substr(2), out) ? out : def;
    }
    if (!t.empty() && t.front() == '+') {
        t.remove_prefix(1);
        if (!t.empty() && t.front() == '-') {
            return def;
        }
    }
    if (t.empty()) {
        return def;
    }
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), out, 10);
    if (ec != std::errc() || end != t.data() + t.size()) {
        return def;
    }
    return out;
}

std::string FormatFloat(double value) {
    char buffer[64];
    auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    if (ec != std::errc()) {
        return "0";
    }
    return std::string(buffer, end);
}

double ParseFloat(std::string_view text, double def) {
    std::string t(TrimBlanks(text));
    if (!t.empty() && t.front() == '+') {
        t.erase(0, 1);
    }
    if (t.empty() || t.front() == '+') {
        return def;
    }
    if (t.find('.') == std::string::npos) {
        if (std::size_t comma = t.find(','); comma != std::string::npos) {
            t[comma] = '.';
        }
    }
    double out = 0;
    auto [end, ec] =
        std::from_chars(t.data(), t.data() + t.size(), out, std::chars_format::general);
    if (ec != std::errc() || end != t.data() + t.size()) {
        return def;
    }
    return out;
}

double EncodeDate(int year, int month, int day) {
    return static_cast<double>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpoch);
}

double EncodeTime(int hour, int minute, int second, int millisecond) {
    return (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) / kMsPerDay;
}

std::string FormatDate(double value) {
    long long days = 0;
    long long ms = 0;
    if (!Split(value, days, ms)) {
        return {};
    }
    int y, m, d;
    CivilFromDays(days + kEpoch, y, m, d);
    std::string year = std::to_string(y);
    return std::string(4 - year.size(), '0') + year + "-" + Two(m) + "-" + Two(d);
}

std::string FormatTime(double value) {
    long long days = 0;
    long long ms = 0;
    if (!Split(value, days, ms)) {
        return {};
    }
    const auto secs = static_cast<int>(ms / 1000);
    return Two(secs / 3600) + ":" + Two(secs / 60 % 60) + ":" + Two(secs % 60);
}

std::string FormatDateTime(double value) {
    long long days = 0;
    long long ms = 0;
    if (!Split(value, days, ms)) {
        return {};
    }
    std::string out = FormatDate(value);
    if (ms != 0) {
        out += " " + FormatTime(value);
    }
    return out;
}

double ParseDate(std::string_view text, double def) {
    double out = 0;
    return ParseDatePart(TrimBlanks(text), out) ? out : def;
}

double ParseTime(std::string_view text, double def) {
    double out = 0;
    return ParseTimePart(TrimBlanks(text), out) ? out : def;
}

double ParseDateTime(std::string_view text, double def) {
    std::string_view t = TrimBlanks(text);
    double date = 0;
    double time = 0;
    const std::size_t blank = t.find(' ');
    if (blank == std::string_view::npos) {
        if (ParseDatePart(t, date)) {
            return date;
        }
        return ParseTimePart(t, time) ? time : def;
    }
    if (!ParseDatePart(t.substr(0, blank), date) ||
        !ParseTimePart(TrimBlanks(t.substr(blank + 1)), time)) {
        return def;
    }
    // Before the epoch the day number is negative and the time still counts forward.
    return date < 0 ? date - time : date + time;
}

} // namespace ini_value

} // namespace persistence
