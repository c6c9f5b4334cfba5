// Text, number and file helpers shared by both programs.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace foundation {

// One text file read line by line and token by token.
struct TTextFile {
    std::string errorText;
    std::ifstream file;
    std::string fileName;
    std::string line;
    std::size_t position = 1; // 1-based index of the next character to scan
    std::int32_t lineNumber = 0;
    char quoteChar = '"';
    bool isOpen = false;
};

bool OpenTextFile(TTextFile& tf, const std::string& name);
bool NextLine(TTextFile& tf);
bool NextToken(TTextFile& tf, std::string& token);
bool NextNumber(TTextFile& tf, double& value);
void CloseTextFile(TTextFile& tf);

// A bare file name (no "/") is searched in the folders of FILE_PATH: first for the exact name
// along all of them, then, when none has it, for a name differing only in letter case.
void ResolveFilePath(std::string& name);
bool FindFileInFolder(std::string& name, const std::string& folder);
// The folder and its immediate subfolders, in the order FindFileInFolder takes them, for a file
// whose name differs from name only in letter case (the first in name order in a folder).
bool FindFileInFolderIgnoringCase(std::string& name, const std::string& folder);
// A path whose file is not there becomes the first file of the same folder, in name order, whose
// name differs only in letter case; false when there is neither.
bool FindFileIgnoringCase(std::string& path);
void SplitFileName(const std::string& path, std::string& folder, std::string& name,
                   std::string& extension);
std::vector<std::string> SplitText(const std::string& text, char separator, bool trim, bool quoted);

// The last error of ParseNumber; the link writes its "USB not connected" here too.
std::string& ToolsError();

double ParseNumber(const std::string& text);
int HexDigitValue(char c);
char HexDigitChar(int value);
std::string ByteToHex(std::uint8_t b);
std::int32_t HexTextToInt(const std::string& text);
std::string IntToText(long long n);
std::string FloatToText(double n, int decimals);
void UpperCaseText(std::string& text);
void ReplaceAll(std::string& text, const std::string& pattern, const std::string& replacement);
void SetBit(std::uint8_t& b, int n);

// Running minimum and maximum, and the average of the last completed block.
struct StatBlock {
    double average = 0;
    double minimum = 0;
    double maximum = 0;
    double last = 0;
    double rms = 0;
    double sum = 0;
    double sumOfSquares = 0;
    std::int32_t count = -1;
    std::int32_t blockLength = 0;
};

void StatInit(StatBlock& s, std::int32_t blockLength, double initial);
void StatAdd(StatBlock& s, double x);
void StatFlush(StatBlock& s);

// A fixed pause of the calling thread; ms <= 0 returns at once.
void DelayMs(int ms);

// Hundredths of a second since local midnight.
std::int32_t TimeOfDayHundredths();
std::int32_t HundredthsOf(int hours, int minutes, int seconds, int milliseconds);

// Round to nearest, ties to even, as every rounding of the programs does.
long long RoundHalfEven(double x);

} // namespace foundation
