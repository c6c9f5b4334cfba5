#include "scratch_folder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fuzz_support {

namespace {

std::string& Folder() {
    static std::string folder;
    return folder;
}

void RemoveFolder() {
    std::error_code ec;
    std::filesystem::remove_all(Folder(), ec);
}

} // namespace

const std::string& ScratchFolder() {
    std::string& folder = Folder();
    if (folder.empty()) {
        // Every input goes through a file: memory-backed /dev/shm keeps that cheap, unless
        // TMPDIR asks for another place.
        std::error_code ec;
        std::filesystem::path base =
            std::getenv("TMPDIR") == nullptr && std::filesystem::is_directory("/dev/shm", ec)
                ? std::filesystem::path("/dev/shm")
                : std::filesystem::temp_directory_path();
        std::string pattern = (base / "ombrix-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        folder = pattern;
        std::atexit(RemoveFolder);
    }
    return folder;
}

std::string WriteScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
    std::string path = ScratchFolder() + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size) ||
        std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
    return path;
}

void RemoveScratchFile(const std::string& name) {
    std::remove((ScratchFolder() + "/" + name).c_str());
}

} // namespace fuzz_support
