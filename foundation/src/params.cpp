#include "foundation/params.h"

#include "foundation/text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace foundation {

namespace {

struct ParamState {
    std::vector<ParamEntry> entries;
    std::string error;
    std::string loadedFile;
    std::string systemFile = kSystemParamFile;
};

ParamState& State() {
    static ParamState state;
    return state;
}

ProgramPaths& MutablePaths() {
    static ProgramPaths paths;
    return paths;
}

void StripLineEnd(std::string& line) {
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
}

// Substitutes the root folder for every "%ROOT%"; the root never holds the placeholder
// itself in any sane installation, but continuing after the insert keeps even that finite.
std::string SubstituteRoot(std::string value) {
    static const std::string placeholder = "%ROOT%";
    const std::string& root = Paths().rootFolder;
    for (auto at = value.find(placeholder); at != std::string::npos;
         at = value.find(placeholder, at + root.size())) {
        value.replace(at, placeholder.size(), root);
    }
    return value;
}

void AddEntry(const std::string& keyLine, const std::string* valueLine) {
    auto& entries = State().entries;
    if (entries.size() >= kMaxParamEntries) {
        return; // the table has room for 40; later entries are dropped
    }
    std::string rest = keyLine.substr(1);
    UpperCaseText(rest);
    ParamEntry entry;
    auto close = rest.find(']');
    if (close == std::string::npos) {
        entry.key = rest.substr(0, kMaxParamKey);
        entry.description = rest.substr(0, kMaxParamDescription);
    } else {
        entry.key = rest.substr(0, close).substr(0, kMaxParamKey);
        entry.description = rest.substr(close + 1).substr(0, kMaxParamDescription);
    }
    if (valueLine != nullptr) {
        entry.value = SubstituteRoot(*valueLine).substr(0, kMaxParamValue);
    }
    if (!entry.value.empty() && (entry.value[0] == ';' || entry.value[0] == '#')) {
        entry.value.clear();
    }
    entries.push_back(std::move(entry));
}

bool IsReadableFile(const std::string& path) {
    std::error_code ec;
    return !std::filesystem::is_directory(path, ec);
}

} // namespace

std::string RootFolderOf(const std::string& programFolder) {
    // Segment boundaries: the position after each "/" that starts a segment.
    std::size_t binStart = std::string::npos;
    for (std::size_t at = 0; at < programFolder.size(); ++at) {
        if (programFolder[at] != '/') {
            continue;
        }
        std::size_t end = programFolder.find('/', at + 1);
        if (end == std::string::npos) {
            break;
        }
        std::string segment = programFolder.substr(at + 1, end - at - 1);
        if (segment == "bin" || segment == "Bin" || segment == "BIN") {
            binStart = at;
        }
    }
    if (binStart == std::string::npos) {
        return programFolder;
    }
    // Drop "/bin"; what followed it (a "/" and possibly more segments) stays. A trailing
    // separator is left off, as the root of the usual ROOT/bin/ always was.
    std::string root = programFolder.substr(0, binStart) + programFolder.substr(binStart + 4);
    if (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    return root.empty() ? "/" : root;
}

ProgramPaths MakeProgramPaths(const std::string& executablePath) {
    ProgramPaths p;
    p.executablePath = executablePath;
    auto slash = executablePath.rfind('/');
    std::string fileName;
    if (slash == std::string::npos) {
        fileName = executablePath;
    } else {
        p.programFolder = executablePath.substr(0, slash + 1);
        fileName = executablePath.substr(slash + 1);
    }
    auto dot = fileName.find('.');
    p.programName = fileName.substr(0, dot);
    p.programExtension = dot == std::string::npos ? std::string() : fileName.substr(dot);
    p.programFolderWithSeparator = p.programFolder;
    if (p.programFolderWithSeparator.empty() || p.programFolderWithSeparator.back() != '/') {
        p.programFolderWithSeparator += '/';
    }
    p.rootFolder = RootFolderOf(p.programFolder);
    return p;
}

void InitProgramPaths() {
    std::error_code ec;
    auto exe = std::filesystem::canonical("/proc/self/exe", ec);
    SetProgramPaths(ec ? std::string() : exe.string());
}

void SetProgramPaths(const std::string& executablePath) {
    MutablePaths() = MakeProgramPaths(executablePath);
}

const ProgramPaths& Paths() {
    return MutablePaths();
}

std::vector<std::string> ParamFileCandidates() {
    const auto& p = Paths();
    return {p.programFolder + p.programName + ".ini", p.rootFolder + "/user/config/param.ini",
            p.rootFolder + "/config/param.ini", State().systemFile};
}

void SetSystemParamFile(const std::string& path) {
    State().systemFile = path;
}

void ResetParams() {
    State() = ParamState{};
}

void LoadParamFile() {
    State().entries.clear();
    State().loadedFile.clear();
    for (const auto& candidate : ParamFileCandidates()) {
        if (ReadParamFile(candidate)) {
            State().loadedFile = candidate;
            return;
        }
    }
}

bool ReadParamFile(const std::string& path) {
    auto& state = State();
    state.error.clear();
    std::ifstream in;
    if (IsReadableFile(path)) {
        in.open(path, std::ios::binary);
    }
    if (!in.is_open()) {
        state.error = "file error : " + path + " does not exist";
        return false;
    }
    std::string line;
    std::string pendingKey;
    bool keyPending = false;
    while (std::getline(in, line)) {
        StripLineEnd(line);
        if (keyPending) {
            AddEntry(pendingKey, &line);
            keyPending = false;
        } else if (!line.empty() && line[0] == '[') {
            pendingKey = line;
            keyPending = true;
        }
    }
    if (keyPending) {
        AddEntry(pendingKey, nullptr);
    }
    return true;
}

bool GetParam(const std::string& name, std::string& value) {
    value.clear();
    const auto& entries = State().entries;
    std::string key = name;
    UpperCaseText(key);
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->key == key) {
            value = it->value;
            return true;
        }
    }
    return false;
}

void OverrideParam(const std::string& key, const std::string& value) {
    std::string upper = key;
    UpperCaseText(upper);
    auto& entries = State().entries;
    for (ParamEntry& entry : entries) {
        if (entry.key == upper) {
            entry.value = value;
            return;
        }
    }
    // Past the table's 40 entries too: the override must not vanish in a full file.
    entries.push_back({upper, {}, value});
}

bool GetParamNumber(const std::string& name, double& number) {
    number = 1.0;
    std::string text;
    if (!GetParam(name, text)) {
        return false;
    }
    return ParseDecimal(text, number);
}

const std::string& ParamError() {
    return State().error;
}

const std::string& LoadedParamFile() {
    return State().loadedFile;
}

const std::vector<ParamEntry>& ParamEntries() {
    return State().entries;
}

bool ParseDecimal(const std::string& text, double& value) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto digits = [&] {
        std::size_t start = i;
        while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
        }
        return i - start;
    };
    while (i < n && text[i] == ' ') {
        ++i;
    }
    const std::size_t numberStart = i;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    std::size_t mantissaDigits = digits();
    if (i < n && text[i] == '.') {
        ++i;
        mantissaDigits += digits();
    }
    if (mantissaDigits == 0) {
        return false;
    }
    if (i < n && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            ++i;
        }
        if (digits() == 0) {
            return false;
        }
    }
    if (i != n) {
        return false;
    }
    // from_chars ignores the C locale, which a Qt program sets from the environment and which
    // could otherwise make "," the decimal separator; it takes no "+", so the sign is ours.
    std::size_t from = numberStart;
    bool negative = false;
    if (text[from] == '+' || text[from] == '-') {
        negative = text[from] == '-';
        ++from;
    }
    double magnitude = 0;
    auto [end, ec] = std::from_chars(text.data() + from, text.data() + n, magnitude);
    if (ec == std::errc::result_out_of_range) {
        bool tiny = text.find("e-") != std::string::npos || text.find("E-") != std::string::npos;
        magnitude = tiny ? 0.0 : HUGE_VAL;
    } else if (ec != std::errc() || end != text.data() + n) {
        return false;
    }
    value = negative ? -magnitude : magnitude;
    return true;
}

bool TakeOptionValue(const std::vector<std::string>& args, std::size_t& i, std::string& value,
                     std::string& error) {
    if (i + 1 >= args.size()) {
        error = args[i] + " needs a value";
        return false;
    }
    value = args[++i];
    return true;
}

bool TakePortOption(const std::vector<std::string>& args, std::size_t& i, std::string& port,
                    std::string& error) {
    if (!TakeOptionValue(args, i, port, error)) {
        return false;
    }
    if (port.empty()) {
        error = "--port needs a device path or a port number";
        return false;
    }
    return true;
}

} // namespace foundation
