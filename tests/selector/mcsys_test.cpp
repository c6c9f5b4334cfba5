// Device identification against simulated loaders: the greeting, the query, the device
// table with its lines, bounds and rate changes, the PROCESSOR file of a dry run, program
// blocks and the fatal stops.
#include "selector_fixture.h"

#include <algorithm>

using namespace selector;
using namespace selector_test;

namespace {

std::string Loader(const std::string& code, const std::string& extra = "") {
    return "device L\n  appl_id 0x12\n  loader " + code + "\n" + extra + "end\nchannel 1 L\n";
}

class Identify : public SelectorTest {
protected:
    Identify() { McSys().PrintMask = 1; }

    // The time a byte was put on the wire (the PC's) or arrived (the MC's), in ms.
    double SentAtMs(std::uint8_t b) const {
        for (const auto& e : bench->Sim().Traffic()) {
            if (e.direction == sim::TrafficEntry::Direction::ToMc && e.byte == b) {
                return e.startNs / 1e6;
            }
        }
        return -1;
    }
    double ArrivedAtMs(std::uint8_t b) const {
        for (const auto& e : bench->Sim().Traffic()) {
            if (e.direction == sim::TrafficEntry::Direction::ToPc && e.heard && e.byte == b) {
                return e.endNs / 1e6;
            }
        }
        return -1;
    }
};

TEST_F(Identify, TheGreetingOnTheSecondAttemptIsFollowedByTheQueryAtOnce) {
    // The loader greets 200 ms after the reset: the first 150 ms attempt misses it.
    Bench(Loader("0x34", "  boot_ms 200\n"));
    ASSERT_TRUE(IdentifyDevice(1, false));
    EXPECT_EQ(bench->Sent(), Bytes{0xA5});
    EXPECT_EQ(bench->Received(), (Bytes{0xAA, 0x34}));
    const double greeting = ArrivedAtMs(0xAA);
    const double query = SentAtMs(0xA5);
    ASSERT_GT(greeting, 0);
    EXPECT_GE(query, greeting);
    EXPECT_LT(query - greeting, 2.0);
    EXPECT_EQ(McSys().DeviceCode, 0x34);
    EXPECT_EQ(Out(), "connected to device : Veskant (PIC 16F870 loading)\n");
    EXPECT_EQ(McSys().DevRangeLow, 120);
    EXPECT_EQ(McSys().DevLimit, 0x0DA0);
    EXPECT_EQ(McSys().DevRangeHigh, 126);
    EXPECT_EQ(McSys().DevLimit2, 0xFFFF);
    EXPECT_EQ(McSys().DevLimit3, 0x7FFF);
    EXPECT_EQ(comlink::BaudRate(), 9600);
    EXPECT_TRUE(Fatals().empty());
}

TEST_F(Identify, WithoutAGreetingASecondResetComesAndTheQueryStillGoesOut) {
    // A board without a loader: its application answers 0xA5 with the byte at 0xA5.
    Bench("device A\n  appl_id 0x12\n  mem 0xA5 0x31\nend\nchannel 1 A\n");
    const auto start = NowMs();
    ASSERT_TRUE(IdentifyDevice(1, false));
    EXPECT_EQ(bench->Sent(), Bytes{0xA5});
    // Reset (130 ms), two attempts (300 ms), reset and wait (280 ms) before the query.
    EXPECT_GE(SentAtMs(0xA5) - start, 130.0 + 300.0 + 280.0);
    EXPECT_EQ(McSys().DeviceCode, 0x31);
    EXPECT_EQ(McSys().DevLimit3, 0x4000);
    EXPECT_EQ(Out(), "connected to device : Quilast for PIC 16F684\n");
}

TEST_F(Identify, AnotherByteInsteadOfTheGreetingCountsAsAFailedAttempt) {
    auto code34 = [](std::uint8_t b) -> std::optional<std::uint8_t> {
        return b == 0xA5 ? std::optional<std::uint8_t>(0x34) : std::nullopt;
    };
    auto resets = [](const testing_support::FakeSerialLibrary& serial) {
        const auto lines = serial.LineCalls();
        int n = 0;
        for (std::size_t i = 1; i < lines.size(); ++i) {
            n += lines[i - 1] == "DTR 0" && lines[i] == "RTS 0";
        }
        return n;
    };
    {
        // The attempts begin once the reset is over (130 ms): a stray byte spoils the first,
        // the greeting comes in the second.
        ScriptedLink link(code34);
        link.Serial().Arrive(0x55, 200);
        link.Serial().Arrive(0xAA, 250);
        ASSERT_TRUE(IdentifyDevice(1, false));
        EXPECT_EQ(link.Sent(), Bytes{0xA5});
        EXPECT_EQ(McSys().DeviceCode, 0x34);
        EXPECT_EQ(resets(link.Serial()), 1);
    }
    {
        // Two stray bytes and no greeting: a second reset before the query.
        ScriptedLink link(code34);
        link.Serial().Arrive(0x55, 200);
        link.Serial().Arrive(0x66, 210);
        ASSERT_TRUE(IdentifyDevice(1, false));
        EXPECT_EQ(link.Sent(), Bytes{0xA5});
        EXPECT_EQ(resets(link.Serial()), 2);
    }
}

TEST_F(Identify, FasterLoadersChangeTheRateAndTheirCode) {
    Bench(Loader("0x36"));
    ASSERT_TRUE(IdentifyDevice(1, false));
    EXPECT_EQ(McSys().DeviceCode, 0x32);
    EXPECT_EQ(comlink::BaudRate(), 19200);
    EXPECT_EQ(Out(), "connected to device : Pelmarin 19200 Baud (PIC 16F87x loading)\n");
    // The loader is listening at 19200 now: a program block gets through.
    ProgBlock block;
    block.Count = 2;
    block.AddrHi = 0x01;
    block.Data[0] = 0xAB;
    block.Data[1] = 0xCD;
    EXPECT_EQ(SendProgBlock(block), 0);
    EXPECT_EQ(bench->Sim().DeviceAt(1)->Flash()[0x100], 0xAB);

    console.str("");
    Bench(Loader("0x42"));
    ASSERT_TRUE(IdentifyDevice(1, false));
    EXPECT_EQ(McSys().DeviceCode, 0x30);
    EXPECT_EQ(comlink::BaudRate(), 28800);
    EXPECT_EQ(Out(), "connected to device : Quilast for PIC 17C75X, 28800 Baud\n");
}

TEST_F(Identify, CodeZeroIsNothingOrAnErrorAsAsked) {
    Bench(Loader("0x00"));
    McSys().DevRangeLow = 1;
    McSys().DevLimit = 2;
    McSys().DevRangeHigh = 3;
    McSys().DevLimit2 = 4;
    McSys().DevLimit3 = 5;
    ASSERT_TRUE(IdentifyDevice(1, false));
    EXPECT_EQ(McSys().DeviceCode, 0);
    EXPECT_EQ(McSys().DevRangeLow, 1);
    EXPECT_EQ(McSys().DevLimit, 2);
    EXPECT_EQ(McSys().DevRangeHigh, 3);
    EXPECT_EQ(McSys().DevLimit2, 4);
    EXPECT_EQ(McSys().DevLimit3, 0x7FFF);
    EXPECT_EQ(Out(), "");
    EXPECT_TRUE(Fatals().empty());

    EXPECT_FALSE(IdentifyDevice(1, true));
    EXPECT_EQ(Fatals(), std::vector<std::string>{"connected to unknown device : $00"});
}

TEST_F(Identify, AnUnknownCodeEndsTheProgram) {
    Bench(Loader("0x13"));
    McSys().RecordNo = 7;
    EXPECT_FALSE(IdentifyDevice(1, false));
    EXPECT_EQ(Fatals(), std::vector<std::string>{"Record    7: connected to unknown device : $13"});
    // The stop writes an empty line before and after, and leaves the link closed.
    EXPECT_EQ(Out(), "\n\n");
    EXPECT_TRUE(comlink::LinkDown());
}

TEST_F(Identify, NoAnswerToTheQueryEndsTheProgram) {
    Bench("channel 1 none\n");
    EXPECT_FALSE(IdentifyDevice(1, false));
    EXPECT_EQ(Fatals(), std::vector<std::string>{"no answer from MC"});
    EXPECT_EQ(bench->Sent(), Bytes{0xA5});
    EXPECT_TRUE(bench->Received().empty());
}

TEST_F(Identify, AFixedProtocolExchangesNothing) {
    Bench(Loader("0x50"));
    McSys().FixedProtocol = true;
    McSys().DevLimit3 = 5;
    ASSERT_TRUE(IdentifyDevice(1, false));
    EXPECT_TRUE(bench->Sim().Traffic().empty());
    EXPECT_EQ(McSys().DeviceCode, 0xF8);
    EXPECT_EQ(McSys().DevRangeLow, 0x2000);
    EXPECT_EQ(McSys().DevLimit, 0xFFFF);
    EXPECT_EQ(McSys().DevRangeHigh, 0xFFFF);
    EXPECT_EQ(McSys().DevLimit2, 0xFFFF);
    EXPECT_EQ(McSys().DevLimit3, 5);
    EXPECT_EQ(Out(), "");
}

TEST_F(Identify, ADryRunTakesTheDeviceFromTheProcessorFile) {
    Bench(Loader("0x34"));
    McSys().NoLink = true;
    McSys().ProcessorFile = dir.Write("main.asm", "; board X\n\n\tPROCESSOR 18F452 ; cpu\n");
    ASSERT_TRUE(IdentifyDevice(1, false));
    EXPECT_TRUE(bench->Sim().Traffic().empty());
    EXPECT_EQ(McSys().DeviceCode, 0x50);
    EXPECT_EQ(McSys().DevLimit, 0x7D00);
    EXPECT_EQ(Out(), "connected to device : Lorpeth 19200 Baud (PIC 18Fxx2 loading)\n");
}

TEST_F(Identify, InitTurnsTheDryRunOnWithoutAPort) {
    McSys().DeviceCode = 9;
    {
        ScriptedLink link([](std::uint8_t) { return std::nullopt; });
        InitMcSys();
        EXPECT_FALSE(McSys().NoLink);
        EXPECT_EQ(McSys().DeviceCode, 0);
    }
    testing_support::ParamGuard params;
    foundation::ReadParamFile(dir.Write("param.ini", "[COM]\n0\n"));
    comlink::InitLink();
    InitMcSys();
    EXPECT_TRUE(McSys().NoLink);
    EXPECT_EQ(McSys().PrintMask, 0);
    comlink::ResetLink();
}

TEST_F(Identify, TheConsoleLineNeedsPrintLevelAndMaskInCommon) {
    Bench(Loader("0x34"));
    McSys().PrintMask = 2;
    ASSERT_TRUE(IdentifyDevice(1, false));
    EXPECT_EQ(Out(), "");
    McSys().DeviceCode = 0x34;
    ASSERT_TRUE(MapDeviceCode(3, false));
    EXPECT_EQ(Out(), "connected to device : Veskant (PIC 16F870 loading)\n");
}

struct Row {
    std::uint8_t code;
    const char* line;
    std::int32_t low, limit, high, limit2, limit3;
    std::uint16_t baud;
    std::uint8_t codeAfter;
};

const Row kTable[] = {
    {0x11, "Fendaro with EPROM", 0, 0xFFFF, 0x7FFF, 0xFFFF, 0x7FFF, 9600, 0x11},
    {0x12, "Fendaro with EEPROM X88C64", 4088, 0xFFFF, 0xFFFF, 0xFFFF, 0x7FFF, 9600, 0x12},
    {0x20, "Fendaro with EEPROM X88C64 / V2.0", 110, 0x1C00, 175, 0xFFFF, 0x7FFF, 9600, 0x20},
    {0x2A, "Orimel with EEPROM X88C64", 110, 0x1E80, 175, 0xFFFF, 0x7FFF, 9600, 0x2A},
    {0x2B, "Orimel with EEPROM X88C64, block write", 0xFFFF, 0x1F00, 0xFFFF, 0xFFFF, 0x7FFF, 9600,
     0x2B},
    {0x30, "Quilast for PIC 17C75X", 0xFFFF, 0x4000, 0xFFFF, 0xFFFF, 0x7FFF, 9600, 0x30},
    {0x31, "Quilast for PIC 16F684", 0xFFFF, 0x1000, 0xFFFF, 0xFFFF, 0x4000, 9600, 0x31},
    {0x32, "Pelmarin (PIC 16F87x loading)", 120, 0x3D00, 126, 0xFFFF, 0x7FFF, 9600, 0x32},
    {0x34, "Veskant (PIC 16F870 loading)", 120, 0x0DA0, 126, 0xFFFF, 0x7FFF, 9600, 0x34},
    {0x36, "Pelmarin 19200 Baud (PIC 16F87x loading)", 120, 0x3D00, 126, 0xFFFF, 0x7FFF, 19200,
     0x32},
    {0x40, "Quilast for PIC 17C75X, 19200 Baud", 0xFFFF, 0x4000, 0xFFFF, 0xFFFF, 0x7FFF, 19200,
     0x30},
    {0x42, "Quilast for PIC 17C75X, 28800 Baud", 0xFFFF, 0x4000, 0xFFFF, 0xFFFF, 0x7FFF, 28800,
     0x30},
    {0x50, "Lorpeth 19200 Baud (PIC 18Fxx2 loading)", 0, 0x7D00, 511, 0xFFFF, 0x7FFF, 19200, 0x50},
    {0x55, "Tamselo 19200 Baud (PIC 18Fxx31 loading)", 0, 0x4000, 511, 0xFFFF, 0x7FFF, 19200, 0x55},
    {0x57, "Gandoral 19200 Baud (PIC 18F1320 loading)", 0, 0x1E00, 511, 0xFFFF, 0x7FFF, 19200,
     0x57},
};

TEST_F(Identify, TheWholeDeviceTable) {
    Bench("channel 1 none\n");
    for (const Row& row : kTable) {
        console.str("");
        comlink::SetBaud(9600);
        McSys().DeviceCode = row.code;
        McSys().DevLimit3 = 1;
        ASSERT_TRUE(MapDeviceCode(1, true)) << int{row.code};
        EXPECT_EQ(Out(), std::string("connected to device : ") + row.line + "\n");
        EXPECT_EQ(McSys().DevRangeLow, row.low) << int{row.code};
        EXPECT_EQ(McSys().DevLimit, row.limit) << int{row.code};
        EXPECT_EQ(McSys().DevRangeHigh, row.high) << int{row.code};
        EXPECT_EQ(McSys().DevLimit2, row.limit2) << int{row.code};
        EXPECT_EQ(McSys().DevLimit3, row.limit3) << int{row.code};
        EXPECT_EQ(comlink::BaudRate(), row.baud) << int{row.code};
        EXPECT_EQ(McSys().DeviceCode, row.codeAfter) << int{row.code};
    }
    // The larger flash limit of two PIC18 loaders.
    McSys().LargeFlash = true;
    for (auto [code, limit] : {std::pair{0x50, 0x8000}, {0x55, 0x4000}, {0x57, 0x2000}}) {
        McSys().DeviceCode = static_cast<std::uint8_t>(code);
        ASSERT_TRUE(MapDeviceCode(1, false));
        EXPECT_EQ(McSys().DevLimit, limit) << code;
    }
    // Every code the table does not know stops the program with its two digits.
    McSys().PrintMask = 0;
    int unknown = 0;
    for (int code = 1; code < 256; ++code) {
        if (std::none_of(std::begin(kTable), std::end(kTable),
                         [&](const Row& r) { return r.code == code; })) {
            McSys().DeviceCode = static_cast<std::uint8_t>(code);
            EXPECT_FALSE(MapDeviceCode(1, false));
            ++unknown;
        }
    }
    ASSERT_EQ(Fatals().size(), static_cast<std::size_t>(unknown));
    EXPECT_EQ(Fatals().front(), "connected to unknown device : $01");
    EXPECT_EQ(Fatals().back(), "connected to unknown device : $FF");
}

// A console that notes, when a line is flushed, where the bounds and the rate stood.
class SnoopBuffer : public std::stringbuf {
public:
    std::vector<std::pair<std::int32_t, std::uint16_t>> seen;

protected:
    int sync() override {
        seen.emplace_back(McSys().DevLimit, comlink::BaudRate());
        return std::stringbuf::sync();
    }
};

TEST_F(Identify, EachRowChangesThingsInItsOwnOrder) {
    Bench("channel 1 none\n");
    SnoopBuffer buffer;
    std::ostream snoop(&buffer);
    ScopedConsole use(snoop);
    for (std::uint8_t code : {0x36, 0x42, 0x50}) {
        comlink::SetBaud(9600);
        McSys().DevLimit = -1;
        McSys().DeviceCode = code;
        ASSERT_TRUE(MapDeviceCode(1, false));
    }
    ASSERT_EQ(buffer.seen.size(), 3u);
    // 0x36: the line first, then the bounds and the rate.
    EXPECT_EQ(buffer.seen[0], (std::pair<std::int32_t, std::uint16_t>{-1, 9600}));
    // 0x42: the rate first, the line shows it, the bounds after.
    EXPECT_EQ(buffer.seen[1], (std::pair<std::int32_t, std::uint16_t>{-1, 28800}));
    // 0x50: the bounds, the line, then the rate.
    EXPECT_EQ(buffer.seen[2], (std::pair<std::int32_t, std::uint16_t>{0x7D00, 9600}));
    EXPECT_EQ(comlink::BaudRate(), 19200);
}

TEST_F(Identify, ProcessorLines) {
    struct Case {
        const char* text;
        std::uint8_t code;
    };
    const Case cases[] = {
        {"PROCESSOR 16F684\n", 0x31},
        {"PROCESSOR 18F252\n", 0x50},
        {"  PROCESSOR\t18F452\r\n", 0x50},
        {"PROCESSOR 18F4431\n", 0x55},
        {"PROCESSOR 18F1320", 0x57},
        {";PROCESSOR 18F252\nPROCESSOR 16F684\n", 0x31},
        {"; PROCESSOR 18F252\n", 0},
        {"processor 18F252\n", 0},          // case matters
        {"PROCESSOR 18F999\n", 0},          // unknown name
        {"PROCESSOR\nPROCESSOR 18F252", 0}, // the first PROCESSOR line decides
        {"LIST P=18F452\n  PROCESSOR 18F1320 ; the cpu\n", 0x57},
        {"", 0},
    };
    for (const Case& c : cases) {
        McSys().DeviceCode = 0x99;
        McSys().ProcessorFile = dir.Write("cpu.asm", c.text);
        DeviceFromProcessorFile();
        EXPECT_EQ(McSys().DeviceCode, c.code) << c.text;
    }
    McSys().DeviceCode = 0x99;
    McSys().ProcessorFile = dir.path() + "/missing.asm";
    DeviceFromProcessorFile();
    EXPECT_EQ(McSys().DeviceCode, 0);
}

class ProgramBlocks : public SelectorTest {
protected:
    static ProgBlock Block123() {
        ProgBlock block;
        block.Count = 3;
        block.AddrHi = 0x12;
        block.AddrLo = 0x34;
        block.Data[0] = 0x01;
        block.Data[1] = 0x02;
        block.Data[2] = 0x03;
        return block;
    }
};

TEST_F(ProgramBlocks, AllBytesOfABlockAddUpToZero) {
    Bench(Loader("0x50", "  start_in_loader\n"));
    EXPECT_EQ(SendProgBlock(Block123()), 0);
    EXPECT_EQ(bench->Sent(), (Bytes{0x03, 0x12, 0x34, 0x01, 0x02, 0x03, 0xB1}));
    EXPECT_EQ(bench->Received(), Bytes{0x00});
    const auto& flash = bench->Sim().DeviceAt(1)->Flash();
    EXPECT_EQ(flash[0x1234], 0x01);
    EXPECT_EQ(flash[0x1236], 0x03);

    // Nothing to send: no traffic, status 0.
    bench->ClearWire();
    EXPECT_EQ(SendProgBlock(ProgBlock{}), 0);
    EXPECT_TRUE(bench->Sim().Traffic().empty());

    // A count beyond the block's 32 bytes is taken as 32.
    ProgBlock big;
    big.Count = 200;
    big.Data.fill(0x11);
    EXPECT_EQ(SendProgBlock(big), 0);
    const Bytes sent = bench->Sent();
    ASSERT_EQ(sent.size(), 3u + 32u + 1u);
    EXPECT_EQ(sent[0], 32);
}

TEST_F(ProgramBlocks, TheLoadersStatusIsReturned) {
    Bench(Loader("0x50", "  start_in_loader\n") + "fault checksum every 1\n");
    EXPECT_EQ(SendProgBlock(Block123()), 1);
    EXPECT_TRUE(Fatals().empty());
}

TEST_F(ProgramBlocks, AFixedProtocolHandshakesFirst) {
    Bench(Loader("0x50", "  start_in_loader\n  eeprom_mode block19200\n"));
    McSys().FixedProtocol = true;
    EXPECT_EQ(SendProgBlock(Block123()), 0);
    EXPECT_EQ(bench->Sent(), (Bytes{0xF8, 0x03, 0x12, 0x34, 0x01, 0x02, 0x03, 0xB1}));
    EXPECT_EQ(bench->Sim().DeviceAt(1)->Flash()[0x1235], 0x02);
    EXPECT_EQ(comlink::BaudRate(), 9600);

    Bench(Loader("0x50", "  start_in_loader\n  eeprom_mode none\n"));
    EXPECT_EQ(SendProgBlock(Block123()), 0xFF);
    EXPECT_EQ(Fatals(), std::vector<std::string>{"no answer from MC, can not access EEProm"});

    bench.reset();
    ScriptedLink link([](std::uint8_t b) -> std::optional<std::uint8_t> {
        return b == 0xF8 ? std::optional<std::uint8_t>(0x43) : std::nullopt;
    });
    std::uint8_t status = 0;
    EXPECT_FALSE(SendProgBlock(Block123(), status));
    ASSERT_EQ(Fatals().size(), 2u);
    EXPECT_EQ(Fatals()[1], "MCU returns wrong code or is busy, can not access EEProm");
    EXPECT_EQ(link.Sent(), Bytes{0xF8});
}

TEST_F(ProgramBlocks, ADryRunSendsNothingEvenWithAFixedProtocol) {
    Bench(Loader("0x50", "  start_in_loader\n"));
    McSys().NoLink = true;
    McSys().FixedProtocol = true;
    EXPECT_EQ(SendProgBlock(Block123()), 0);
    EXPECT_TRUE(bench->Sim().Traffic().empty());
    EXPECT_TRUE(Fatals().empty());
}

TEST_F(ProgramBlocks, ASilentLoaderEndsTheProgram) {
    Bench("channel 1 none\n");
    const auto start = NowMs();
    EXPECT_EQ(SendProgBlock(Block123()), 0xFF);
    EXPECT_EQ(Fatals(), std::vector<std::string>{"no answer from MC"});
    // The stop resets the MC (130 + 150 ms) and sounds its tone for 500 ms first.
    EXPECT_GE(NowMs() - start, 500u + 280u + 500u);
    EXPECT_TRUE(comlink::LinkDown());
}

TEST(FatalStopText, RecordNumbersAreRightAlignedInFourCharacters) {
    ResetMcSys();
    EXPECT_EQ(FatalStopText("no answer from MC"), "no answer from MC");
    McSys().RecordNo = 7;
    EXPECT_EQ(FatalStopText("x"), "Record    7: x");
    McSys().RecordNo = 1234;
    EXPECT_EQ(FatalStopText("x"), "Record 1234: x");
    McSys().RecordNo = 12345;
    EXPECT_EQ(FatalStopText("x"), "Record 1234: x");
    ResetMcSys();
}

} // namespace
