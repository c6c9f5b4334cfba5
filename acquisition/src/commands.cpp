#include "acquisition/commands.h"

namespace acq {

RunMode AfterSweepMode(RunMode now, const SweepMode& mode) {
    // Asking again for single sweeps, or leaving them, is how a stopped single sweep goes on.
    return {now.running || now.singleShot, mode.single};
}

std::uint64_t CommandQueue::Post(Command command) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t number = ++last_;
    if (const auto* value = std::get_if<SetterValue>(&command)) {
        // A bar dragged over a slow MC must not queue seconds of writes: only the position it
        // ends at matters.
        for (auto it = queue_.rbegin(); it != queue_.rend(); ++it) {
            if (const auto* waiting = std::get_if<SetterValue>(&it->command)) {
                if (waiting->setter == value->setter) {
                    queue_.erase(std::next(it).base());
                    break;
                }
            } else if (const auto* select = std::get_if<SelectSetter>(&it->command)) {
                if (select->setter == value->setter) {
                    break;
                }
            }
        }
    }
    queue_.push_back({number, std::move(command)});
    posted_.notify_all();
    return number;
}

std::deque<Posted> CommandQueue::TakeAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::deque<Posted> taken;
    taken.swap(queue_);
    woken_ = false;
    return taken;
}

bool CommandQueue::Waiting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !queue_.empty();
}

void CommandQueue::Wait(std::optional<std::chrono::milliseconds> timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto ready = [this] { return !queue_.empty() || woken_; };
    if (timeout) {
        posted_.wait_for(lock, *timeout, ready);
    } else {
        posted_.wait(lock, ready);
    }
    woken_ = false;
}

void CommandQueue::Wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
    posted_.notify_all();
}

} // namespace acq
