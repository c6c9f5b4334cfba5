// libFuzzer target for the applid.inc rules: any file must load without a crash or a hang; the
// table loaded must be the one its lines give when applied one by one in file order; and a
// line may set at most one entry, to a name of at most 8 characters taken from the line's text
// before its comment.
#include "foundation/params.h"
#include "mcu/appl.h"
#include "scratch_folder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace mcu;

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

// The lines as the text file reader gives them: cut at line feeds, a carriage return before
// the line feed dropped, no empty line after a final line feed.
std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        std::string line(text.substr(pos, end == std::string_view::npos ? end : end - pos));
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(std::move(line));
        pos = end == std::string_view::npos ? text.size() : end + 1;
    }
    return lines;
}

void CheckLine(const std::string& line, const ApplIdNames& before, const ApplIdNames& after) {
    const std::string code = line.substr(0, line.find(';'));
    int changed = 0;
    for (std::size_t id = 0; id < after.size(); ++id) {
        if (after[id] == before[id]) {
            continue;
        }
        ++changed;
        Check(!after[id].empty());
        Check(after[id].size() <= kMaxApplName);
        Check(code.find(after[id]) != std::string::npos);
    }
    Check(changed <= 1);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // applid.inc is looked up along FILE_PATH, which names only the scratch folder.
    const std::string& folder = fuzz_support::ScratchFolder();
    const std::string text = "[FILE_PATH]\n" + folder + "\n";
    const std::string param = fuzz_support::WriteScratchFile(
        "param.ini", reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    std::string value;
    if (!foundation::ReadParamFile(param) || !foundation::GetParam("FILE_PATH", value) ||
        value != folder) {
        std::fprintf(stderr, "FILE_PATH cannot name %s\n", folder.c_str());
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_support::WriteScratchFile("applid.inc", data, size);
    LoadApplIdTable();

    ApplIdNames expected;
    for (const std::string& line :
         Lines(std::string_view(reinterpret_cast<const char*>(data), size))) {
        const ApplIdNames before = expected;
        ApplyApplIdLine(line, expected);
        CheckLine(line, before, expected);
    }
    Check(ApplIdTable() == expected);
    return 0;
}
