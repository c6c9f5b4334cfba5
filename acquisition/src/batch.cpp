#include "acquisition/batch.h"

namespace acq {

bool BatchQueue::Push(Batch batch) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() >= capacity_) {
        ++dropped_;
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
