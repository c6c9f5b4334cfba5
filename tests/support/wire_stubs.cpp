#include "wire_stubs.h"

namespace testing_support {

PluggableLink::PluggableLink(testing_support::SimSerialLibrary& inner) : inner_(inner) {
    comlink::SetSerialLibrary(this);
}

PluggableLink::~PluggableLink() {
    comlink::SetSerialLibrary(&inner_);
}

int PluggableLink::OPENCOM(const comlink::SerialSettings& settings) {
    if (!plugged_) {
        return -1;
    }
    ++opens_;
    return inner_.OPENCOM(settings);
}

int PluggableLink::SENDBYTE(std::uint8_t b) {
    return plugged_ ? inner_.SENDBYTE(b) : -1;
}

int PluggableLink::READBYTE() {
    if (!plugged_) {
        return -1;
    }
    const int b = inner_.READBYTE();
    return muted_ ? -1 : b;
}

int PluggableLink::INBUFFER() {
    if (!plugged_) {
        return 0;
    }
    if (muted_) {
        // What the MC says is lost on the way.
        while (inner_.READBYTE() >= 0) {
        }
        return 0;
    }
    return inner_.INBUFFER();
}

InstantMc::InstantMc(foundation::FakeClock& clock, comlink::SerialLibrary& previous,
                     std::uint8_t reply, std::uint64_t stepUs)
    : clock_(clock), previous_(previous), reply_(reply), stepUs_(stepUs) {
    comlink::SetSerialLibrary(this);
}

InstantMc::~InstantMc() {
    comlink::SetSerialLibrary(&previous_);
}

int InstantMc::SENDBYTE(std::uint8_t) {
    ++received_;
    clock_.AdvanceUs(stepUs_);
    pending_.push_back(reply_);
    return 0;
}

int InstantMc::READBYTE() {
    if (pending_.empty()) {
        return -1;
    }
    const int b = pending_.front();
    pending_.pop_front();
    return b;
}

} // namespace testing_support
