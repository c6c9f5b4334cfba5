// The INI store behind the settings files: sections of "key=value" lines under "[name]"
// headers, section and key names matched without regard to ASCII letter case. Everything the
// store does not touch (other sections, comments, blank lines, the line-end convention) is
// written back exactly as it was read. The file is written whole, through a temporary file in
// the same folder and a rename, so a crash or a full disk never leaves half a settings file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace persistence {

class TIniFile {
public:
    // Reads the file when it exists. A file that exists but cannot be read is treated as empty
    // for reading and is never overwritten: UpdateFile refuses, so nothing in it is lost.
    explicit TIniFile(std::string fileName);
    // A store over text held in memory (fuzzing, tests); UpdateFile writes to fileName.
    static TIniFile FromText(std::string_view text, std::string fileName = {});

    const std::string& FileName() const { return fileName_; }

    // True when the section holds at least one key.
    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    std::vector<std::string> ReadSections() const;
    std::vector<std::string> ReadSection(std::string_view section) const; // its keys

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view def = {}) const;
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t def = 0) const;
    double ReadFloat(std::string_view section, std::string_view key, double def = 0) const;
    double ReadDate(std::string_view section, std::string_view key, double def = 0) const;
    double ReadTime(std::string_view section, std::string_view key, double def = 0) const;
    double ReadDateTime(std::string_view section, std::string_view key, double def = 0) const;

    // An existing key gets the new value in its place; a new key goes after the last key of
    // its section; a new section goes to the end of the file.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    void WriteFloat(std::string_view section, std::string_view key, double value);
    void WriteDate(std::string_view section, std::string_view key, double value);
    void WriteTime(std::string_view section, std::string_view key, double value);
    void WriteDateTime(std::string_view section, std::string_view key, double value);
    // Removes every section of that name with all its lines.
    void EraseSection(std::string_view section);
    void DeleteKey(std::string_view section, std::string_view key);

    bool Modified() const { return modified_; }
    // The whole file as it would be written.
    std::string Text() const;
    // Writes the file when anything changed since it was read or last written. Throws
    // EIniFileException ("Unable to write to <file>") when the file cannot be replaced, or
    // when its write permission bits are all clear (whoever runs the program); the old file
    // then stays as it was.
    void UpdateFile();

private:
    struct Line {
        std::string raw; // as read; empty for a line the store made
        std::string key; // trimmed; empty when the line is not a key line
        std::string value;
        bool isEntry = false;
        bool dirty = false;
    };
    struct Section {
        std::string name;
        std::string header; // raw header line; empty when the store made the section
        std::vector<Line> lines;
        // Folded key -> index of its first entry line; keeps lookups in long lists linear.
        std::unordered_map<std::string, std::size_t> keys;
    };

    TIniFile() = default;
    void Parse(std::string_view text);
    void AddSection(Section section);
    void RebuildSectionIndex();
    // The sections of that name in file order (a hand-edited file may repeat one).
    const std::vector<std::size_t>* SectionsNamed(std::string_view name) const;
    const Line* FindKey(std::string_view section, std::string_view key) const;

    std::string fileName_;
    std::vector<Line> preamble_; // lines before the first section header
    std::vector<Section> sections_;
    std::unordered_map<std::string, std::vector<std::size_t>> sectionIndex_; // by folded name
    std::string lineEnd_ = "\n";
    bool unreadable_ = false;
    bool modified_ = false;
};

// The value forms of the store, usable on their own.
namespace ini_value {
// Decimal with an optional sign; "$" + hex digits, or "0x"/"0X" + hex digits (at least 3
// characters in all). Hex values beyond 31 bits wrap to negatives as 32-bit patterns. Anything
// else, including out-of-range decimals, gives def.
std::int32_t ParseInteger(std::string_view text, std::int32_t def);
// General form, up to 15 significant digits, "." as decimal separator.
std::string FormatFloat(double value);
// "." or "," as decimal separator; def when empty or malformed.
double ParseFloat(std::string_view text, double def);
// Dates and times are day numbers from 1899-12-30 with the time of day as the fraction.
// Written as "yyyy-mm-dd", "hh:nn:ss" and "yyyy-mm-dd hh:nn:ss" (the time left out at
// midnight); read back from the same forms ("hh:nn" also accepted), def when malformed.
std::string FormatDate(double value);
std::string FormatTime(double value);
std::string FormatDateTime(double value);
double ParseDate(std::string_view text, double def);
double ParseTime(std::string_view text, double def);
double ParseDateTime(std::string_view text, double def);
double EncodeDate(int year, int month, int day);
double EncodeTime(int hour, int minute, int second, int millisecond);
} // namespace ini_value

} // namespace persistence
