// The image and its transfers to and from the MC's EEPROM over the link.
#include "eepmem_internal.h"

#include "foundation/clock.h"
#include "foundation/fatal.h"
#include "foundation/numbers.h"
#include "link/link_port.h"
#include "mcu/bus.h"
#include "selector/console.h"

#include <algorithm>

namespace selector {

namespace detail {

std::int32_t Capacity(const oEEPMem& image) {
    return static_cast<std::int32_t>(
        std::min<std::size_t>({image.Size, image.Data.size(), image.Marks.size()}));
}

std::int32_t End(const oEEPMem& image) {
    return std::min(static_cast<std::int32_t>(std::min(image.Used, kMaxImageSize)),
                    Capacity(image));
}

std::int32_t TakeableRun(const oEEPMem& image, std::int32_t address) {
    const std::int32_t end =
        std::min<std::int32_t>((address / kBlockSize + 1) * kBlockSize, End(image));
    std::int32_t n = 0;
    while (address + n < end && Takeable(image, address + n)) {
        ++n;
    }
    return n;
}

std::uint32_t NowHundredths() {
    return foundation::TickMs() / 10;
}

std::int32_t ElapsedHundredths(std::uint32_t since) {
    // The tick wraps at 2^32 ms; the difference is taken in whole hundredths of its range.
    const std::uint32_t range = 0xFFFFFFFFu / 10 + 1;
    return static_cast<std::int32_t>((NowHundredths() + range - since) % range);
}

} // namespace detail

namespace {

using detail::kBlockSize;

constexpr std::uint8_t kHandshake = 0xF8;
constexpr std::uint8_t kReady = 0x07;
constexpr std::uint8_t kByteModeAnswer = 0x43; // "C"
constexpr std::uint8_t kReadRequest = 0x80;
constexpr std::uint8_t kByteWrite = 0xB0;
constexpr std::int32_t kByteModeLimit = 48;
constexpr std::uint16_t kTimeout = 50; // 500 ms in 10 ms ticks
constexpr int kRetryPauseMs = 150;
constexpr int kTriesPerBlock = 4;

const char* const kNotReady = "not ready to send";
const char* const kNoAnswer = "no answer from MCU, can not access EEProm";
const char* const kWrongCode = "MCU returns wrong code or is busy, can not access EEProm";
// What follows the banner texts on their lines.
const char* const kBannerNotice = " - please wait";

enum class Handshake { Ready, NotSent, NoAnswer, WrongCode };

// The handshake before every block. switched tells whether the MC took the block to 19200.
Handshake BlockHandshake(oEEPMem& image, bool readDirection, bool& switched) {
    switched = false;
    comlink::PurgeInput();
    if (!comlink::SendByte(kHandshake)) {
        return Handshake::NotSent;
    }
    std::uint8_t answer = 0;
    if (!comlink::ReceiveByte(answer, kTimeout)) {
        return Handshake::NoAnswer;
    }
    switch (answer) {
    case kReady:
        image.ByteMode = false;
        break;
    case kHandshake:
        image.ByteMode = false;
        comlink::SetBaud(19200);
        switched = true;
        break;
    case kByteModeAnswer:
        image.ByteMode = true;
        break;
    default:
        return Handshake::WrongCode;
    }
    if (readDirection) {
        comlink::PurgeInput();
    }
    return Handshake::Ready;
}

std::uint8_t High(std::int32_t address) {
    return static_cast<std::uint8_t>((address >> 8) & 0xFF);
}

std::uint8_t Low(std::int32_t address) {
    return static_cast<std::uint8_t>(address & 0xFF);
}

// ---------------------------------------------------------------------------------------
// Reading from the MC

struct ReadTransfer {
    // Addresses are kept wider than the image's 16 bits, so that stepping past the last
    // block of a 64 KiB image ends the read instead of wrapping round to 0.
    std::int32_t address = 0;
    std::int64_t windowEnd = 0; // start + length
    bool done = false;
    bool retried = false;
};

enum class BlockResult { Ok, NoAnswer, Failed, Fatal };

BlockResult ReadByteModeBlock(oEEPMem& image, const ReadTransfer& t, std::int32_t n) {
    if (t.address + n - 1 >= kByteModeLimit) {
        ImageFatal(image, "max 48 EEP bytes readable");
        return BlockResult::Fatal;
    }
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t a = t.address + i;
        if (!comlink::SendByte(static_cast<std::uint8_t>(kReadRequest + a))) {
            ImageFatal(image, kNotReady);
            return BlockResult::Fatal;
        }
        std::uint8_t b = 0;
        if (!comlink::ReceiveByte(b, kTimeout)) {
            ImageFatal(image, "missing EEP byte from MC, Addr is: " + std::to_string(t.address));
            return BlockResult::Fatal;
        }
        image.Data[static_cast<std::size_t>(a)] = b;
        image.Marks[static_cast<std::size_t>(a)] = 1;
    }
    return BlockResult::Ok;
}

BlockResult ReadBlock(oEEPMem& image, ReadTransfer& t) {
    std::int32_t n = kBlockSize - t.address % kBlockSize;
    if (t.address + n > detail::Capacity(image)) {
        n = detail::Capacity(image) - t.address;
    }
    if (t.address + n > t.windowEnd) {
        n = static_cast<std::int32_t>(t.windowEnd - t.address);
        t.done = true;
    }
    if (t.address + n > static_cast<std::int64_t>(image.Used)) {
        image.Used = static_cast<std::uint32_t>(t.address + n);
    }
    if (n < 1) {
        t.done = true;
        comlink::SetBaud(9600);
        return BlockResult::Ok;
    }

    bool switched = false;
    switch (BlockHandshake(image, true, switched)) {
    case Handshake::Ready:
        break;
    case Handshake::NotSent:
        ImageFatal(image, kNotReady);
        return BlockResult::Fatal;
    case Handshake::NoAnswer:
        if (t.retried) {
            ImageFatal(image, kNoAnswer);
            return BlockResult::Fatal;
        }
        return BlockResult::NoAnswer;
    case Handshake::WrongCode:
        ImageFatal(image, kWrongCode);
        return BlockResult::Fatal;
    }
    if (image.ByteMode) {
        return ReadByteModeBlock(image, t, n);
    }

    std::int32_t sent = t.address;
    if (image.AddrMode == 2) {
        sent = (sent + image.AddrOffset) & 0xFFFF;
    }
    std::uint8_t sum = static_cast<std::uint8_t>(n);
    sum = static_cast<std::uint8_t>(sum + High(sent) + Low(sent));
    for (std::uint8_t b : {static_cast<std::uint8_t>(kReadRequest + n), High(sent), Low(sent),
                           static_cast<std::uint8_t>(0 - sum)}) {
        if (!comlink::SendByte(b)) {
            ImageFatal(image, kNotReady);
            return BlockResult::Fatal;
        }
    }
    for (std::int32_t i = 1; i <= n; ++i) {
        std::uint8_t b = 0;
        if (!comlink::ReceiveByte(b, kTimeout)) {
            ImageFatal(image, "missing bytes from MC: " + std::to_string(i - 1) + " instead of " +
                                  std::to_string(n) + " received");
            return BlockResult::Fatal;
        }
        if (!comlink::SendByte(0x00)) {
            ImageFatal(image, kNotReady);
            return BlockResult::Fatal;
        }
        sum = static_cast<std::uint8_t>(sum + b);
        const auto a = static_cast<std::size_t>(t.address + i - 1);
        image.Data[a] = b;
        image.Marks[a] = 1;
    }
    std::uint8_t received = 0;
    if (!comlink::ReceiveByte(received, kTimeout)) {
        ImageFatal(image, "no checksum from MC");
        return BlockResult::Fatal;
    }
    if (received != sum) {
        ImageFatal(image, "wrong checksum from MC: $" + foundation::ByteToHex(received) + ", $" +
                              foundation::ByteToHex(sum) + " expected");
        return BlockResult::Fatal;
    }
    comlink::SetBaud(9600);
    return BlockResult::Ok;
}

void Banner(const oEEPMem& image, const char* text, std::size_t dashes) {
    if (!image.Verbose) {
        return;
    }
    ConsoleLine(" ");
    ConsoleLine(std::string(text) + kBannerNotice);
    ConsoleLine(std::string(dashes, '-'));
}

} // namespace

bool ReadImageFromMc(oEEPMem& image, std::uint32_t start, std::uint32_t length) {
    image.ErrorText.clear();
    if (image.Used > start) {
        image.Used = start;
    }
    Banner(image, "Read data via COM from MC.EEP", 57);
    comlink::PurgeInput();
    ReadTransfer t;
    // Past the image the first block step finds nothing to read and ends the read.
    t.address = static_cast<std::int32_t>(std::min<std::uint32_t>(start, kMaxImageSize));
    t.windowEnd = std::int64_t{start} + length;
    for (;;) {
        BlockResult r = ReadBlock(image, t);
        if (r == BlockResult::Fatal) {
            return false;
        }
        if (r == BlockResult::NoAnswer) {
            // The MC may be busy in its application: one reset, then the same block again.
            mcu::ResetMCAndWait();
            t.retried = true;
            foundation::DelayMs(500);
            continue;
        }
        if (t.done) {
            break;
        }
        t.address = (t.address / kBlockSize + 1) * kBlockSize;
    }
    if (image.Verbose) {
        Console() << '\n' << std::flush;
    }
    return true;
}

namespace {

// ---------------------------------------------------------------------------------------
// Writing to the MC

struct WriteTransfer {
    std::int32_t address = 0;
    TransferCounts counts;
};

// One address after another; a failure is retried at the same address, with a pause before
// every attempt once anything in the block has failed, and the fourth failure is fatal.
BlockResult WriteByteModeBlock(oEEPMem& image, WriteTransfer& t, std::int32_t n) {
    int failures = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t a = t.address;
        if (a >= kByteModeLimit) {
            ImageFatal(image, "max 48 EEP bytes writeable");
            return BlockResult::Fatal;
        }
        const std::uint8_t data = image.Data[static_cast<std::size_t>(a)];
        const std::string where = ", Addr is: " + std::to_string(a);
        auto attempt = [&]() -> std::string {
            std::uint8_t echo = 0;
            ++t.counts.bytes;
            if (!comlink::SendByte(static_cast<std::uint8_t>(kByteWrite + a))) {
                return kNotReady;
            }
            if (!comlink::ReceiveByte(echo, kTimeout)) {
                return "Timeout error during EEP write" + where;
            }
            if (echo != a) {
                return "Error during EEP-Addr set" + where;
            }
            ++t.counts.bytes;
            if (!comlink::SendByte(data)) {
                return kNotReady;
            }
            if (!comlink::ReceiveByte(echo, kTimeout)) {
                return "Timeout error during EEP write" + where;
            }
            if (echo != data) {
                return "Error during EEP write" + where;
            }
            return {};
        };
        for (;;) {
            if (failures > 0) {
                foundation::DelayMs(kRetryPauseMs);
                // A late echo of the failed attempt must not pass for this one's.
                comlink::PurgeInput();
            }
            const std::string error = attempt();
            if (error.empty()) {
                break;
            }
            image.ErrorText = error;
            if (++failures >= kTriesPerBlock) {
                ImageFatal(image, image.ErrorText);
                return BlockResult::Fatal;
            }
        }
        ++t.address;
    }
    return BlockResult::Ok;
}

BlockResult WriteBlock(oEEPMem& image, WriteTransfer& t) {
    image.ErrorText.clear();
    const std::int32_t n = detail::TakeableRun(image, t.address);
    if (n == 0) {
        ++t.address;
        return BlockResult::Ok;
    }
    ++t.counts.records;

    bool switched = false;
    switch (BlockHandshake(image, false, switched)) {
    case Handshake::Ready:
        break;
    case Handshake::NotSent:
        image.ErrorText = kNotReady;
        return BlockResult::Failed;
    case Handshake::NoAnswer:
        image.ErrorText = kNoAnswer;
        return BlockResult::Failed;
    case Handshake::WrongCode:
        image.ErrorText = kWrongCode;
        return BlockResult::Failed;
    }
    if (image.ByteMode) {
        return WriteByteModeBlock(image, t, n);
    }

    // The MC leaves 19200 when the block is over, whatever its outcome; a retry has to find
    // it at the normal rate again.
    auto fail = [&](const std::string& text) {
        image.ErrorText = text;
        if (switched) {
            comlink::SetBaud(9600);
        }
        return BlockResult::Failed;
    };
    std::uint8_t sum = 0;
    auto send = [&](std::uint8_t b) {
        sum = static_cast<std::uint8_t>(sum + b);
        ++t.counts.bytes;
        return comlink::SendByte(b);
    };
    if (!send(static_cast<std::uint8_t>(n)) || !send(High(t.address)) || !send(Low(t.address))) {
        return fail(kNotReady);
    }
    for (std::int32_t i = 0; i < n; ++i) {
        if (!send(image.Data[static_cast<std::size_t>(t.address)])) {
            return fail(kNotReady);
        }
        ++t.address;
    }
    if (!send(static_cast<std::uint8_t>(0 - sum))) {
        return fail(kNotReady);
    }
    std::uint8_t status = 0;
    if (!comlink::ReceiveByte(status, kTimeout)) {
        return fail("no answer (CheckSum) from MC");
    }
    if (status != 0) {
        return fail("CheckSum from MC is invalid (" + std::to_string(status) + ")");
    }
    comlink::SetBaud(9600);
    return BlockResult::Ok;
}

} // namespace

bool WriteImageToMc(oEEPMem& image) {
    if (image.FlashMode) {
        return detail::WriteFlash(image);
    }
    image.ErrorText.clear();
    Banner(image, "Load Hexfile via COM to MC.EEP", 60);
    comlink::PurgeInput();
    WriteTransfer t;
    const std::uint32_t startTime = detail::NowHundredths();
    int failures = 0;
    const std::int32_t end = detail::End(image);
    while (t.address < end) {
        if (!detail::Takeable(image, t.address)) {
            ++t.address;
            continue;
        }
        const std::int32_t blockStart = t.address;
        BlockResult r = WriteBlock(image, t);
        if (r == BlockResult::Fatal) {
            return false;
        }
        if (r == BlockResult::Failed) {
            if (++failures >= kTriesPerBlock) {
                ImageFatal(image, image.ErrorText);
                return false;
            }
            foundation::DelayMs(kRetryPauseMs);
            t.address = blockStart;
            continue;
        }
        failures = 0;
    }
    t.counts.elapsed = detail::ElapsedHundredths(startTime);
    // Failures that a retry got over are not the outcome of the transfer.
    image.ErrorText.clear();
    PrintTransferStats(image, t.counts);
    return true;
}

bool InitImage(oEEPMem& image, std::uint32_t size) {
    if (size == 0 || size > kMaxImageSize) {
        image.ErrorText = "image size must be 1 .. 65536";
        return false;
    }
    image.Size = size;
    image.Data.assign(size, 0);
    image.Marks.assign(size, 0);
    image.Used = 0;
    image.EndSeen = false;
    image.FlashMode = false;
    image.AddrMode = 1;
    return true;
}

void ReleaseImage(oEEPMem& image) {
    if (image.Size > 0) {
        image.Data.clear();
        image.Data.shrink_to_fit();
        image.Marks.clear();
        image.Marks.shrink_to_fit();
        image.Size = 0;
    }
    image.Used = 0;
    image.EndSeen = false;
}

bool ReadImageFromFile(oEEPMem& image, const std::string& fileName, std::uint32_t start,
                       std::uint32_t length) {
    return detail::ReadHexFile(image, fileName, start, length);
}

bool WriteImageToFile(oEEPMem& image, const std::string& fileName) {
    return detail::WriteHexFile(image, fileName);
}

void ImageFatal(oEEPMem& image, const std::string& message) {
    const std::string text = message; // the message may be the image's own error text
    comlink::CloseLink();
    ReleaseImage(image);
    foundation::FatalError(text);
}

std::uint16_t TransferRate(const TransferCounts& counts) {
    if (counts.elapsed < 1) {
        return 0;
    }
    const long long rate = foundation::RoundHalfEven(counts.bytes * 100.0 / counts.elapsed);
    return static_cast<std::uint16_t>(std::min<long long>(rate, 0xFFFF));
}

void PrintTransferStats(const oEEPMem& image, const TransferCounts& counts) {
    if (!image.Verbose) {
        return;
    }
    Console() << '\n';
    ConsoleLine(std::to_string(counts.records) + " records processed");
    ConsoleLine(std::to_string(counts.bytes) + " bytes transfered (" +
                std::to_string(TransferRate(counts)) + " bytes/sec)");
    ConsoleLine("");
}

} // namespace selector
