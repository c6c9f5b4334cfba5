// libFuzzer target for the Intel HEX reader: any bytes read as a hex file into a 256-byte
// image and into a 64 KiB image (the largest an image can be), over the whole address range
// and over a window the input picks, must not crash, hang or touch memory outside the image;
// marks must stay inside the window and below Used; and what was read must write out and read
// back to the same bytes and marks without a complaint.
#include "selector/eepmem.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

using namespace selector;

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

// Scratch files in memory where there is a tmpfs: the writer syncs every file it replaces.
const std::string& Folder() {
    static const std::string folder = [] {
        std::string pattern =
            access("/dev/shm", W_OK) == 0 ? "/dev/shm/hexfuzz-XXXXXX" : "/tmp/hexfuzz-XXXXXX";
        Check(mkdtemp(pattern.data()) != nullptr);
        static std::string removeAtExit;
        removeAtExit = pattern;
        std::atexit([] {
            std::remove((removeAtExit + "/in.hex").c_str());
            std::remove((removeAtExit + "/out.hex").c_str());
            rmdir(removeAtExit.c_str());
        });
        return pattern;
    }();
    return folder;
}

// The per-address checks run over 64 KiB four times an input. Their coverage tells the fuzzer
// nothing, and the sizes are checked before they run, so they go uninstrumented: with
// instrumentation they took most of the time.
#define PLAIN_LOOP __attribute__((no_sanitize("coverage", "address", "undefined")))

PLAIN_LOOP bool MarksInside(const std::uint8_t* marks, long size, long start, long end) {
    bool ok = true;
    for (long a = 0; a < size; ++a) {
        ok &= marks[a] <= 1 && (marks[a] == 0 || (a >= start && a < end));
    }
    return ok;
}

PLAIN_LOOP bool SameWhereMarked(const std::uint8_t* marks, const std::uint8_t* a,
                                const std::uint8_t* b, long size) {
    bool ok = true;
    for (long i = 0; i < size; ++i) {
        ok &= marks[i] == 0 || a[i] == b[i];
    }
    return ok;
}

void ReadAndRoundTrip(const std::string& in, std::uint16_t size, std::uint16_t start,
                      std::uint16_t length) {
    oEEPMem image;
    Check(InitImage(image, size));
    const bool ok = ReadImageFromFile(image, in, start, length);
    Check(image.Size == size && image.Data.size() == size && image.Marks.size() == size);
    Check(image.Used <= size);
    Check(ok || !image.ErrorText.empty());
    Check(MarksInside(image.Marks.data(), size, start,
                      std::min(long{start} + length, long{image.Used})));

    const std::string out = Folder() + "/out.hex";
    Check(WriteImageToFile(image, out));
    oEEPMem back;
    Check(InitImage(back, size));
    Check(ReadImageFromFile(back, out, 0, size));
    Check(back.ErrorText.empty());
    Check(back.EndSeen);
    Check(back.Marks == image.Marks);
    Check(SameWhereMarked(image.Marks.data(), image.Data.data(), back.Data.data(), size));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string in = Folder() + "/in.hex";
    FILE* f = std::fopen(in.c_str(), "wb");
    Check(f != nullptr);
    Check(std::fwrite(data, 1, size, f) == size);
    Check(std::fclose(f) == 0);

    // The window comes from the input's last bytes, so the fuzzer can steer it.
    std::uint16_t start = 0;
    std::uint16_t length = 0xFFFF;
    if (size >= 4) {
        start = static_cast<std::uint16_t>(data[size - 4] | (data[size - 3] << 8));
        length = static_cast<std::uint16_t>(data[size - 2] | (data[size - 1] << 8));
    }
    ReadAndRoundTrip(in, 256, 0, 256);
    ReadAndRoundTrip(in, 256, static_cast<std::uint16_t>(start & 0xFF), length);
    ReadAndRoundTrip(in, 0xFFFF, 0, 0xFFFF);
    ReadAndRoundTrip(in, 0xFFFF, start, length);
    return 0;
}
