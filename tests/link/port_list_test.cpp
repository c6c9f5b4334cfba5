// The port listing of mcparams over a /dev and /sys tree made for the test.
#include "link/port_list.h"
#include "temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace comlink;

namespace {

TEST(PortList, FindsTheDevicesAUserCanNameAsCom) {
    testing_support::TempDir t;
    const std::string dev = t.MakeDir("dev");
    const std::string sys = t.MakeDir("sys");
    for (const char* node : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1", "ttyS4", "tty5",
                             "ttyUSBx", "console"}) {
        t.Write(std::string("dev/") + node, "");
    }
    t.MakeDir("dev/serial/by-id");
    std::filesystem::create_symlink("../../ttyUSB2",
                                    dev + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0");
    t.Write("sys/class/tty/ttyS0/type", "4\n"); // a 16550A behind it
    t.Write("sys/class/tty/ttyS1/type", "0\n"); // a placeholder without a UART
    t.Write("sys/class/tty/ttyS4/type", "4\n");
    t.Write("sys/class/tty/ttyUSB2/device/latency_timer", "16\n");
    t.Write("sys/class/tty/ttyUSB10/device/latency_timer", "1\n");
    ASSERT_EQ(chmod((dev + "/ttyS4").c_str(), 0), 0);

    const auto ports = ListSerialPorts(dev, sys);
    std::vector<std::string> paths;
    for (const auto& p : ports) {
        paths.push_back(p.path.substr(dev.size() + 1));
    }
    EXPECT_EQ(paths,
              (std::vector<std::string>{"serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0",
                                        "ttyUSB2", "ttyUSB10", "ttyACM0", "ttyS0", "ttyS4"}));
    ASSERT_EQ(ports.size(), 6u);
    EXPECT_EQ(ports[0].target, dev + "/ttyUSB2");
    EXPECT_EQ(ports[0].latencyTimerMs, 16);

    struct Expect {
        bool usb;
        int latency;
        unsigned com;
    };
    const Expect expected[] = {{true, 16, 0}, {true, 16, 0},  {true, 1, 0},
                               {true, -1, 0}, {false, -1, 1}, {false, -1, 5}};
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(ports[i].usb, expected[i].usb) << paths[i];
        EXPECT_EQ(ports[i].latencyTimerMs, expected[i].latency) << paths[i];
        EXPECT_EQ(ports[i].comNumber, expected[i].com) << paths[i];
    }
    EXPECT_FALSE(LowLatencyInForce(ports[1].latencyTimerMs));
    EXPECT_TRUE(LowLatencyInForce(ports[2].latencyTimerMs));

    EXPECT_TRUE(ports[1].accessible);
    EXPECT_TRUE(ports[1].accessProblem.empty());
    if (geteuid() != 0) { // root may open anything
        EXPECT_FALSE(ports[5].accessible);
        EXPECT_EQ(ports[5].accessProblem, dev + "/ttyS4: Permission denied");
    }
}

TEST(PortList, NothingThereIsAnEmptyList) {
    testing_support::TempDir t;
    EXPECT_TRUE(ListSerialPorts(t.path() + "/dev", t.path() + "/sys").empty());
}

} // namespace
