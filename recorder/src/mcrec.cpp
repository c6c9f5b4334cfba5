#include "recorder/mcrec.h"

#include "acquisition/channel_name.h"
#include "acquisition/engine.h"
#include "foundation/params.h"
#include "foundation/text.h"
#include "link/link_port.h"
#include "recorder/csv_recorder.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace recorder {

namespace {

// The scope's sweep width; mcrec draws nothing, but the engine notes sweep ends against it.
constexpr int kSweepWidth = 704;
constexpr std::int64_t kProgressUs = 500'000;
// The longest a wait between steps may last before the stop flag is looked at again.
constexpr std::uint32_t kLookMs = 100;
constexpr std::uint64_t kWatchId = 1;

const char* const kUsage =
    "Usage: mcrec NAME... [--x NAME] [--duration S] [--samples N] [-o FILE|-]\n"
    "             [--port DEVICE|N]\n"
    "       mcrec --list [--port DEVICE|N]\n"
    "       mcrec --help\n";

const char* const kHelp = R"(
Records MC variables to a CSV file at the link's full rate, over the debug link that the COM
parameter of param.ini names: every variable once per scan, all in the same scan, so the rate
per variable is the link's rate divided by their number (each read is a request and a reply on
the wire; a 16-bit value takes three reads, a 32-bit one seven). Up to 255 names, or up to three
with an x-variable. The application is identified
as the scope identifies it, and the names are those the scope's channel boxes take: NAME,
NAME.b (bit b), NAME[i] (the byte i above NAME), or an address such as $33.

The file: a header line (time_s, x in x-y mode, one column per variable, and "NAME [unit]"
where the conversion file gives a factor, offset and unit), then one row per scan: seconds
since the start (arrival of the scan's first reply), the values; a failed read is an empty
field, a bit is 0 or 1. UTF-8, "." as decimal mark, "\n" line ends.

Options:
  --list           print the variable table (name, address, bit, unit, type; and why a
                   variable the link cannot reach is not readable) and end
  --x NAME         x-y acquisition: every row carries the x value its samples belong to
                   (the MC's sample index when it streams)
  --duration S     record S seconds (decimals allowed)
  --samples N      record N rows
  -o FILE          write to FILE (replaced if it exists); - or no -o: standard output
  --port DEVICE|N  the link for this run instead of COM: a device path (/dev/ttyUSB1) or a
                   port number as COM takes it
  --help           show this text

Without --duration and --samples the recording goes on until Ctrl-C or SIGTERM, which end it
with a complete file, as does a link that gives nothing for 5 s (exit code 1). Progress
(rows, rate, elapsed) shows on standard error when it is a terminal.

Exit codes: 0 done; 1 failed (link, identification, write: the message is on standard
error); 2 wrong arguments, unknown names.
)";

bool ParseCount(const std::string& text, std::uint64_t& value) {
    const char* end = text.data() + text.size();
    auto [at, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc{} && at == end && value > 0;
}

std::string Upper(std::string text) {
    foundation::UpperCaseText(text);
    return text;
}

std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] =
                std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0u : 1u)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string Hex(std::uint16_t address) {
    char text[8];
    std::snprintf(text, sizeof text, address > 0xFF ? "$%04X" : "$%02X", address);
    return text;
}

int BitNumber(std::uint8_t mask) {
    for (int b = 0; b < 8; ++b) {
        if (mask == (1u << b)) {
            return b;
        }
    }
    return -1;
}

std::vector<std::string> Names(const acq::VariableTable& table) {
    std::vector<std::string> names;
    for (const mcu::MCVar& v : table.Vars()) {
        if (!v.linkKeyword) {
            names.push_back(v.name);
        }
    }
    return names;
}

void ShowProgress(std::ostream& err, std::uint64_t rows, std::uint16_t rate, std::int64_t us) {
    char text[96];
    std::snprintf(text, sizeof text, "\r%llu rows, %u var/s, %.1f s ",
                  static_cast<unsigned long long>(rows), static_cast<unsigned>(rate),
                  static_cast<double>(us) / 1e6);
    err << text << std::flush;
}

} // namespace

void ListVariables(const acq::VariableTable& table, std::ostream& out) {
    out << "name                 address bit unit  type\n";
    for (const mcu::MCVar& v : table.Vars()) {
        if (v.linkKeyword) {
            continue;
        }
        std::string line = v.name;
        line.resize(std::max<std::size_t>(line.size() + 1, 21), ' ');
        std::string address = Hex(v.address);
        address.resize(8, ' ');
        line += address;
        const int bit = BitNumber(v.bitMask);
        std::string bitText = v.bitMask == 0 ? "-"
                              : bit >= 0     ? std::to_string(bit)
                                             : Hex(v.bitMask);
        bitText.resize(4, ' ');
        line += bitText;
        std::string unit = acq::HasConversion(v) ? v.unit : "-";
        unit.resize(6, ' ');
        line += unit;
        line += v.bitMask != 0 ? "bit" : mcu::TypeName(v.type);
        // Listed so that the user sees the variable is known, and why it is not recorded.
        if (!v.reachable) {
            line += "  not readable: " + v.reason;
        }
        out << line << '\n';
    }
}

bool ParseMcrecArguments(const std::vector<std::string>& args, McrecOptions& options,
                         std::string& error) {
    options = McrecOptions{};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            return foundation::TakeOptionValue(args, i, out, error);
        };
        std::string text;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return true;
        } else if (arg == "--list") {
            options.list = true;
        } else if (arg == "--x") {
            if (!value(options.x)) {
                return false;
            }
            if (options.x.empty()) {
                error = "--x needs a name";
                return false;
            }
        } else if (arg == "--duration") {
            if (!value(text)) {
                return false;
            }
            if (!foundation::ParseDecimal(text, options.durationS) || !(options.durationS > 0) ||
                options.durationS > 1e9) {
                error = "invalid --duration " + text + " (seconds above 0)";
                return false;
            }
        } else if (arg == "--samples") {
            if (!value(text)) {
                return false;
            }
            if (!ParseCount(text, options.samples)) {
                error = "invalid --samples " + text + " (a count above 0)";
                return false;
            }
        } else if (arg == "-o" || arg == "--output") {
            if (!value(options.output)) {
                return false;
            }
            if (options.output.empty()) {
                error = "-o needs a file name or -";
                return false;
            }
        } else if (arg == "--port") {
            if (!foundation::TakePortOption(args, i, options.port, error)) {
                return false;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else if (arg.empty()) {
            error = "an empty name";
            return false;
        } else {
            options.names.push_back(arg);
        }
    }
    if (options.list) {
        if (!options.names.empty() || !options.x.empty()) {
            error = "--list takes no names";
            return false;
        }
        return true;
    }
    if (options.names.empty()) {
        error = "no variable to record";
        return false;
    }
    if (!options.x.empty() && options.names.size() > kMaxXNames) {
        error = "at most " + std::to_string(kMaxXNames) + " variables with --x";
        return false;
    }
    if (options.names.size() > kMaxNames) {
        error = "at most " + std::to_string(kMaxNames) + " variables";
        return false;
    }
    return true;
}

const char* McrecUsage() {
    return kUsage;
}

const char* McrecHelp() {
    return kHelp;
}

std::vector<std::string> CloseMatches(const std::string& name,
                                      const std::vector<std::string>& table) {
    const std::string wanted = Upper(name);
    std::vector<std::pair<std::size_t, std::string>> found;
    for (const std::string& candidate : table) {
        const std::string upper = Upper(candidate);
        const std::size_t d = EditDistance(wanted, upper);
        const bool affix =
            wanted.size() >= 2 &&
            (upper.rfind(wanted, 0) == 0 ||
             (upper.size() >= wanted.size() &&
              upper.compare(upper.size() - wanted.size(), wanted.size(), wanted) == 0));
        if (d <= 2 || affix) {
            found.emplace_back(affix ? std::min<std::size_t>(d, 2) : d, candidate);
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (std::size_t i = 0; i < found.size() && i < 5; ++i) {
        names.push_back(found[i].second);
    }
    return names;
}

int RunMcrec(const McrecOptions& options, std::ostream& out, std::ostream& err,
             const std::atomic<bool>& stop, bool progress) {
    acq::Engine engine(acq::SweepLastMs(kSweepWidth));
    const acq::OpenResult opened = engine.Open();
    if (!opened.applOpened && stop.load()) {
        // Ctrl-C during the identification ends its exchanges; that is no fault of the link.
        err << "mcrec: stopped before the recording began\n";
        engine.Close();
        return kExitFailed;
    }
    if (!opened.applOpened) {
        err << "mcrec: MC application could not be opened on " << opened.portName
            << (opened.reason.empty() ? "" : ": " + opened.reason) << '\n';
        engine.Close();
        return kExitFailed;
    }
    if (options.list) {
        ListVariables(opened.variables, out);
        engine.Close();
        return kExitOk;
    }

    // The names as the boxes take them; every unknown one is reported before anything runs.
    acq::RecordLayout layout;
    layout.xMode = !options.x.empty();
    std::vector<acq::Command> commands;
    // Without --x the names are one watch: read in one scan each round, beside no channel.
    acq::Watch watch{kWatchId, {}};
    bool unknown = false;
    auto resolve = [&](int channel, const std::string& given) {
        const std::string name = Upper(given);
        acq::ResolvedChannel r;
        if (!acq::ResolveChannelName(opened.variables, name, r)) {
            acq::ChannelName parts;
            const std::string base = acq::SplitChannelName(name, parts) ? parts.base : name;
            const mcu::MCVar* known = opened.variables.Find(base);
            if (known != nullptr && !known->reachable) {
                err << "mcrec: " << given << " cannot be read: " << known->reason << '\n';
                unknown = true;
                return;
            }
            const auto close = CloseMatches(base, Names(opened.variables));
            err << "mcrec: unknown variable " << given;
            for (std::size_t i = 0; i < close.size(); ++i) {
                err << (i == 0 ? " (close: " : ", ") << close[i];
            }
            err << (close.empty() ? "" : ")") << '\n';
            unknown = true;
            return;
        }
        if (layout.xMode) {
            commands.push_back(acq::UseVariable{channel, r.address, r.mask});
        } else {
            const mcu::VarType type = r.mask != 0             ? mcu::VarType::Bit
                                      : r.variable != nullptr ? r.variable->type
                                                              : mcu::VarType::U8;
            watch.items.push_back({r.address, r.mask, type});
        }
        if (channel > 0) {
            layout.channels.push_back(acq::MakeRecordChannel(channel, name, r.mask, r.variable));
        }
    };
    if (layout.xMode) {
        resolve(0, options.x);
    }
    for (std::size_t i = 0; i < options.names.size(); ++i) {
        resolve(static_cast<int>(i) + 1, options.names[i]);
    }
    if (unknown) {
        err << "mcrec: --list shows the variables of " << opened.applName << '\n';
        engine.Close();
        return kExitUsage;
    }

    acq::CsvRecorder recorder;
    std::string error;
    const std::string shown = options.output == "-" ? "standard output" : options.output;
    if (!recorder.Start(options.output, layout, acq::SteadyUs(), options.samples, error)) {
        err << "mcrec: " << shown << ": " << error << '\n';
        engine.Close();
        return kExitFailed;
    }
    for (acq::Command& c : commands) {
        engine.Post(std::move(c));
    }
    if (!layout.xMode) {
        engine.Post(std::move(watch));
    }
    // A link taken up again goes on recording.
    engine.Post(acq::ChannelOneNamed{true});

    const std::int64_t start = acq::SteadyUs();
    const auto durationUs = static_cast<std::int64_t>(options.durationS * 1e6);
    std::int64_t lastRead = start;
    std::int64_t lastShown = start;
    std::uint16_t rate = 0;
    std::string lost;
    std::string linkError;
    while (!stop.load()) {
        acq::StepResult step = engine.Step();
        const std::int64_t now = acq::SteadyUs();
        if (step.batch) {
            if (!layout.xMode) {
                step.batch->samples.clear();
                acq::AppendWatchedSamples(step.batch->watched, kWatchId, step.batch->samples);
            }
            recorder.Feed(*step.batch);
            rate = step.batch->rate;
            if (!step.batch->samples.empty()) {
                lastRead = now;
            }
            linkError = step.batch->status.linkError;
        }
        // Watches alone publish nothing while the link is down: the time counts without batches.
        if (now - lastRead > kGiveUpUs) {
            lost = linkError.empty() ? "no answer" : linkError;
        }
        if (!lost.empty() || !recorder.Error().empty() || recorder.Full() ||
            (durationUs > 0 && now - start >= durationUs)) {
            break;
        }
        if (progress && now - lastShown >= kProgressUs) {
            lastShown = now;
            ShowProgress(err, recorder.Rows(), rate, now - start);
        }
        if (!step.waitMs || *step.waitMs > 0) {
            engine.Commands().Wait(
                std::chrono::milliseconds(step.waitMs ? std::min(*step.waitMs, kLookMs) : kLookMs));
        }
    }
    // A stop request has ended whatever exchange was under way; the link closes normally.
    comlink::ClearLinkStop();
    engine.Close();
    const bool written = recorder.Stop();
    if (progress) {
        ShowProgress(err, recorder.Rows(), rate, acq::SteadyUs() - start);
        err << '\n';
    }
    if (!written) {
        err << "mcrec: writing " << shown << " failed: " << recorder.Error() << '\n';
        return kExitFailed;
    }
    if (!lost.empty()) {
        err << "mcrec: link lost (" << lost << "), recording ended after " << recorder.Rows()
            << " rows\n";
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace recorder
