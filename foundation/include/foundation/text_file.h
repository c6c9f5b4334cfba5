// The MC application's text files read line by line and token by token, and where a bare file
// name is found: along the folders of FILE_PATH.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

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
// Writes text to name through a temporary file in the same folder and a rename, so that a
// failed write leaves any earlier file whole; false when the file was not replaced.
bool ReplaceFile(const std::string& name, const std::string& text);

} // namespace foundation
