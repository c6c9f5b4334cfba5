#include "selector/mcload.h"

#include "foundation/numbers.h"
#include "foundation/params.h"
#include "link/link_port.h"
#include "mcu/bus.h"
#include "selector/console.h"
#include "selector/eepmem.h"
#include "selector/mcsys.h"

#include <algorithm>
#include <charconv>

namespace selector {

namespace {

// Hex files for the EEPROM and for program memory are read into an image of the whole 16-bit
// address range, so that data beyond the EEPROM is seen and refused rather than cut off.
constexpr std::uint32_t kFileImageSize = kMaxImageSize;
constexpr std::uint8_t kPrintLevel = 1;

const char* const kUsage = "Usage: mcload identify [--processor FILE]\n"
                           "       mcload read FILE.hex [--start A] [--length N] [--quiet]\n"
                           "       mcload write FILE.hex [--quiet]\n"
                           "       mcload flash FILE.hex [--processor FILE] [--quiet]\n"
                           "       mcload --help | --version\n"
                           "       (every command takes --port DEVICE|N)\n";

const char* const kHelp = R"(
Transfers between an MC board and Intel HEX files over the debug link that the COM
parameter of param.ini names (the same parameter file the OMBRIX and TARNEL windows read).

Commands:
  identify         reset the MC, ask its loader for the device code and print the
                   "connected to device : " line and the device bounds
  read FILE.hex    read the MC's data EEPROM (256 bytes) into FILE.hex; --start A and
                   --length N read addresses A .. A+N-1 only (numbers decimal, or hex with
                   0x or $). An MC that serves its EEPROM byte by byte offers addresses 0..47
  write FILE.hex   write the bytes of FILE.hex into the MC's data EEPROM; only the
                   addresses the file holds are written
  flash FILE.hex   program FILE.hex into the program memory of a PIC18 through its loader
                   (addresses the file leaves out are programmed as 0xFF up to its highest)

What a file holds above 64 KiB (configuration words, a PIC18's data EEPROM at
0xF00000) is not transferred; write and flash count those records on standard error.

Options:
  --processor FILE a source file with a PROCESSOR line; with COM 0 (no port) identify and
                   flash run dry: the device comes from that line and nothing is sent
  --port DEVICE|N  the link for this run instead of COM: a device path (/dev/ttyUSB1)
                   or a port number as COM takes it
  --quiet          no banners and statistics
  --help           show this text
  --version        show the version

Exit codes: 0 done; 1 failed (the message is on standard error); 2 wrong arguments.
)";

bool ParseAddress(const std::string& text, long max, long& value) {
    std::string digits = text;
    int base = 10;
    if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) {
        digits = digits.substr(2);
        base = 16;
    } else if (!digits.empty() && digits[0] == '$') {
        digits = digits.substr(1);
        base = 16;
    }
    if (digits.empty()) {
        return false;
    }
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    return ec == std::errc{} && end == digits.data() + digits.size() && value >= 0 && value <= max;
}

std::string Records(std::uint32_t count) {
    return std::to_string(count) + (count == 1 ? " record" : " records");
}

// What a file holds above the image's 16-bit range (configuration words, ID locations, a
// PIC18's data EEPROM) is not transferred; one line says how much of it there was.
void ReportLeftOut(const oEEPMem& image, const std::string& file, std::ostream& err) {
    const std::uint32_t high = image.LeftOutHighRecords;
    const std::uint32_t eeprom = image.LeftOutEepromRecords;
    if (high + eeprom == 0) {
        return;
    }
    const char* const kHigh = " above 64 KiB";
    const char* const kEeprom = " of the data EEPROM at $F00000";
    err << file << ": ";
    if (high > 0 && eeprom > 0) {
        err << Records(high + eeprom) << " not transferred: " << high << kHigh << ", " << eeprom
            << kEeprom;
    } else {
        err << Records(high + eeprom) << (high > 0 ? kHigh : kEeprom) << " not transferred";
    }
    err << '\n';
}

// Reads a hex file for a transfer into the whole-range image; false with the message in err
// when the file is missing, broken, empty, or holds data beyond limit.
bool LoadHexFile(oEEPMem& image, const std::string& file, std::uint8_t fill, std::int32_t limit,
                 const char* what, std::ostream& err) {
    InitImage(image, kFileImageSize);
    std::fill(image.Data.begin(), image.Data.end(), fill);
    const bool read = ReadImageFromFile(image, file, 0, kFileImageSize);
    ReportLeftOut(image, file, err);
    if (!read) {
        // "inputfile ... not found" names the file itself.
        const bool named = image.ErrorText.find(file) != std::string::npos;
        err << (named ? "" : file + ": ") << image.ErrorText << '\n';
        return false;
    }
    if (!image.ErrorText.empty()) {
        // A damaged file is not half written into a device.
        err << file << ": " << image.ErrorText << '\n';
        return false;
    }
    auto first = std::find(image.Marks.begin(), image.Marks.end(), 1);
    if (first == image.Marks.end()) {
        err << file << ": no data records\n";
        return false;
    }
    auto last = std::find(image.Marks.rbegin(), image.Marks.rend(), 1);
    const auto highest = static_cast<std::int32_t>(image.Marks.rend() - last - 1);
    if (highest >= limit) {
        err << file << ": data at address $" << foundation::ByteToHex(highest >> 8)
            << foundation::ByteToHex(highest & 0xFF) << " lies beyond the " << what << '\n';
        return false;
    }
    return true;
}

std::string Hex4(std::int32_t value) {
    return "$" + foundation::ByteToHex(static_cast<std::uint8_t>((value >> 8) & 0xFF)) +
           foundation::ByteToHex(static_cast<std::uint8_t>(value & 0xFF));
}

int Identify(const McloadOptions& options) {
    McSysState& s = McSys();
    s.PrintMask = kPrintLevel;
    s.ProcessorFile = options.processorFile;
    if (!IdentifyDevice(kPrintLevel, true)) {
        return kExitFailed;
    }
    ConsoleLine("device code " + std::string("$") + foundation::ByteToHex(s.DeviceCode) +
                ", bounds: DevRangeLow " + Hex4(s.DevRangeLow) + ", DevLimit " + Hex4(s.DevLimit) +
                ", DevRangeHigh " + Hex4(s.DevRangeHigh) + ", DevLimit2 " + Hex4(s.DevLimit2) +
                ", DevLimit3 " + Hex4(s.DevLimit3));
    // The loader waits for program blocks; a reset lets the application run again.
    comlink::SetBaud(9600);
    if (!s.NoLink) {
        mcu::ResetMCAndWait();
    }
    return kExitOk;
}

int Read(const McloadOptions& options, std::ostream& err) {
    oEEPMem image;
    image.Verbose = !options.quiet;
    InitImage(image, kEepromSize);
    if (!ReadImageFromMc(image, options.start, options.length)) {
        return kExitFailed;
    }
    if (!WriteImageToFile(image, options.file)) {
        err << image.ErrorText << '\n';
        return kExitFailed;
    }
    if (!options.quiet) {
        ConsoleLine(std::to_string(options.length) + " bytes saved to " + options.file);
    }
    return kExitOk;
}

int Write(const McloadOptions& options, std::ostream& err) {
    oEEPMem image;
    image.Verbose = !options.quiet;
    if (!LoadHexFile(image, options.file, 0x00, kEepromSize, "EEPROM (256 bytes)", err)) {
        return kExitFailed;
    }
    return WriteImageToMc(image) ? kExitOk : kExitFailed;
}

int Flash(const McloadOptions& options, std::ostream& err) {
    oEEPMem image;
    image.Verbose = !options.quiet;
    // Erased flash reads 0xFF: the gaps of the file are programmed as erased.
    if (!LoadHexFile(image, options.file, 0xFF, kFileImageSize, "", err)) {
        return kExitFailed;
    }
    McSysState& s = McSys();
    s.PrintMask = kPrintLevel;
    s.ProcessorFile = options.processorFile;
    image.FlashMode = true;
    if (!WriteImageToMc(image)) {
        if (!image.ErrorText.empty()) {
            err << image.ErrorText << '\n';
        }
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace

bool ParseMcloadArguments(const std::vector<std::string>& args, McloadOptions& options,
                          std::string& error) {
    options = McloadOptions{};
    std::vector<std::string> positional;
    bool startGiven = false;
    bool lengthGiven = false;
    long start = 0;
    long length = kEepromSize;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            return foundation::TakeOptionValue(args, i, out, error);
        };
        std::string text;
        if (arg == "--help" || arg == "-h") {
            options.command = McloadCommand::Help;
            return true;
        } else if (arg == "--version") {
            options.command = McloadCommand::Version;
            return true;
        } else if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
        } else if (arg == "--start") {
            if (!value(text)) {
                return false;
            }
            if (!ParseAddress(text, kEepromSize - 1, start)) {
                error = "invalid --start " + text + " (0..255)";
                return false;
            }
            startGiven = true;
        } else if (arg == "--length") {
            if (!value(text)) {
                return false;
            }
            if (!ParseAddress(text, kEepromSize, length) || length < 1) {
                error = "invalid --length " + text + " (1..256)";
                return false;
            }
            lengthGiven = true;
        } else if (arg == "--port") {
            if (!foundation::TakePortOption(args, i, options.port, error)) {
                return false;
            }
        } else if (arg == "--processor") {
            if (!value(options.processorFile)) {
                return false;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.empty()) {
        error = "a command is needed";
        return false;
    }
    const std::string& command = positional[0];
    std::size_t files = 1;
    if (command == "identify") {
        options.command = McloadCommand::Identify;
        files = 0;
    } else if (command == "read") {
        options.command = McloadCommand::Read;
    } else if (command == "write") {
        options.command = McloadCommand::Write;
    } else if (command == "flash") {
        options.command = McloadCommand::Flash;
    } else {
        error = "unknown command " + command;
        return false;
    }
    if (positional.size() != files + 1) {
        error = files == 0 ? command + " takes no file" : command + " needs one FILE.hex";
        return false;
    }
    if (files == 1) {
        options.file = positional[1];
        if (options.file.empty()) {
            // An empty name must never stand for "the MC".
            error = command + ": the file name is empty";
            return false;
        }
    }
    if ((startGiven || lengthGiven) && options.command != McloadCommand::Read) {
        error = "--start and --length go with read";
        return false;
    }
    if (!options.processorFile.empty() && options.command != McloadCommand::Identify &&
        options.command != McloadCommand::Flash) {
        error = "--processor goes with identify and flash";
        return false;
    }
    if (!lengthGiven) {
        length = kEepromSize - start;
    }
    if (start + length > kEepromSize) {
        error = "--start " + std::to_string(start) + " and --length " + std::to_string(length) +
                " reach beyond address 255";
        return false;
    }
    options.start = static_cast<std::uint16_t>(start);
    options.length = static_cast<std::uint16_t>(length);
    return true;
}

const char* McloadUsage() {
    return kUsage;
}

const char* McloadHelp() {
    return kHelp;
}

const char* McloadVersion() {
    return "mcload 1.0";
}

int RunMcloadCommand(const McloadOptions& options, std::ostream& err) {
    const bool needsFile = options.command == McloadCommand::Read ||
                           options.command == McloadCommand::Write ||
                           options.command == McloadCommand::Flash;
    if (needsFile && options.file.empty()) {
        err << "mcload: the file name is empty\n";
        return kExitUsage;
    }
    const bool needsPort =
        options.command == McloadCommand::Read || options.command == McloadCommand::Write ||
        (options.processorFile.empty() &&
         (options.command == McloadCommand::Identify || options.command == McloadCommand::Flash));
    if (McSys().NoLink && needsPort) {
        err << "no link port: COM is 0 in the parameter file"
            << (options.command == McloadCommand::Identify ||
                        options.command == McloadCommand::Flash
                    ? " (--processor FILE runs dry)"
                    : "")
            << '\n';
        return kExitFailed;
    }
    switch (options.command) {
    case McloadCommand::Identify:
        return Identify(options);
    case McloadCommand::Read:
        return Read(options, err);
    case McloadCommand::Write:
        return Write(options, err);
    case McloadCommand::Flash:
        return Flash(options, err);
    case McloadCommand::Help:
    case McloadCommand::Version:
        break;
    }
    return kExitOk;
}

} // namespace selector
