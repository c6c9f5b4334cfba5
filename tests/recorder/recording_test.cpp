// Recording: the engine's batches through the CSV writer into a file, stepped under the fake
// clock against the simulated MC, and the file read back as any reader would read it.
#include "engine_bench.h"
#include "recording_files.h"
#include "temp_dir.h"
#include "wire_stubs.h"

#include "acquisition/channel_name.h"
#include "acquisition/sampling.h"
#include "recorder/csv_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <set>

using namespace acq;
using acquisition_testing::EngineBench;

namespace {

using Row = testing_support::CsvRow;
using testing_support::ReadCsvFile;

double Seconds(const std::string& field) {
    // Six decimals, "." as decimal mark.
    const auto dot = field.find('.');
    EXPECT_EQ(field.size() - dot, 7u) << field;
    return std::stod(field);
}

class RecordingTest : public ::testing::Test {
protected:
    // The channels take the names as a box would, the x-variable first when given.
    RecordLayout Use(const std::vector<std::string>& names, const std::string& x = "") {
        RecordLayout layout;
        layout.xMode = !x.empty();
        auto use = [&](int channel, const std::string& name) {
            ResolvedChannel r;
            EXPECT_TRUE(ResolveChannelName(bench.Opened().variables, name, r)) << name;
            bench.Engine().Post(UseVariable{channel, r.address, r.mask});
            if (channel > 0) {
                layout.channels.push_back(MakeRecordChannel(channel, name, r.mask, r.variable));
            }
        };
        if (layout.xMode) {
            use(0, x);
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            use(static_cast<int>(i) + 1, names[i]);
        }
        return layout;
    }
    void Start(const RecordLayout& layout) {
        std::string error;
        started = SteadyUs();
        ASSERT_TRUE(recorder.Start(file, layout, started, 0, error)) << error;
    }
    // Steps for ms of fake time, every batch into the recording; the scans that had a reply.
    void Record(std::uint64_t ms) {
        const std::uint64_t end = bench.Us() + ms * 1000;
        while (bench.Us() < end) {
            const Batch b = bench.Step();
            recorder.Feed(b);
            for (const Sample& s : b.samples) {
                scans.insert(s.scan);
                samples.push_back(s);
            }
            bench.Clock().AdvanceMs(bench.wait.value_or(10));
        }
    }

    EngineBench bench;
    testing_support::TempDir dir;
    std::string file = dir.path() + "/rec.csv";
    CsvRecorder recorder;
    std::int64_t started = 0;
    std::set<std::uint64_t> scans;
    std::vector<Sample> samples;
};

TEST_F(RecordingTest, HeaderConversionsBitsAndOneRowPerScanInTheOrderOfTime) {
    const RecordLayout layout = Use({"SINE", "BUF[4]", "COUNTER.3"});
    bench.Step(); // the selections, before the recording
    Start(layout);
    Record(400);
    ASSERT_TRUE(recorder.Stop()) << recorder.Error();

    const std::vector<Row> rows = ReadCsvFile(file);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], (Row{"time_s", "SINE", "SINE [V]", "BUF[4]", "COUNTER.3"}));
    ASSERT_EQ(rows.size() - 1, scans.size());
    EXPECT_EQ(recorder.Rows(), scans.size());
    std::set<std::string> bits;
    double last = -1;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const Row& r = rows[i];
        ASSERT_EQ(r.size(), 5u) << i;
        const double t = Seconds(r[0]);
        EXPECT_GT(t, last) << i;
        last = t;
        const int sine = std::stoi(r[1]);
        EXPECT_EQ(r[2], CsvNumber(sine * 0.1 - 12.8)) << i;
        EXPECT_EQ(r[3], "16") << i; // BUF + 4 holds 4 x 4
        bits.insert(r[4]);
    }
    EXPECT_EQ(bits, (std::set<std::string>{"0", "1"}));
    // 400 ms of scans of three reads each, the first one right at the start.
    EXPECT_LT(Seconds(rows[1][0]), 0.01);
    EXPECT_NEAR(last, 0.4, 0.05);
}

TEST_F(RecordingTest, AFailedReadIsAnEmptyFieldAndAPauseOrASilentMcIsAGapWithoutRows) {
    testing_support::PluggableLink link{bench.Sim().Serial()};
    const RecordLayout layout = Use({"PORT2", "SAW"});
    bench.Step();
    Start(layout);
    // Most of the MC's replies lost: a read fails when its three tries all do.
    sim::FaultConfig faults;
    faults.drop.fraction = 0.6;
    bench.Sim().Sim().SetFaults(faults);
    Record(20000);
    bench.Sim().Sim().SetFaults({});
    Record(100);
    // Seconds of the recording when the run flag dropped and came back, when the MC fell
    // silent and answered again.
    const double start = static_cast<double>(started);
    auto now = [&] { return (static_cast<double>(SteadyUs()) - start) / 1e6; };
    const double paused = now();
    bench.Engine().Post(SwitchChannel{1, false});
    Record(2000);
    const double resumed = now();
    bench.Engine().Post(SwitchChannel{1, true});
    Record(100);
    const double muted = now();
    link.Mute(true);
    Record(1000);
    const double unmuted = now();
    link.Mute(false);
    Record(100);
    ASSERT_TRUE(recorder.Stop()) << recorder.Error();

    const std::vector<Row> rows = ReadCsvFile(file);
    ASSERT_EQ(rows.size() - 1, scans.size());
    int empty = 0;
    std::vector<double> times;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const Row& r = rows[i];
        ASSERT_EQ(r.size(), 3u) << i;
        // Never a repeated or made-up value: the constant, or nothing.
        EXPECT_TRUE(r[1] == "165" || r[1].empty()) << i << ": " << r[1];
        EXPECT_FALSE(r[1].empty() && r[2].empty()) << "a row without a reply: " << i;
        empty += r[1].empty() ? 1 : 0;
        empty += r[2].empty() ? 1 : 0;
        times.push_back(Seconds(r[0]));
    }
    EXPECT_GT(empty, 3);
    // The pause and the silence are gaps: no row inside, rows right before and after.
    for (const auto& [from, to] : {std::pair{paused, resumed}, std::pair{muted, unmuted}}) {
        const auto after = std::lower_bound(times.begin(), times.end(), from);
        ASSERT_NE(after, times.begin());
        ASSERT_NE(after, times.end());
        EXPECT_GE(*after, to);
        EXPECT_LT(*after - to, 0.05);
        EXPECT_LT(from - *(after - 1), 0.05);
    }
    // Every failed read left its channel out of the scan, which is what the file shows.
    std::map<std::uint64_t, int> perScan;
    for (const Sample& s : samples) {
        ++perScan[s.scan];
    }
    int missing = 0;
    for (const auto& [scan, n] : perScan) {
        missing += 2 - n;
    }
    EXPECT_EQ(empty, missing);
}

TEST_F(RecordingTest, XyRowsCarryTheSampleIndexTheMcStreamsWithEachValue) {
    const RecordLayout layout = Use({"SPEED"}, "ANGLE");
    bench.Step();
    Start(layout);
    Record(600);
    ASSERT_TRUE(recorder.Stop()) << recorder.Error();
    const std::vector<Row> rows = ReadCsvFile(file);
    ASSERT_GT(rows.size(), 10u);
    EXPECT_EQ(rows[0], (Row{"time_s", "x", "SPEED", "SPEED [rpm]"}));
    std::set<std::string> xs;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 4u);
        const int x = std::stoi(rows[i][1]);
        EXPECT_TRUE(x >= 0 && x <= 255);
        xs.insert(rows[i][1]);
        EXPECT_EQ(rows[i][3], CsvNumber(std::stoi(rows[i][2]) * 12.5)) << i;
    }
    EXPECT_GT(xs.size(), 5u);
    ASSERT_EQ(rows.size() - 1, scans.size());
}

TEST(CsvText, FieldsAndNumbersReadBackAsWritten) {
    const std::vector<std::pair<std::string, std::string>> fields = {
        {"SINE", "SINE"},
        {"BUF[4]", "BUF[4]"},
        {"A,B [V]", "\"A,B [V]\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
    };
    for (const auto& [text, field] : fields) {
        EXPECT_EQ(CsvField(text), field);
    }
    const std::vector<std::pair<double, std::string>> numbers = {
        {200 * 0.1 - 12.8, "7.2"}, {0 * 0.1 - 12.8, "-12.8"}, {255 * 12.5, "3187.5"},
        {0.0 * -1, "0"},           {1e-7, "1e-07"},           {123456789.0, "123456789"},
    };
    for (const auto& [value, text] : numbers) {
        EXPECT_EQ(CsvNumber(value), text);
    }
    // Bits are 0/1 without a conversion; bytes of a converted variable get one.
    mcu::MCVar sine{"SINE", 0x30, 0, 0.1, -12.8, "V", false};
    EXPECT_TRUE(MakeRecordChannel(1, "SINE", 0, &sine).converted);
    EXPECT_FALSE(MakeRecordChannel(1, "SINE.7", 0x80, &sine).converted);
    EXPECT_FALSE(MakeRecordChannel(1, "$30", 0, nullptr).converted);
    mcu::MCVar plain{"SAW", 0x31, 0, 1.0, 0.0, "1", false};
    EXPECT_FALSE(HasConversion(plain));
}

// Signed, 32-bit and float variables of an SDCC application through the engine and the writer
// into the file, in both byte orders: written whole, converted from the whole value.
TEST(TypedRecording, SignedWideAndFloatValuesAreWrittenWhole) {
    for (const bool big : {false, true}) {
        acquisition_testing::KilnBench bench(big);
        RecordLayout layout;
        int channel = 0;
        for (const std::string name : {"SPEED", "GAIN", "TOTAL:I32"}) {
            ResolvedChannel r;
            ASSERT_TRUE(ResolveChannelName(bench.Opened().variables, name, r)) << name;
            bench.Engine().Post(UseVariable{++channel, r.address, r.mask, r.type});
            layout.channels.push_back(MakeRecordChannel(channel, name, r.mask, r.variable, r.type));
        }
        bench.Step();
        testing_support::TempDir dir;
        const std::string file = dir.path() + "/typed.csv";
        CsvRecorder recorder;
        std::string error;
        ASSERT_TRUE(recorder.Start(file, layout, SteadyUs(), 0, error)) << error;
        // A scan takes 13 reads (two, four and two bytes), longer than a burst.
        for (int i = 0; i < 30; ++i) {
            recorder.Feed(bench.Step());
        }
        ASSERT_TRUE(recorder.Stop()) << recorder.Error();
        const std::vector<Row> rows = ReadCsvFile(file);
        ASSERT_GT(rows.size(), 20u);
        // GAIN's conversion scales its float.
        EXPECT_EQ(rows[0], (Row{"time_s", "SPEED", "GAIN", "GAIN [V]", "TOTAL:I32"}));
        for (std::size_t i = 1; i < rows.size(); ++i) {
            EXPECT_EQ(Row(rows[i].begin() + 1, rows[i].end()), (Row{"-5", "1.5", "4", "-100000"}))
                << i << (big ? " big" : "");
        }
    }
}

// Values no variable of the kiln holds, by hand: a float's NaN and infinities (no integer
// to be made of them), a u32 beyond 2^31, an i8 at its least.
TEST(TypedRecording, ExtremeValuesAreWrittenAsTheirTypeHoldsThem) {
    const struct {
        mcu::VarType type;
        double typed;
        std::string text;
    } cases[] = {{mcu::VarType::F32, std::nan(""), "nan"},
                 {mcu::VarType::F32, -HUGE_VAL, "-inf"},
                 {mcu::VarType::U32, 4294967295.0, "4294967295"},
                 {mcu::VarType::I8, -128, "-128"}};
    for (const auto& c : cases) {
        RecordLayout layout;
        layout.channels.push_back(MakeRecordChannel(1, "V", 0, nullptr, c.type));
        RowBuilder rows(layout, 0);
        Batch b;
        b.samples.push_back({1, 0, c.typed, 0, 0, 5, 1});
        std::string out;
        ASSERT_EQ(rows.Add(b.samples, out), 1u);
        EXPECT_EQ(out, "0.000005," + c.text + "\n");
    }
}

// Rows made by hand: scan s of one channel.
Batch Scans(std::uint64_t first, std::uint64_t count) {
    Batch b;
    for (std::uint64_t s = first; s < first + count; ++s) {
        const auto value = static_cast<std::uint8_t>(s);
        b.samples.push_back(
            {1, value, static_cast<double>(value), 0, 0, static_cast<std::int64_t>(s * 1000), s});
    }
    return b;
}

TEST(CsvWriter, AFullDiskEndsTheRecordingAndLeavesOnlyWholeRows) {
    RecordLayout layout;
    layout.channels.push_back(MakeRecordChannel(1, "SAW", 0, nullptr));
    CsvRecorder recorder;
    std::string error;
    // Nothing fits: the start says so.
    EXPECT_FALSE(recorder.Start("/dev/full", layout, 0, 0, error));
    EXPECT_EQ(error, std::strerror(ENOSPC));
    EXPECT_FALSE(recorder.Recording());
    testing_support::TempDir dir;
    EXPECT_FALSE(recorder.Start(dir.path() + "/no/such/folder.csv", layout, 0, 0, error));
    EXPECT_EQ(error, std::strerror(ENOENT));

    // A file that can grow to 4000 bytes only: the disk fills in the middle of a write.
    const std::string file = dir.path() + "/full.csv";
    auto limit = std::make_unique<testing_support::FileSizeLimit>(4000);
    ASSERT_TRUE(limit->Set());
    std::mutex mutex;
    std::condition_variable told;
    std::string reason;
    recorder.SetErrorHandler([&](const std::string& why) {
        std::lock_guard<std::mutex> lock(mutex);
        reason = why;
        told.notify_one();
    });
    ASSERT_TRUE(recorder.Start(file, layout, 0, 0, error)) << error;
    for (std::uint64_t s = 0; s < 3000; s += 100) {
        recorder.Feed(Scans(s, 100));
    }
    {
        std::unique_lock<std::mutex> lock(mutex);
        told.wait(lock, [&] { return !reason.empty(); });
    }
    EXPECT_FALSE(recorder.Recording());
    recorder.Feed(Scans(5000, 10)); // ignored
    EXPECT_FALSE(recorder.Stop());
    limit.reset();
    EXPECT_EQ(reason, std::strerror(EFBIG));
    EXPECT_EQ(recorder.Error(), reason);

    std::string text;
    const std::vector<Row> rows = ReadCsvFile(file, &text);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_LE(text.size(), 4000u);
    EXPECT_GT(text.size(), 3000u);
    EXPECT_EQ(rows.size() - 1, recorder.Rows());
    for (std::size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 2u);
        EXPECT_EQ(rows[i][1], std::to_string((i - 1) % 256)) << i;
    }
}

TEST(CsvWriter, StopsAtTheRowLimitAndLeavesScansOfBeforeTheStartOut) {
    RecordLayout layout;
    layout.channels.push_back(MakeRecordChannel(1, "SAW", 0, nullptr));
    testing_support::TempDir dir;
    CsvRecorder recorder;
    std::string error;
    // Started at 0.0105 s: scan 10 (at 0.010 s) was under way and is left out.
    ASSERT_TRUE(recorder.Start(dir.path() + "/n.csv", layout, 10500, 25, error)) << error;
    recorder.Feed(Scans(0, 20));
    recorder.Feed(Scans(20, 20));
    ASSERT_TRUE(recorder.Stop());
    EXPECT_TRUE(recorder.Full());
    const std::vector<Row> rows = ReadCsvFile(dir.path() + "/n.csv");
    ASSERT_EQ(rows.size(), 26u);
    EXPECT_EQ(rows[1], (Row{"0.000500", "11"}));
    EXPECT_EQ(rows[25], (Row{"0.024500", "35"}));
}

} // namespace
