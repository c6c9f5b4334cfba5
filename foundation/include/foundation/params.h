// Program paths and the parameter file param.ini: located and read once at start-up into a
// fixed table; afterwards any module asks for a value by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace foundation {

struct ProgramPaths {
    std::string executablePath;
    std::string programFolder; // up to and including the last "/"
    std::string programName;   // file name up to its first "."
    std::string programExtension;
    std::string programFolderWithSeparator;
    std::string rootFolder; // program folder without its last "bin" segment
};

// Computes the paths from an executable's full path.
ProgramPaths MakeProgramPaths(const std::string& executablePath);
// The root folder rule on its own: the last path segment spelt "bin", "Bin" or "BIN" is
// removed with its separator, so that its neighbours stay apart and an absolute folder stays
// absolute ("/opt/mc/bin/" gives "/opt/mc", "/home/u/bin/mc/" gives "/home/u/mc", "/bin/"
// gives "/"). A folder without such a segment is kept as it is.
std::string RootFolderOf(const std::string& programFolder);

// Sets the paths from the real path of the running executable (/proc/self/exe).
void InitProgramPaths();
// Sets the paths as if the executable lived at executablePath (tests, tools).
void SetProgramPaths(const std::string& executablePath);
const ProgramPaths& Paths();

struct ParamEntry {
    std::string key;         // upper case, at most 31 characters
    std::string description; // upper case, at most 63 characters
    std::string value;       // case kept, at most kMaxParamValue characters
};

inline constexpr std::size_t kMaxParamEntries = 40;
inline constexpr std::size_t kMaxParamKey = 31;
inline constexpr std::size_t kMaxParamDescription = 63;
// Values hold device paths such as /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0
// and folder lists; a cut value is a mangled path, so only what no path can be is cut.
inline constexpr std::size_t kMaxParamValue = 4096;
inline constexpr const char* kSystemParamFile = "/etc/param.ini";
// What a number in COM names: 1..255 are serial ports, from here on the FTDI adapters (COM
// 256 is the first adapter). Here rather than in the link so that the windows, which name the
// port in their captions, need not reach into the link.
inline constexpr std::uint16_t kFirstUsbPort = 256;

// The four places searched, in order, for the current program paths. The last one is the
// system-wide file; tests point it elsewhere so that the machine's own file never matters.
std::vector<std::string> ParamFileCandidates();
void SetSystemParamFile(const std::string& path);

// Empties the table and the error text and restores the system-wide file name.
void ResetParams();

void LoadParamFile();
bool ReadParamFile(const std::string& path);
bool GetParam(const std::string& name, std::string& value);
bool GetParamNumber(const std::string& name, double& number);
// Gives key this value for the rest of the run, whatever the file said (a command-line option
// that overrides the file for one run).
void OverrideParam(const std::string& key, const std::string& value);
const std::string& ParamError();
// The file LoadParamFile read, empty when none of the candidates could be opened.
const std::string& LoadedParamFile();
const std::vector<ParamEntry>& ParamEntries();

// The decimal syntax shared by the parameter file and the number readers: optional leading
// blanks, optional sign, digits with an optional "." and fraction, optional exponent, nothing
// after. Returns false on any other text.
bool ParseDecimal(const std::string& text, double& value);

// Command-line options of the programs that read this file: the value after args[i] (i moves
// on to it), and --port's, which stands in for COM for one run and may not be empty. False
// with the reason in error.
bool TakeOptionValue(const std::vector<std::string>& args, std::size_t& i, std::string& value,
                     std::string& error);
bool TakePortOption(const std::vector<std::string>& args, std::size_t& i, std::string& port,
                    std::string& error);

} // namespace foundation
