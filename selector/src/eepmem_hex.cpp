// The file side of the image: Intel HEX files read into and written from it, and the
// programming of a PIC18's program memory through its loader (flash mode).
#include "eepmem_internal.h"

#include "foundation/clock.h"
#include "foundation/numbers.h"
#include "foundation/text_file.h"
#include "link/link_port.h"
#include "mcu/bus.h"
#include "selector/mcsys.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace selector::detail {

namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t kEndRecord = 1;
constexpr std::uint8_t kExtendedSegment = 2;
constexpr std::uint8_t kStartSegment = 3;
constexpr std::uint8_t kExtendedLinear = 4;
constexpr std::uint8_t kStartLinear = 5;
// The image's addresses are 16 bits; a PIC18's hex file puts its data EEPROM at 0xF00000.
constexpr std::int64_t kAddressRange = 0x10000;
constexpr std::int64_t kDataEepromBase = 0xF00000;
constexpr std::int64_t kDataEepromEnd = kDataEepromBase + kAddressRange;

// The characters of one record line after its ":", read as hex bytes with their running sum.
class RecordReader {
public:
    RecordReader(oEEPMem& image, const std::string& line) : image_(image), line_(line) {}

    // Two characters as one byte. A record cut short reads "0" for every missing character
    // and leaves its message; nothing past the line is read.
    std::uint8_t Byte() {
        if (pos_ + 2 > line_.size()) {
            image_.ErrorText = "unexpected end of record";
        }
        const int hi = foundation::HexDigitValue(Next());
        const int lo = foundation::HexDigitValue(Next());
        const auto b = static_cast<std::uint8_t>(hi * 16 + lo);
        sum_ = static_cast<std::uint8_t>(sum_ + b);
        return b;
    }

    // The next byte's value if it is there as two true hex digits, without reading it.
    bool Peek(std::uint8_t& b) const {
        if (pos_ + 2 > line_.size() || !IsHexDigit(line_[pos_]) || !IsHexDigit(line_[pos_ + 1])) {
            return false;
        }
        b = static_cast<std::uint8_t>(foundation::HexDigitValue(line_[pos_]) * 16 +
                                      foundation::HexDigitValue(line_[pos_ + 1]));
        return true;
    }

    std::uint8_t Sum() const { return sum_; }

private:
    static bool IsHexDigit(char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    }
    char Next() { return pos_ < line_.size() ? line_[pos_++] : '0'; }

    oEEPMem& image_;
    const std::string& line_;
    std::size_t pos_ = 1;
    std::uint8_t sum_ = 0;
};

void CheckSum(oEEPMem& image, RecordReader& r) {
    const auto expected = static_cast<std::uint8_t>(0 - r.Sum());
    r.Byte();
    if (r.Sum() != 0) {
        image.ErrorText =
            "wrong checksum in hexfile, " + foundation::ByteToHex(expected) + " expected";
    }
}

bool IsRegularFile(const std::string& name) {
    std::error_code ec;
    return fs::is_regular_file(name, ec);
}

void AppendHex(std::string& text, std::uint8_t b, std::uint8_t& sum) {
    text += foundation::ByteToHex(b);
    sum = static_cast<std::uint8_t>(sum + b);
}

} // namespace

bool ReadHexFile(oEEPMem& image, const std::string& fileName, std::uint32_t start,
                 std::uint32_t length) {
    image.ErrorText.clear();
    image.LeftOutEepromRecords = 0;
    image.LeftOutHighRecords = 0;
    if (image.Used > start) {
        image.Used = start;
    }
    std::ifstream in;
    if (IsRegularFile(fileName)) {
        in.open(fileName, std::ios::binary);
    }
    if (!in.is_open()) {
        image.ErrorText = "inputfile " + fileName + " not found";
        return false;
    }

    const std::int64_t size = Capacity(image);
    const std::int64_t windowEnd = std::int64_t{start} + length;
    // Base of the 16-bit addresses from the last extended address record. Records above the
    // first 64 KiB (a PIC18's configuration words, its ID locations) are not for this image.
    std::uint32_t base = 0;
    bool done = false;
    std::string line;
    while (!done && std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] != ':') {
            image.ErrorText = "start character wrong";
            return false;
        }
        RecordReader r(image, line);
        std::int32_t n = r.Byte();
        std::int32_t address = r.Byte() * 256;
        address += r.Byte();

        std::uint8_t type = 0;
        if (n >= 1 && r.Peek(type) &&
            (type == kExtendedSegment || type == kStartSegment || type == kExtendedLinear ||
             type == kStartLinear)) {
            r.Byte();
            std::uint32_t value = 0;
            for (std::int32_t i = 0; i < n; ++i) {
                value = (value << 8) | r.Byte();
            }
            CheckSum(image, r);
            if (type == kExtendedSegment) {
                base = (value & 0xFFFF) << 4;
            } else if (type == kExtendedLinear) {
                base = (value & 0xFFFF) << 16;
            }
            continue;
        }
        // Data records take the base; an end record ends the read wherever it points.
        const bool data = n >= 1 && !(r.Peek(type) && type == kEndRecord);
        if (data) {
            const std::int64_t first = std::int64_t{base} + address;
            if (first + n > kAddressRange) {
                // Left out, but never without a word: the caller reports the counts.
                const bool eeprom = first >= kDataEepromBase && first < kDataEepromEnd;
                ++(eeprom ? image.LeftOutEepromRecords : image.LeftOutHighRecords);
                if (first >= kAddressRange) {
                    continue;
                }
            }
            address = static_cast<std::int32_t>(first);
        }

        if (address + n > size) {
            n = static_cast<std::int32_t>(size - address);
        }
        if (address + n > windowEnd) {
            n = static_cast<std::int32_t>(windowEnd - address);
            done = true;
        }
        if (address + n > std::int64_t{image.Used}) {
            image.Used = static_cast<std::uint32_t>(address + n);
        }
        if (n < 1 || r.Byte() == kEndRecord) {
            done = true;
            if (start == 0) {
                image.EndSeen = true;
            }
            break;
        }
        for (std::int32_t i = 0; i < n; ++i) {
            const std::uint8_t b = r.Byte();
            // Bytes below the window belong to another reader of the same file.
            if (address + i >= std::int64_t{start}) {
                image.Data[static_cast<std::size_t>(address + i)] = b;
                image.Marks[static_cast<std::size_t>(address + i)] = 1;
            }
        }
        CheckSum(image, r);
    }
    return true;
}

bool WriteHexFile(oEEPMem& image, const std::string& fileName) {
    image.ErrorText.clear();
    std::string text;
    std::int32_t address = 0;
    const std::int32_t end = End(image);
    while (address < end) {
        if (!Takeable(image, address)) {
            ++address;
            continue;
        }
        const std::int32_t n = TakeableRun(image, address);
        std::uint8_t sum = 0;
        text += ':';
        AppendHex(text, static_cast<std::uint8_t>(n), sum);
        AppendHex(text, static_cast<std::uint8_t>(address >> 8), sum);
        AppendHex(text, static_cast<std::uint8_t>(address & 0xFF), sum);
        text += "00";
        for (std::int32_t i = 0; i < n; ++i) {
            AppendHex(text, image.Data[static_cast<std::size_t>(address)], sum);
            ++address;
        }
        text += foundation::ByteToHex(static_cast<std::uint8_t>(0 - sum));
        text += '\n';
    }
    text += ":00000001FF\n";
    if (!foundation::ReplaceFile(fileName, text)) {
        image.ErrorText = "outputfile " + fileName + " could not be written";
        return false;
    }
    return true;
}

bool WriteFlash(oEEPMem& image) {
    image.ErrorText.clear();
    if (!IdentifyDevice(1, false)) {
        return false;
    }
    if (McSys().DeviceCode == 0 && !IdentifyDevice(1, true)) {
        return false;
    }
    const std::uint8_t code = McSys().DeviceCode;
    if (code < 0x50 || code > 0x5F) {
        image.ErrorText = "Supported are only PIC18 devices";
        mcu::ResetMCAndWait();
        return false;
    }

    TransferCounts counts;
    const std::uint32_t startTime = NowHundredths();
    std::int32_t address = 0;
    int failures = 0;
    const std::int32_t end = End(image);
    while (address < end) {
        const std::int32_t n =
            std::min<std::int32_t>((address / kBlockSize + 1) * kBlockSize, end) - address;
        ++counts.records;
        ProgBlock block;
        block.Count = static_cast<std::uint8_t>(n);
        const std::int32_t target = (address + image.AddrOffset) & 0xFFFF;
        block.AddrHi = static_cast<std::uint8_t>(target >> 8);
        block.AddrLo = static_cast<std::uint8_t>(target & 0xFF);
        for (std::int32_t i = 0; i < n; ++i) {
            block.Data[static_cast<std::size_t>(i)] =
                image.Data[static_cast<std::size_t>(address + i)];
        }
        counts.bytes += static_cast<std::uint32_t>(n);
        std::uint8_t status = 0;
        if (!SendProgBlock(block, status)) {
            return false;
        }
        if (status != 0) {
            image.ErrorText =
                "CheckSum from MC flash prog is invalid (" + std::to_string(status) + ")";
            if (++failures >= 4) {
                ImageFatal(image, image.ErrorText);
                return false;
            }
            foundation::DelayMs(150);
            continue;
        }
        image.ErrorText.clear();
        failures = 0;
        address += n;
    }
    counts.elapsed = ElapsedHundredths(startTime);
    comlink::SetBaud(9600);
    PrintTransferStats(image, counts);
    mcu::ResetMCAndWait();
    return true;
}

} // namespace selector::detail
