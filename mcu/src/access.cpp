#include "mcu/access.h"

#include "foundation/clock.h"
#include "foundation/numbers.h"
#include "link/link_port.h"
#include "mcu/vartable.h"
#include "state.h"

#include <algorithm>
#include <cmath>

namespace mcu {

namespace {

using detail::State;

constexpr std::uint8_t kAttention = 0x07;
constexpr std::uint8_t kPageZero = 0xF0;
// From here on the bytes are commands, which the firmware never takes as write requests.
constexpr std::uint8_t kFirstCommand = 0xF0;
constexpr std::uint8_t kObjectModeBase = 0x80;
constexpr std::uint8_t kAdrModeBase = 0xC0;
const char* const kComsetBegin = "COMSET_VAR_BEG";

std::uint8_t ComsetBase(std::uint16_t begin) {
    return static_cast<std::uint8_t>(0xE0 - (begin & 0xFF));
}

// The record's write base, looked up without reordering the table or touching the error text.
std::uint8_t WriteBase(const MCAppl& appl) {
    if (!appl.adrMode) {
        return kObjectModeBase;
    }
    const auto found = std::find_if(appl.vars.begin(), appl.vars.end(),
                                    [](const MCVar& v) { return v.name == kComsetBegin; });
    return found == appl.vars.end() ? kAdrModeBase : ComsetBase(found->address);
}

// Right after an attention the firmware reads a byte from its write base up to the last
// non-command byte as a write request (bases below 0xE0 reach down into the page-0 reads).
bool TakenAsWrite(const MCAppl& appl, std::uint8_t request) {
    if (request == kAttention || request >= kFirstCommand) {
        return false;
    }
    const std::uint8_t base = WriteBase(appl);
    return static_cast<std::uint8_t>(request - base) <=
           static_cast<std::uint8_t>(kFirstCommand - 1 - base);
}

bool AttentionPending() {
    return State().attentionPending[comlink::Link().lineState];
}

// Sends b and notes on the current line whether the MC may now take the next byte as a write
// request: after a 0x07 it was not in the middle of an exchange (after a page command or a
// write request it takes any byte as the address or the value). An attention counts even when
// its send failed, as it may have left the PC; with the lines in an unknown state any MC may
// have heard it.
bool SendRequest(std::uint8_t b, bool midExchange = false) {
    auto& state = State();
    auto& pending = state.attentionPending;
    const std::uint8_t line = comlink::Link().lineState;
    bool sent = false;
    if (b == kAttention && !midExchange) {
        if (line == comlink::kUnknownLineState) {
            pending.fill(true);
        } else {
            pending[line] = true;
        }
        sent = comlink::SendByte(b);
    } else {
        sent = comlink::SendByte(b);
        if (sent) {
            pending[line] = false;
        }
    }
    state.lastActivityUs = foundation::CounterUs();
    return sent;
}

// One byte within ticks, noted as the line's latest activity.
bool Receive(std::uint8_t& b, std::uint16_t ticks) {
    const bool got = comlink::ReceiveByte(b, ticks);
    if (got) {
        State().lastActivityUs = foundation::CounterUs();
    }
    return got;
}

// One request byte and its reply within the reply time-out; for exchanges whose replies are
// checked by their echo.
bool Exchange(std::uint8_t request, std::uint8_t& reply, bool midExchange = false) {
    if (SendRequest(request, midExchange) && Receive(reply, ReplyTimeout)) {
        return true;
    }
    State().unsettled = true;
    return false;
}

// Waits for one more byte until deadline (counter microseconds). Polling keeps the wait as
// short as the wire time it covers; it is only needed after a fault.
bool ReceiveByteUntil(std::uint8_t& b, std::int64_t deadline) {
    while (!Receive(b, 0)) {
        const std::int64_t now = foundation::CounterUs();
        if (now >= deadline) {
            return false;
        }
        if (!foundation::Clock().IsReal() || deadline - now > 2000) {
            foundation::Clock().SleepMs(1);
        }
    }
    return true;
}

// Timing is kept per line and rate: each line may have its own MC, and the wire time of a
// reply depends on the rate.
std::uint32_t TimingKey() {
    return static_cast<std::uint32_t>(comlink::Link().lineState) << 16 | comlink::BaudRate();
}

detail::ReplyTiming& CurrentTiming() {
    return State().timing[TimingKey()];
}

std::int64_t CharacterUs() {
    const std::int64_t baud = comlink::BaudRate();
    return baud == 0 ? 0 : 10000000 / baud;
}

void Learn(detail::ReplyTiming& t, std::int64_t delay) {
    t.delays[static_cast<std::size_t>(t.next)] = delay;
    t.next = (t.next + 1) % detail::ReplyTiming::kWindow;
    t.count = std::min(t.count + 1, detail::ReplyTiming::kWindow);
    std::array<std::int64_t, detail::ReplyTiming::kWindow> sorted = t.delays;
    const auto end = sorted.begin() + t.count;
    std::sort(sorted.begin(), end);
    // The low end ignores the odd stray byte that passed for a reply; the median stands for
    // the spread of an MC whose answer time varies.
    t.low = sorted[static_cast<std::size_t>(t.count / 16)];
    t.typical = sorted[static_cast<std::size_t>(t.count / 2)];
    t.longest = std::max(delay, t.longest - (t.longest - t.typical) / 16);
}

// The earliest a reply to a request sent now can come. Until two replies are learned it is the
// wire time of request and reply: the first, the identification's, may have been stretched by
// a freshly started MC or a busy PC, and judged by it alone the next ordinary reply would look
// early and cost a failed try. Then it is the low end of this MC's delays, less a quarter
// character or the spread, whichever is more, so an MC that varies is not cut off. The margin
// stays small: a stray byte late by more than it passes for a reply.
std::int64_t EarliestReplyUs(const detail::ReplyTiming& t) {
    const std::int64_t character = CharacterUs();
    const std::int64_t wire = 2 * character - character / 8;
    if (t.count < 2) {
        return wire;
    }
    return t.low - std::max(character / 4, t.typical - t.low);
}

// How long the line must stay quiet after the last request or byte before no reply of an
// earlier request can still come: twice the longest delay seen lately, plus the wire time of
// the bytes in flight and some slack for a busy PC, never more than the time-out.
std::int64_t QuietUs(const detail::ReplyTiming& t) {
    const std::int64_t character = CharacterUs();
    const std::int64_t longest = t.count == 0 ? 2 * character : t.longest;
    return std::min<std::int64_t>(2 * longest + 2 * character + 500, ReplyTimeout * 10000);
}

// A link that answers faster than a character can cross the wire does not pace its bytes
// (a simulated MC without pacing, say).
bool Paced(const detail::ReplyTiming& t) {
    return t.count == 0 || t.low >= CharacterUs();
}

// After a failed or doubtful try, waits until the line has been quiet long enough that no
// reply of an earlier request can still come, dropping whatever arrives meanwhile. An early
// byte that nothing followed was the reply after all: the MC answers faster than learned.
void Settle() {
    auto& state = State();
    if (!state.unsettled) {
        return;
    }
    const std::int64_t quiet = QuietUs(CurrentTiming());
    // A line that never falls quiet (an MC sending at another rate, say) is given up on after
    // a time-out: the drop before the request is then all that can be done.
    const std::int64_t giveUp = foundation::CounterUs() + quiet + ReplyTimeout * 10000;
    bool followed = false;
    std::uint8_t b = 0;
    for (;;) {
        while (foundation::CounterUs() < giveUp && Receive(b, 0)) {
            followed = true;
        }
        if (foundation::CounterUs() >= giveUp || comlink::LinkStopRequested() ||
            !ReceiveByteUntil(b, std::min(state.lastActivityUs + quiet, giveUp))) {
            break;
        }
        followed = true;
    }
    if (state.earlyDelay && !followed) {
        Learn(state.timing[state.earlyKey], *state.earlyDelay);
    }
    state.earlyDelay.reset();
    state.unsettled = false;
}

enum class Reply { Taken, Missing, Doubtful };

// The reply to a request sent at sentUs (taken before it went out, so a real reply can never
// look early). A byte that comes sooner than this MC can answer was already on its way: a
// stray byte, or the reply to an earlier request that came late. Taken as the reply, it would
// put every later read one behind for good. Nor can a reply be told from a stray byte that
// arrived together with it. Both leave the try in doubt, and the line unsettled. With alone
// set, a byte waiting right after the reply puts it in doubt too (streaming replies are two
// bytes). learn lets a reply that came alone teach the timing.
Reply ReceiveReply(std::uint8_t& reply, std::int64_t sentUs, bool alone, bool learn) {
    auto& state = State();
    if (!Receive(reply, ReplyTimeout)) {
        state.unsettled = true;
        return Reply::Missing;
    }
    detail::ReplyTiming& timing = CurrentTiming();
    const std::int64_t delay = state.lastActivityUs - sentUs;
    if (delay < EarliestReplyUs(timing)) {
        state.unsettled = true;
        state.earlyDelay = delay;
        state.earlyKey = TimingKey();
        return Reply::Doubtful;
    }
    std::uint8_t extra = 0;
    if (alone && Receive(extra, 0)) {
        state.unsettled = true;
        return Reply::Doubtful;
    }
    if (learn) {
        Learn(timing, delay);
    }
    return Reply::Taken;
}

// An exchange of a read, which makes sure its reply belongs to its request.
bool ReadExchange(std::uint8_t request, std::uint8_t& reply, bool learn, bool midExchange = false) {
    const std::int64_t sentUs = foundation::CounterUs();
    if (!SendRequest(request, midExchange)) {
        State().unsettled = true;
        return false;
    }
    return ReceiveReply(reply, sentUs, true, learn) == Reply::Taken;
}

void BringLinkToRecord(const MCAppl& appl) {
    comlink::SelectChannel(appl.channel);
    comlink::SetBaud(appl.baudRate);
}

} // namespace

void SetProgramKind(ProgramKind kind) {
    State().kind = kind;
}

void ResetMcuModule() {
    State() = detail::McuState{};
}

detail::McuState& detail::State() {
    static McuState state;
    return state;
}

bool ReadVariable(MCAppl& appl, std::uint16_t address, std::uint8_t offset, std::uint8_t& value) {
    if (appl.streamingMode) {
        EndDebugAddress(appl);
    }
    BringLinkToRecord(appl);
    const bool selector = State().kind == ProgramKind::Selector;
    const unsigned sum = static_cast<unsigned>(address) + offset;
    const unsigned page = std::min(sum / 256, 7u);
    const auto low = static_cast<std::uint8_t>(sum % 256);
    // Addresses from 0xE0 up are commands on page 0, so the scope selects the page explicitly
    // (the selector's variant sends them as they are). Right after an attention a read in the
    // write range would be taken for a write, so it goes through the page step in both; the
    // decision holds for every try, as a failed try does not tell whether the MC heard it.
    const bool pageStep =
        page > 0 || (!selector && low >= 0xE0) || (AttentionPending() && TakenAsWrite(appl, low));
    std::uint8_t reply = 0;
    bool ok = false;
    for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
        // A stray or late byte that has already arrived would be taken as this reply. The
        // scope reads back to back, so its drop must cost nothing on the wire while the line
        // is settled.
        Settle();
        if (selector) {
            comlink::PurgeInput();
        } else {
            comlink::DiscardReceived();
        }
        // Only a first try starts on a line where no earlier reply can be pending; a reply
        // after a failed try may be that try's, so it teaches nothing.
        const bool learn = attempt == 0;
        if (pageStep) {
            const bool echoed =
                ReadExchange(static_cast<std::uint8_t>(kPageZero + page), reply, learn);
            if (!echoed || (!selector && reply != page * 16)) {
                State().unsettled = true;
                ++appl.errorCount;
                continue;
            }
        }
        if (!ReadExchange(low, reply, learn, pageStep)) {
            ++appl.errorCount;
            continue;
        }
        ok = true;
        // The failed try's own reply may still come: the next request waits for it.
        State().unsettled = attempt > 0;
    }
    if (!ok) {
        reply = 0;
        appl.errorText = "Error during reading MC variable";
    }
    CountTransfers(appl, 1);
    value = reply;
    return ok;
}

bool SetVariable(MCAppl& appl, const std::string& fullName, std::uint8_t offset,
                 std::uint8_t value) {
    const std::string name = fullName.substr(0, kMaxVarName);
    if (appl.streamingMode) {
        EndDebugAddress(appl);
    }
    if (!appl.opened) {
        return false;
    }
    std::uint8_t base = kObjectModeBase;
    std::uint16_t address = 0;
    std::uint8_t mask = 0;
    if (appl.adrMode) {
        base = FindVariable(appl, kComsetBegin, address, mask) ? ComsetBase(address) : kAdrModeBase;
        appl.errorText.clear();
    }
    BringLinkToRecord(appl);
    if (!FindVariable(appl, name, address, mask)) {
        return false;
    }
    const auto target = static_cast<std::uint16_t>(address + offset);
    std::uint8_t reply = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        Settle();
        comlink::PurgeInput();
        if (!Exchange(kAttention, reply)) {
            continue;
        }
        // The echo is the address byte, so only addresses below 256 can ever be confirmed. The
        // request for a higher one is not sent: the MC would take it for the low byte's
        // address and store the next byte there, which would be the following attention.
        const bool ok = target < 256 && Exchange(static_cast<std::uint8_t>(base + target), reply) &&
                        reply == target && Exchange(value, reply, true) && reply == value;
        if (ok) {
            State().unsettled = attempt > 0;
            return true;
        }
        State().unsettled = true;
        ++appl.errorCount;
    }
    appl.errorText = (" Error during set of MC variable " + name).substr(0, 52);
    if (SendRequest(kAttention)) {
        Receive(reply, ReplyTimeout);
    }
    return false;
}

bool SetDebugAddress(MCAppl& appl, const std::string& name, std::uint8_t offset,
                     std::uint8_t value) {
    if (SetVariable(appl, name, offset, value)) {
        appl.streamingMode = true;
        return true;
    }
    EndDebugAddress(appl);
    appl.streamingMode = false;
    return false;
}

bool EndDebugAddress(MCAppl& appl) {
    std::uint8_t reply = 0;
    // The first attention on a line and rate, sent while identifying the MC, seeds its timing.
    auto& state = State();
    const bool seed = !state.unsettled && CurrentTiming().count == 0;
    const std::int64_t sentUs = foundation::CounterUs();
    if (SendRequest(kAttention) && Receive(reply, ReplyTimeout) && seed) {
        Learn(CurrentTiming(), state.lastActivityUs - sentUs);
    }
    appl.streamingMode = false;
    return true;
}

bool ReadDebugSample(MCAppl& appl, std::uint16_t address, std::uint8_t offset, std::uint8_t& value,
                     std::uint8_t& second) {
    if (!appl.streamingMode) {
        return false;
    }
    BringLinkToRecord(appl);
    Settle();
    comlink::PurgeInput();
    const std::int64_t sentUs = foundation::CounterUs();
    if (!SendRequest(static_cast<std::uint8_t>((address + offset) % 256))) {
        State().unsettled = true;
        appl.errorText = "Debug address could not be sent";
        EndDebugAddress(appl);
        return false;
    }
    const Reply first = ReceiveReply(value, sentUs, false, true);
    if (first != Reply::Taken) {
        value = 0;
        appl.errorText = "Error during reading MC variable";
        if (first == Reply::Doubtful) {
            // An MC that answers sooner than learned (it, or the PC, was busy before) sends
            // pairs that all look early, and a pair's second byte always follows its first:
            // the quiet line is awaited after the pair, not after the first byte, or the
            // faster timing would never be learned and streaming would fail for good.
            Receive(second, ReplyTimeout);
            Settle();
        }
        EndDebugAddress(appl);
        if (first == Reply::Missing) {
            Receive(second, ReplyTimeout);
        }
        return false;
    }
    if (!Receive(second, ReplyTimeout)) {
        State().unsettled = true;
        EndDebugAddress(appl);
        return false;
    }
    // The value and its second byte leave the MC back to back. A stray byte that follows the
    // value would pass for the second byte, and the second byte proper would follow it within
    // a character: whatever comes that soon puts the pair in doubt.
    std::uint8_t extra = 0;
    const detail::ReplyTiming& timing = CurrentTiming();
    const bool followed =
        Paced(timing)
            ? ReceiveByteUntil(extra, State().lastActivityUs + CharacterUs() + CharacterUs() / 4)
            : Receive(extra, 0);
    if (followed) {
        State().unsettled = true;
        value = 0;
        appl.errorText = "Error during reading MC variable";
        EndDebugAddress(appl);
        return false;
    }
    CountTransfers(appl, 1);
    return true;
}

void CountTransfers(MCAppl& appl, std::uint8_t count) {
    const std::uint32_t now = foundation::TickMs();
    const std::uint32_t elapsed = now - appl.rateTick;
    if (elapsed > 1000) {
        appl.transferRate = static_cast<std::uint16_t>(
            foundation::RoundHalfEven(appl.transferCount * 1000.0 / elapsed));
        appl.rateTick = now;
        appl.transferCount = 0;
    }
    appl.transferCount = static_cast<std::uint16_t>(appl.transferCount + count);
}

} // namespace mcu
