// mcparams: shows which parameter file an installation finds and what it says, and where
// bare file names given as arguments resolve to. A first aid for a bench set-up that does
// not find its MC application files.
#include "foundation/params.h"
#include "foundation/tools.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    using namespace foundation;
    InitProgramPaths();
    LoadParamFile();
    const std::string& file = LoadedParamFile();
    std::printf("root folder: %s\n", Paths().rootFolder.c_str());
    if (file.empty()) {
        std::printf("parameter file: none (%s)\n", ParamError().c_str());
    } else {
        std::printf("parameter file: %s\n", file.c_str());
    }
    double com = 1;
    bool comSet = GetParamNumber("COM", com);
    std::printf("COM: %lld%s\n", RoundHalfEven(com), comSet ? "" : " (default)");
    for (const char* key : {"COM", "COM_DEBUG", "FILE_PATH"}) {
        std::string value;
        if (GetParam(key, value)) {
            std::printf("%s = \"%s\"\n", key, value.c_str());
        } else {
            std::printf("%s absent\n", key);
        }
    }
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        ResolveFilePath(name);
        std::printf("%s -> %s\n", argv[i], name.c_str());
    }
    return 0;
}
