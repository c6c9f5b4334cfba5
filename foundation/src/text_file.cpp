#include "foundation/text_file.h"

#include "foundation/numbers.h"
#include "foundation/params.h"
#include "foundation/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

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

// Writes text to name through a temporary file in the same folder and a rename: a failed
// write (missing folder, full disk) leaves any earlier file as it was. A symbolic link is
// followed and stays a link; an existing file keeps its permission bits. A file whose write
// permission bits are all clear is refused, as writing it in place would be: the rename
// would pass over the protection, for root even more so than for its owner.
bool ReplaceFile(const std::string& name, const std::string& text) {
    if (name.empty()) {
        return false;
    }
    std::error_code ec;
    std::filesystem::path target = name;
    if (std::filesystem::is_symlink(target, ec)) {
        std::filesystem::path resolved = std::filesystem::weakly_canonical(target, ec);
        if (ec) {
            return false;
        }
        target = resolved;
    }
    struct stat existing {};
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && (existing.st_mode & 0222) == 0) {
        return false;
    }
    const std::filesystem::path folder = target.parent_path();
    std::string pattern = (folder.empty() ? std::filesystem::path(".") : folder).string() + "/." +
                          target.filename().string() + ".XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0) {
        return false;
    }
    mode_t mode = 0;
    if (exists) {
        mode = existing.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    bool ok = fchmod(fd, mode) == 0;
    std::size_t done = 0;
    while (ok && done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        done += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && std::rename(pattern.c_str(), target.c_str()) == 0;
    if (!ok) {
        std::remove(pattern.c_str());
        return false;
    }
    // The rename itself must reach the disk, or a crash could bring the old file back.
    const int folderFd = open((folder.empty() ? std::filesystem::path(".") : folder).c_str(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        fsync(folderFd);
        close(folderFd);
    }
    return true;
}

} // namespace foundation
