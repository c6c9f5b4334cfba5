// A link port wired to the scripted serial-port and FTDI libraries under a fake clock, with
// param.ini written per test.
#pragma once

#include "fake_ftdi.h"
#include "fake_serial.h"
#include "foundation/clock.h"
#include "foundation/params.h"
#include "link/d2xx.h"
#include "link/ftdi_library.h"
#include "link/link_port.h"
#include "link/serial_library.h"
#include "temp_dir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace testing_support {

class LinkFixture : public ::testing::Test {
protected:
    LinkFixture() {
        comlink::ResetLink();
        comlink::ResetUsb();
    }
    ~LinkFixture() override {
        comlink::ResetLink();
        comlink::ResetUsb();
    }

    // Writes param.ini with COM (and COM_DEBUG when given) and runs the unit start-up.
    void Configure(const std::string& com, const std::string& logName = "") {
        std::string text;
        if (!com.empty()) {
            text += "[COM]link port\n" + com + "\n";
        }
        if (!logName.empty()) {
            text += "[COM_DEBUG]traffic log\n" + logName + "\n";
        }
        ASSERT_TRUE(foundation::ReadParamFile(dir.Write("param.ini", text)));
        comlink::InitLink();
    }

    std::string LogPath() const { return dir.path() + "/traffic.log"; }

    std::string LogText() const {
        std::ifstream in(LogPath(), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::uint64_t ElapsedUs(std::uint64_t sinceUs) const { return clock.NowUs() - sinceUs; }

    ParamGuard params;
    TempDir dir;
    foundation::FakeClock clock{5000};
    FakeSerialLibrary serial{clock};
    FakeFtLibrary ft;
    foundation::ScopedTickSource useClock{clock};
    comlink::ScopedSerialLibrary useSerial{serial};
    comlink::ScopedFtLibrary useFt{ft};
};

} // namespace testing_support
