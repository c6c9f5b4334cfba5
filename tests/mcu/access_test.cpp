// Reads, writes and streaming against the simulated MC over the in-memory link, asserting the
// bytes on the wire.
#include "foundation/params.h"
#include "mcu/access.h"
#include "mcu/ident.h"
#include "mcu/vartable.h"
#include "sim_link.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <functional>

using namespace mcu;
using Bytes = std::vector<std::uint8_t>;

namespace {

const char* kObjectMode = R"(
device MOTOR
  appl_id 0x12
  var SPEED 0x30
  var STATUS 0x31
  var COM_VARX 0x47
  var X 0x20 counter 10
  mem 0x30 0x11 0x22
  mem 0xDF 0xDF
  mem 0xE0 0xE0
  mem 0x123 0x23
  mem 0x7FF 0x7F
end
channel 1 MOTOR
)";

class AccessTest : public ::testing::Test {
protected:
    void Open(const char* scenario, const std::string& adr, bool adrMode) {
        bench.reset(); // one bench at a time: each installs the link and the clock
        ResetMcuModule();
        bench = std::make_unique<testing_support::SimBench>(scenario);
        appl = MCAppl{};
        appl.channel = 1;
        appl.baudRate = 9600;
        appl.adrMode = adrMode;
        ASSERT_TRUE(LoadAddressFile(appl, dir.Write("appl.ADR", adr))) << appl.errorText;
        appl.opened = true;
        bench->ClearWire();
    }
    std::uint8_t Mem(std::uint32_t address) { return bench->Sim().DeviceAt(1)->Memory(address); }
    Bytes Memory() {
        Bytes all(sim::kMemorySize);
        for (std::uint32_t a = 0; a < sim::kMemorySize; ++a) {
            all[a] = Mem(a);
        }
        return all;
    }

    testing_support::TempDir dir;
    std::unique_ptr<testing_support::SimBench> bench;
    MCAppl appl;
};

TEST_F(AccessTest, ReadPathsChoosePagesByAddress) {
    Open(kObjectMode, "SPEED $30\n", false);
    struct Case {
        std::uint16_t address;
        std::uint8_t offset;
        Bytes sent;
        Bytes received;
    };
    const Case cases[] = {
        {0x00DF, 0, {0xDF}, {0xDF}},
        {0x00E0, 0, {0xF0, 0xE0}, {0x00, 0xE0}}, // page 0 selected explicitly
        {0x0123, 0, {0xF1, 0x23}, {0x10, 0x23}},
        {0x0120, 3, {0xF1, 0x23}, {0x10, 0x23}}, // the offset is added first
        {0x0FFF, 0, {0xF7, 0xFF}, {0x70, 0x7F}}, // pages above 7 are sent as 7
        {0x07FE, 1, {0xF7, 0xFF}, {0x70, 0x7F}},
    };
    for (const auto& c : cases) {
        bench->ClearWire();
        std::uint8_t value = 0;
        EXPECT_TRUE(ReadVariable(appl, c.address, c.offset, value)) << c.address;
        EXPECT_EQ(bench->Sent(), c.sent) << c.address;
        EXPECT_EQ(bench->Received(), c.received) << c.address;
        EXPECT_EQ(value, c.received.back()) << c.address;
    }
    EXPECT_EQ(appl.errorCount, 0);
    EXPECT_EQ(appl.transferCount, 6);
}

TEST_F(AccessTest, WrongPageEchoesFailThreeTries) {
    Open((std::string(kObjectMode) + "fault echo every 1\n").c_str(), "SPEED $30\n", false);
    std::uint8_t value = 0xAA;
    EXPECT_FALSE(ReadVariable(appl, 0x0123, 0, value));
    EXPECT_EQ(value, 0);
    EXPECT_EQ(appl.errorCount, 3);
    EXPECT_EQ(appl.errorText, "Error during reading MC variable");
    EXPECT_EQ(bench->Sent(), (Bytes{0xF1, 0xF1, 0xF1}));
    EXPECT_EQ(appl.transferCount, 1); // counted even when it failed
}

TEST_F(AccessTest, SilentMcTimesOutAfterThreeTriesOf250ms) {
    Open("device M\n appl_id 1\nend\nchannel 2 M\n", "A 1\n", false);
    const auto start = bench->Clock().NowUs();
    std::uint8_t value = 0;
    EXPECT_FALSE(ReadVariable(appl, 0x10, 0, value));
    const auto elapsedMs = (bench->Clock().NowUs() - start) / 1000;
    EXPECT_GE(elapsedMs, 750u);
    EXPECT_LT(elapsedMs, 800u);
    EXPECT_EQ(appl.errorCount, 3);
}

TEST_F(AccessTest, WriteWithoutAdrModeUsesBase80) {
    Open(kObjectMode, "SPEED $30\nSTATUS $31\nHIGH $100\n", false);
    EXPECT_TRUE(SetVariable(appl, "SPEED", 0, 0x55));
    EXPECT_EQ(bench->Sent(), (Bytes{0x07, 0xB0, 0x55}));
    EXPECT_EQ(bench->Received(), (Bytes{0x12, 0x30, 0x55}));
    EXPECT_EQ(Mem(0x30), 0x55);
    EXPECT_EQ(appl.transferCount, 0); // writes are not counted

    bench->ClearWire();
    EXPECT_TRUE(SetVariable(appl, "SPEED", 1, 0x66));
    EXPECT_EQ(Mem(0x31), 0x66);

    // The echo is the address, so a variable from 256 up can never be confirmed.
    bench->ClearWire();
    EXPECT_FALSE(SetVariable(appl, "HIGH", 0, 1));
    EXPECT_EQ(appl.errorText, " Error during set of MC variable HIGH");
    EXPECT_EQ(appl.errorCount, 3);
    // The request would write the low byte's address, and the attention after it the value:
    // nothing but attentions goes out.
    EXPECT_EQ(bench->Sent(), (Bytes{0x07, 0x07, 0x07, 0x07}));
    EXPECT_EQ(Mem(0x00), 0x00);

    EXPECT_FALSE(SetVariable(appl, "NOSUCH", 0, 1));
    EXPECT_EQ(appl.errorText, "Var NOSUCH not defined");

    appl.opened = false;
    appl.errorText = "kept";
    bench->ClearWire();
    EXPECT_FALSE(SetVariable(appl, "SPEED", 0, 1));
    EXPECT_EQ(appl.errorText, "kept");
    EXPECT_TRUE(bench->Sent().empty());
}

const char* kAdrMode = R"(
device DRIVE
  appl_id 0x85
  var COMSET_VAR_BEG 0x40
  var COMSET_VAR_END 0x48
  var COM_VARX 0x47
  var XV 0x20 counter 10
  var TABLE 0x100
  mem 0x100 5 6 7
end
channel 1 DRIVE
)";

TEST_F(AccessTest, AdrModeWriteBaseFollowsComsetVarBeg) {
    Open(kAdrMode, "COMSET_VAR_BEG $40\nCOMSET_VAR_END $48\nDUTY $43\n", true);
    EXPECT_TRUE(SetVariable(appl, "DUTY", 0, 0x99)) << appl.errorText;
    EXPECT_EQ(bench->Sent(), (Bytes{0x07, 0xE3, 0x99}));
    EXPECT_EQ(bench->Received(), (Bytes{0x85, 0x43, 0x99}));
    EXPECT_EQ(Mem(0x43), 0x99);
    EXPECT_EQ(appl.errorText, "");

    // Without COMSET_VAR_BEG the base is 0xC0 and the lookup's message does not remain.
    Open("device D\n appl_id 0x85\n write_base 0xC0\nend\nchannel 1 D\n", "DUTY $13\n", true);
    EXPECT_TRUE(SetVariable(appl, "DUTY", 0, 0x21)) << appl.errorText;
    EXPECT_EQ(bench->Sent(), (Bytes{0x07, 0xD3, 0x21}));
    EXPECT_EQ(appl.errorText, "");
    EXPECT_EQ(Mem(0x13), 0x21);
}

TEST_F(AccessTest, WrongWriteEchoesCountErrorsAndEndWithAttention) {
    Open((std::string(kObjectMode) + "fault echo every 1\n").c_str(), "SPEED $30\n", false);
    std::string longName = "SPEED_WITH_A_VERY_LONG_NAME_INDEED";
    EXPECT_FALSE(SetVariable(appl, "SPEED", 0, 0x55));
    EXPECT_EQ(appl.errorCount, 3);
    EXPECT_EQ(appl.errorText, " Error during set of MC variable SPEED");
    const Bytes sent = bench->Sent();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 0x07), 4);

    std::string adr = longName.substr(0, 20) + " $30\n";
    Open((std::string(kObjectMode) + "fault echo every 1\n").c_str(), adr, false);
    EXPECT_FALSE(SetVariable(appl, longName, 0, 1));
    EXPECT_EQ(appl.errorText, " Error during set of MC variable " + longName.substr(0, 19));
    EXPECT_EQ(appl.errorText.size(), 52u);
}

TEST_F(AccessTest, StreamingSamplesCarryTheXVariable) {
    Open(kAdrMode, "COMSET_VAR_BEG $40\nCOMSET_VAR_END $48\nCOM_VARX $47\nXV $20\nTABLE $100\n",
         true);
    std::uint8_t value = 0;
    std::uint8_t second = 0;
    EXPECT_FALSE(ReadDebugSample(appl, 0x100, 0, value, second)); // not streaming yet
    EXPECT_TRUE(bench->Sent().empty());

    ASSERT_TRUE(SetDebugAddress(appl, "COM_VARX", 0, 0x20)) << appl.errorText;
    EXPECT_TRUE(appl.streamingMode);
    bench->Sim().DeviceAt(1)->SetMemory(0x20, 0x42);
    bench->ClearWire();
    ASSERT_TRUE(ReadDebugSample(appl, 0x100, 1, value, second));
    EXPECT_EQ(bench->Sent(), (Bytes{0x01})); // only the low byte goes out
    EXPECT_EQ(value, bench->Sim().DeviceAt(1)->Memory(0x01));
    EXPECT_EQ(second, bench->Sim().DeviceAt(1)->Memory(0x20));

    // A plain read ends streaming mode first.
    bench->ClearWire();
    ASSERT_TRUE(ReadVariable(appl, 0x100, 2, value));
    EXPECT_FALSE(appl.streamingMode);
    EXPECT_EQ(bench->Sent(), (Bytes{0x07, 0xF1, 0x02}));
    EXPECT_EQ(value, 7);
}

TEST_F(AccessTest, StreamingFailuresEndTheMode) {
    Open((std::string(kAdrMode) + "fault drop every 2\n").c_str(),
         "COMSET_VAR_BEG $40\nCOMSET_VAR_END $48\nCOM_VARX $47\n", true);
    // Every second reply dropped: the attention's id comes, the address echo does not.
    EXPECT_FALSE(SetDebugAddress(appl, "COM_VARX", 0, 0x20));
    EXPECT_FALSE(appl.streamingMode);

    Open(kAdrMode, "COMSET_VAR_BEG $40\nCOMSET_VAR_END $48\nCOM_VARX $47\n", true);
    ASSERT_TRUE(SetDebugAddress(appl, "COM_VARX", 0, 0x20));
    bench->Sim().SetVanished(true, bench->Clock().NowUs());
    std::uint8_t value = 9;
    std::uint8_t second = 0;
    EXPECT_FALSE(ReadDebugSample(appl, 0x10, 0, value, second));
    EXPECT_EQ(value, 0);
    EXPECT_EQ(appl.errorText, "Error during reading MC variable");
    EXPECT_FALSE(appl.streamingMode);
    EXPECT_EQ(appl.errorCount, 0);
}

// Two constants read alternately, as the scope's channels are, while the line adds stray bytes
// or holds replies back past the time-out: each fault spoils at most the sample it lands on and
// the next one. A stray byte that is already waiting when a read begins (the scope draws
// between bursts) spoils nothing.
TEST_F(AccessTest, StrayAndLateBytesNeverMoveValuesToOtherReads) {
    struct Case {
        const char* fault;
        std::uint32_t pauseMs;
        std::uint64_t spoiledPerFault;
    };
    const Case cases[] = {
        {"fault noise every 7", 0, 2},     {"fault noise fraction 0.05", 0, 2},
        {"fault late every 11 300", 0, 2}, {"fault late fraction 0.05 260", 0, 2},
        {"fault noise every 1", 5, 0},
    };
    for (const auto& c : cases) {
        Open((std::string("device M\n appl_id 0x12\n mem 0x30 100 200\nend\nchannel 1 M\n") +
              c.fault + "\n")
                 .c_str(),
             "A $30\n", false);
        std::uint64_t good = 0;
        std::uint64_t wrong = 0;
        for (int i = 0; i < 400; ++i) {
            const bool first = i % 2 == 0;
            bench->Clock().AdvanceMs(c.pauseMs);
            std::uint8_t value = 0;
            if (ReadVariable(appl, first ? 0x30 : 0x31, 0, value)) {
                ++(value == (first ? 100 : 200) ? good : wrong);
            }
        }
        const auto faults = bench->Sim().Counters().noiseBytes + bench->Sim().Counters().late;
        EXPECT_GE(faults, 10u) << c.fault;
        EXPECT_LE(wrong, c.spoiledPerFault * faults) << c.fault;
        EXPECT_GE(good, 300u) << c.fault;
    }
}

// Without pacing every reply beats the wire: after a few waits for a reply proper that never
// comes, the link is known to answer at once and its replies are taken as they come.
TEST_F(AccessTest, ALinkThatAnswersAtOnceIsNotWaitedFor) {
    Open("device M\n appl_id 0x12\n mem 0x30 100 200\nend\nchannel 1 M\n", "A $30\n", false);
    bench->Sim().SetPacing(false);
    const auto start = bench->Clock().NowUs();
    for (int i = 0; i < 200; ++i) {
        std::uint8_t value = 0;
        ASSERT_TRUE(ReadVariable(appl, 0x30 + i % 2, 0, value));
        EXPECT_EQ(value, i % 2 == 0 ? 100 : 200);
    }
    EXPECT_LT(bench->Clock().NowUs() - start, 20000u); // a handful of 3 ms waits, no more
}

// The firmware takes the byte after an attention as a write request when it falls in the write
// range of its base; such a read goes through the explicit page step, every other read keeps
// its bytes, and no MC byte changes.
TEST_F(AccessTest, ReadsAfterAnAttentionAreNeverTakenForWrites) {
    const char* base80 = "device M\n appl_id 0x12\n mem 0x7F 1\n mem 0x90 2\n mem 0xDF 3\n"
                         "end\nchannel 1 M\n";
    const char* baseC0 =
        "device D\n appl_id 0x85\n mem 0xBF 4\n mem 0xC4 5\n mem 0xE8 6\nend\nchannel 1 D\n";
    const char* comset = "device C\n appl_id 0x85\n var COMSET_VAR_BEG 0x40\n write_window 0 0x47\n"
                         " mem 0x9F 7\n mem 0xA3 8\nend\nchannel 1 C\n";
    const auto scope = ProgramKind::Scope;
    const auto selector = ProgramKind::Selector;
    const std::function<void(MCAppl&)> none;
    const std::function<void(MCAppl&)> endStreaming = [](MCAppl& a) { EndDebugAddress(a); };
    const std::function<void(MCAppl&)> failedSet = [](MCAppl& a) {
        EXPECT_FALSE(SetVariable(a, "HIGH", 0, 1)); // ends with its closing attention
    };
    const std::function<void(MCAppl&)> identify = [](MCAppl& a) {
        bool answered = false;
        std::string file;
        EXPECT_TRUE(IdentifyMCAppl(a, answered, file)) << a.errorText;
    };
    const std::function<void(MCAppl&)> selectorStart = [](MCAppl& a) { InitMCAppl(a); };
    struct Case {
        const char* scenario;
        const char* adr;
        bool adrMode;
        ProgramKind kind;
        std::function<void(MCAppl&)> before;
        std::uint16_t address;
        Bytes sent;
    };
    const Case cases[] = {
        {base80, "HIGH $100\n", false, scope, endStreaming, 0x90, {0xF0, 0x90}},
        {base80, "HIGH $100\n", false, scope, failedSet, 0xDF, {0xF0, 0xDF}},
        {base80, "HIGH $100\n", false, scope, identify, 0x90, {0xF0, 0x90}},
        {base80, "HIGH $100\n", false, scope, endStreaming, 0x7F, {0x7F}}, // below the base
        {base80, "HIGH $100\n", false, scope, none, 0x90, {0x90}},
        {baseC0, "HIGH $100\n", true, scope, failedSet, 0xC4, {0xF0, 0xC4}},
        {baseC0, "HIGH $100\n", true, scope, endStreaming, 0xBF, {0xBF}},
        {comset, "COMSET_VAR_BEG $40\n", true, scope, endStreaming, 0xA3, {0xF0, 0xA3}},
        {comset, "COMSET_VAR_BEG $40\n", true, scope, endStreaming, 0x9F, {0x9F}},
        {baseC0, "HIGH $100\n", true, selector, selectorStart, 0xC4, {0xF0, 0xC4}},
        {baseC0, "HIGH $100\n", true, selector, selectorStart, 0xE8, {0xF0, 0xE8}},
        {baseC0, "HIGH $100\n", true, selector, selectorStart, 0xBF, {0xBF}},
        {baseC0, "HIGH $100\n", true, selector, none, 0xC4, {0xC4}},
    };
    ApplIdTable()[0x12] = "M";
    for (const auto& c : cases) {
        const std::string what = std::to_string(&c - cases) + ": " + c.scenario;
        Open(c.scenario, c.adr, c.adrMode);
        SetProgramKind(c.kind);
        const Bytes memory = Memory();
        if (c.before) {
            c.before(appl);
        }
        bench->ClearWire();
        std::uint8_t value = 0;
        EXPECT_TRUE(ReadVariable(appl, c.address, 0, value)) << what;
        EXPECT_EQ(bench->Sent(), c.sent) << what;
        EXPECT_EQ(value, Mem(c.address)) << what;
        EXPECT_NE(value, 0) << what;
        if (c.address < 0xE0) { // the attention is spent: the next read goes straight
            bench->ClearWire();
            EXPECT_TRUE(ReadVariable(appl, c.address, 0, value)) << what;
            EXPECT_EQ(bench->Sent(), Bytes{static_cast<std::uint8_t>(c.address)}) << what;
        }
        EXPECT_EQ(Memory(), memory) << what;
    }
    ApplIdTable().fill("");
}

TEST(CountTransfers, RateIsRefreshedAboutOnceASecond) {
    foundation::FakeClock clock(0xFFFFFF00u); // the tick wraps during the test
    foundation::ScopedTickSource use(clock);
    MCAppl appl;
    appl.rateTick = foundation::TickMs();
    for (int i = 0; i < 100; ++i) {
        CountTransfers(appl, 3);
        clock.AdvanceMs(5);
    }
    EXPECT_EQ(appl.transferRate, 0); // 500 ms: not yet
    EXPECT_EQ(appl.transferCount, 300);
    clock.AdvanceMs(501);
    CountTransfers(appl, 1);
    EXPECT_EQ(appl.transferRate, 300); // 300 in 1001 ms, rounded
    EXPECT_EQ(appl.transferCount, 1);
}

} // namespace
