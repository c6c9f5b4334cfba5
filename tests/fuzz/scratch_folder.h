// The loaders of the MC layer read files by name, so the fuzz targets hand them each input as a
// file in a private folder, made once per process and removed when it ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz_support {

// The folder's path, created on first use.
const std::string& ScratchFolder();
// Writes size bytes to ScratchFolder()/name, replacing what was there; returns the full path.
std::string WriteScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size);
// Removes ScratchFolder()/name if it is there.
void RemoveScratchFile(const std::string& name);

} // namespace fuzz_support
