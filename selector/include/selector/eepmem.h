// EEPMemU: an in-memory image of the MC's data EEPROM with one mark per address, moved
// between the image and the MC over the link (blocks of up to 16 bytes with a checksum after
// the 0xF8 handshake, or byte by byte on addresses 0..47 when the MC answers "C"), between the
// image and Intel HEX files, and into the program memory of a PIC18 through its loader
// (flash mode).
//
// Reads from the MC treat protocol failures as fatal (ImageFatal); writes retry a failed
// block three times after 150 ms and stop on the fourth failure. ImageFatal closes the link,
// releases the image and ends the program through foundation::FatalError; when a test's
// handler returns instead, the operation returns false at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace selector {

struct oEEPMem {
    // Last error message of a transfer; empty after a successful one.
    std::string ErrorText;
    // The contents, index = EEPROM address; Size bytes.
    std::vector<std::uint8_t> Data;
    // One mark per address: 0 = empty, 1 = read from the MC or a file. Writes take a byte
    // when its mark is 1..127.
    std::vector<std::uint8_t> Marks;
    // 1 .. 65536: an image of the whole 16-bit range holds address 0xFFFF too.
    std::uint32_t Size = 0;
    // One past the highest address a transfer has covered.
    std::uint32_t Used = 0;
    // An Intel HEX end record was met.
    bool EndSeen = false;
    // The MC answered the block handshake with "C" and is served byte by byte.
    bool ByteMode = false;
    // Transfers write console banners and statistics.
    bool Verbose = false;
    // WriteImage programs the device's program memory through its loader.
    bool FlashMode = false;
    // Added to the address sent in block reads when AddrMode is 2, and always in flash mode.
    std::uint16_t AddrOffset = 0;
    std::uint8_t AddrMode = 1;
    // Data records of the last file read that lie (wholly or partly) above the first 64 KiB
    // and were left out: those of a PIC18's data EEPROM (based at 0xF00000) and all others.
    std::uint32_t LeftOutEepromRecords = 0;
    std::uint32_t LeftOutHighRecords = 0;
};

// The statistics of one transfer.
struct TransferCounts {
    std::uint32_t records = 0;
    std::uint32_t bytes = 0;
    std::int32_t elapsed = 0; // hundredths of a second
};

inline constexpr std::uint32_t kMaxImageSize = 0x10000;

// Sets Size, allocates Data and Marks filled with 0, Used 0, EndSeen, FlashMode off, AddrMode 1.
// ErrorText, ByteMode, Verbose and AddrOffset keep their values. A size of 0 or above 65536
// is refused (false, with a reason in ErrorText).
bool InitImage(oEEPMem& image, std::uint32_t size);
// Frees Data and Marks (Size 0), Used 0, EndSeen off.
void ReleaseImage(oEEPMem& image);

// The MC and files each have their own operations, so that no file name, not even an empty
// one, ever leads to the MC.

// Reads EEPROM addresses start .. start + length - 1 from the MC. False when a fatal stop
// returned (a test's handler).
bool ReadImageFromMc(oEEPMem& image, std::uint32_t start, std::uint32_t length);
// Reads the records of the Intel HEX file that fall into the window start .. start + length
// - 1 and below Size. False with the reason in ErrorText (an empty name is a file that is not
// found); a true result may still carry the message of a checksum error or a short record in
// ErrorText. Counts the records left out above 64 KiB.
bool ReadImageFromFile(oEEPMem& image, const std::string& fileName, std::uint32_t start,
                       std::uint32_t length);
// Writes every takeable byte below Used into the MC's EEPROM; with FlashMode, programs bytes
// 0 .. Used - 1 into the program memory of a PIC18 through its loader instead.
bool WriteImageToMc(oEEPMem& image);
// Writes every takeable byte below Used to that Intel HEX file, whatever FlashMode says. The
// file is replaced whole or left as it was; a file whose write permission bits are all clear
// is left alone, as are an empty name and a missing folder ("outputfile ... could not be
// written").
bool WriteImageToFile(oEEPMem& image, const std::string& fileName);

// Closes the link, releases the image and ends the program with the message.
void ImageFatal(oEEPMem& image, const std::string& message);
// With Verbose: the record and byte counts and the rate of the transfer that just ended.
void PrintTransferStats(const oEEPMem& image, const TransferCounts& counts);

// Bytes per second as PrintTransferStats shows it: bytes x 100 / elapsed rounded, 0 when
// elapsed is below 1, at most 65535.
std::uint16_t TransferRate(const TransferCounts& counts);

} // namespace selector
