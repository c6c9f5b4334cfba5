#include "foundation/params.h"
#include "foundation/text_file.h"
#include "sim/dump.h"
#include "sim/scenario.h"
#include "temp_dir.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

namespace {

TEST(Dump, IntelHexOfMarkedBytes) {
    std::vector<std::uint8_t> data(256, 0xFF);
    std::vector<bool> written(256, false);
    data[0x10] = 0x12;
    data[0x11] = 0x34;
    written[0x10] = written[0x11] = true;
    EXPECT_EQ(sim::IntelHex(data, &written), ":020010001234A8\n:00000001FF\n");
    // Records stop at 16-byte boundaries and at unmarked bytes.
    for (int a = 0x1E; a <= 0x22; ++a) {
        data[a] = static_cast<std::uint8_t>(a);
        written[a] = true;
    }
    written[0x21] = false;
    EXPECT_EQ(sim::IntelHex(data, &written),
              ":020010001234A8\n:02001E001E1FA3\n:0100200020BF\n:0100220022BB\n:00000001FF\n");
    EXPECT_EQ(sim::IntelHex({}, nullptr), ":00000001FF\n");
}

TEST(Dump, TrafficLines) {
    sim::TrafficEntry entry;
    entry.direction = sim::TrafficEntry::Direction::ToPc;
    entry.byte = 0xAA;
    entry.channel = 1;
    entry.slot = 3;
    entry.endNs = 1000000 + 2083334;
    entry.heard = false;
    EXPECT_EQ(sim::FormatTraffic(entry, 1000), "    2.083334 ms  ch1/3  MC>PC  AA  (not heard)");
    entry.direction = sim::TrafficEntry::Direction::ToMc;
    entry.channel = 0;
    entry.byte = 0x07;
    EXPECT_EQ(sim::FormatTraffic(entry, 1000), "    2.083334 ms  --     PC>MC  07");
}

// The demo files are read the way the PC side reads them, and must describe the MCs of the
// demo scenario.
struct AdrLine {
    std::string name;
    double address = 0;
    int bit = -1;
};

std::vector<AdrLine> ReadAddressFile(const std::string& path) {
    std::vector<AdrLine> lines;
    foundation::TTextFile tf;
    EXPECT_TRUE(foundation::OpenTextFile(tf, path)) << tf.errorText;
    do {
        AdrLine line;
        EXPECT_TRUE(foundation::NextToken(tf, line.name)) << path << " line " << tf.lineNumber;
        EXPECT_TRUE(foundation::NextNumber(tf, line.address)) << tf.errorText;
        double bit = 0;
        if (foundation::NextNumber(tf, bit)) {
            line.bit = static_cast<int>(bit);
        }
        lines.push_back(line);
    } while (foundation::NextLine(tf));
    foundation::CloseTextFile(tf);
    return lines;
}

class Demo : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim::LoadScenarioFile(dir + "/demo.scenario", scenario, error)) << error;
    }
    std::string dir = DEMO_DIR;
    sim::Scenario scenario;
};

TEST_F(Demo, AddressFilesMatchTheScenario) {
    for (const char* name : {"DEMO", "PUMP", "MIXER"}) {
        const sim::DeviceConfig* device = scenario.FindDevice(name);
        ASSERT_NE(device, nullptr) << name;
        auto lines = ReadAddressFile(dir + "/" + name + ".ADR");
        EXPECT_EQ(lines.size(), device->variables.size()) << name;
        std::set<std::string> names;
        for (const auto& line : lines) {
            names.insert(line.name);
            auto match =
                std::find_if(device->variables.begin(), device->variables.end(),
                             [&](const sim::VariableConfig& v) { return v.name == line.name; });
            ASSERT_NE(match, device->variables.end()) << name << ": " << line.name;
            EXPECT_EQ(match->address, line.address) << line.name;
            EXPECT_EQ(match->bit, line.bit) << line.name;
        }
        EXPECT_EQ(names.size(), lines.size()) << name << " names a variable twice";
    }
}

TEST_F(Demo, TheDemoApplicationHasWhatTheScopeShows) {
    const sim::DeviceConfig& demo = *scenario.FindDevice("DEMO");
    EXPECT_GE(demo.variables.size(), 40u);
    auto find = [&](const std::string& name) -> const sim::VariableConfig* {
        for (const auto& v : demo.variables) {
            if (v.name == name) {
                return &v;
            }
        }
        return nullptr;
    };
    for (const char* keyword : {"USERRAM", "COM_VARX", "COMSET_VAR_BEG", "COMSET_VAR_END"}) {
        EXPECT_NE(find(keyword), nullptr) << keyword;
    }
    // Settable bytes between the markers, COM_VARX among them, written with 0xE0 - begin.
    int begin = find("COMSET_VAR_BEG")->address;
    int end = find("COMSET_VAR_END")->address;
    int settable = 0;
    for (const auto& v : demo.variables) {
        settable +=
            v.bit < 0 && v.address >= begin && v.address < end && v.name.rfind("COM", 0) != 0;
    }
    EXPECT_GE(settable, 2);
    EXPECT_EQ(demo.writeBase, static_cast<std::uint8_t>(0xE0 - begin));
    EXPECT_EQ(demo.comVarx, find("COM_VARX")->address);
    // Something of every kind.
    std::set<sim::WaveKind> kinds;
    int bits = 0;
    for (const auto& v : demo.variables) {
        kinds.insert(v.wave.kind);
        bits += v.bit >= 0 && v.wave.kind == sim::WaveKind::Square;
    }
    for (auto kind : {sim::WaveKind::Sine, sim::WaveKind::Saw, sim::WaveKind::Square,
                      sim::WaveKind::Counter, sim::WaveKind::Walk, sim::WaveKind::Follow}) {
        EXPECT_TRUE(kinds.count(kind)) << static_cast<int>(kind);
    }
    EXPECT_GE(bits, 4);
    // An array (BUF) and variables behind page commands.
    bool array = false;
    bool paged = false;
    for (const auto& m : demo.memory) {
        array = array || (m.address == find("BUF")->address && m.bytes.size() >= 8);
        paged = paged || m.address >= 0x100;
    }
    EXPECT_TRUE(array);
    EXPECT_TRUE(paged);
    EXPECT_EQ(scenario.channels[1].device, "DEMO");
}

TEST_F(Demo, ApplicationIdsNameTheScenarioDevices) {
    // An applid.inc line: the name after the first "_", up to 8 characters; the id is the
    // decimal number after the last blank; ";" starts a comment.
    std::ifstream in(dir + "/applid.inc");
    std::string line;
    std::map<std::string, int> ids;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find(';'));
        auto blank = line.find_last_of(" \t");
        if (line.empty() || blank == std::string::npos) {
            continue;
        }
        auto underscore = line.find('_');
        std::string name = line.substr(underscore == std::string::npos ? 0 : underscore + 1, 8);
        name = name.substr(0, name.find_first_of(" \t"));
        ids[name] = std::stoi(line.substr(blank + 1));
    }
    for (const auto& device : scenario.devices) {
        ASSERT_TRUE(ids.count(device.name)) << device.name;
        EXPECT_EQ(ids[device.name], device.applId) << device.name;
        EXPECT_GE(device.applId, 0x80) << device.name << " must use its address file";
    }
}

TEST_F(Demo, ConversionFileNamesDemoVariables) {
    auto variables = ReadAddressFile(dir + "/DEMO.ADR");
    std::ifstream in(dir + "/DEMO.ADR.cvt");
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, unit;
        double factor = 0, offset = 0;
        ASSERT_TRUE(fields >> name >> factor >> offset >> unit) << line;
        EXPECT_LE(unit.size(), 5u) << line;
        EXPECT_TRUE(std::any_of(variables.begin(), variables.end(), [&](const AdrLine& v) {
            return v.name == name;
        })) << name;
        ++lines;
    }
    EXPECT_GE(lines, 3);
}

TEST_F(Demo, ParameterTemplateNamesTheLinkAndTheDemoFolder) {
    testing_support::ParamGuard guard;
    foundation::SetProgramPaths("/opt/ombrix/bin/ombrix");
    ASSERT_TRUE(foundation::ReadParamFile(dir + "/param.ini"));
    std::string value;
    ASSERT_TRUE(foundation::GetParam("COM", value));
    EXPECT_EQ(value, "/tmp/ombrix-demo/mc");
    ASSERT_TRUE(foundation::GetParam("COM_DEBUG", value));
    EXPECT_EQ(value, "");
    ASSERT_TRUE(foundation::GetParam("FILE_PATH", value));
    EXPECT_EQ(value, "/opt/ombrix/demo");
}

} // namespace
