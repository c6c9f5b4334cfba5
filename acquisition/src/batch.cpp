#include "acquisition/batch.h"

#include <algorithm>

namespace acq {

bool BatchQueue::Push(Batch batch) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() >= capacity_) {
        ++dropped_;
        // Only the samples (and the watches' scans) may go: what the commands did, the setters'
        // answers and the link's state ride on the newest batch still queued, which the front end
        // has yet to show.
        if (!queue_.empty()) {
            Batch& kept = queue_.back();
            kept.appliedUpTo = std::max(kept.appliedUpTo, batch.appliedUpTo);
            kept.selected |= batch.selected;
            kept.restarted |= batch.restarted;
            kept.slotsCleared = kept.slotsCleared || batch.slotsCleared;
            kept.status = std::move(batch.status);
            kept.setters.insert(kept.setters.end(), batch.setters.begin(), batch.setters.end());
            kept.writes.insert(kept.writes.end(), batch.writes.begin(), batch.writes.end());
        }
        return false;
    }
    queue_.push_back(std::move(batch));
    return true;
}

std::deque<Batch> BatchQueue::TakeAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::deque<Batch> taken;
    taken.swap(queue_);
    return taken;
}

std::uint64_t BatchQueue::Dropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

} // namespace acq
