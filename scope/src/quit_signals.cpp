#include "scope/quit_signals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace scope {

namespace {

// The handler's one piece of state: the pipe's write end, or -1.
std::atomic<int> signalPipe{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a plain load");

extern "C" void WriteSignalToPipe(int signal) {
    const int saved = errno;
    const int fd = signalPipe.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(signal);
        // A full pipe already holds a request to end; losing this one changes nothing.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

TQuitSignals::TQuitSignals(QObject* parent) : QObject(parent) {
    if (signalPipe.load() >= 0 || ::pipe2(pipe_.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_ = {-1, -1};
        return;
    }
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Drain(); });
    signalPipe.store(pipe_[1]);
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        struct sigaction current {};
        if (::sigaction(kSignals[i], nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = WriteSignalToPipe;
        sigemptyset(&action.sa_mask);
        // Interrupted system calls go on; the link's waits must not fail because of a signal.
        action.sa_flags = SA_RESTART;
        handled_[i] = ::sigaction(kSignals[i], &action, &previous_[i]) == 0;
    }
}

TQuitSignals::~TQuitSignals() {
    if (notifier_ == nullptr) {
        return;
    }
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        if (handled_[i]) {
            ::sigaction(kSignals[i], &previous_[i], nullptr);
        }
    }
    signalPipe.store(-1);
    // The notifier must not outlive the descriptor it watches.
    delete notifier_;
    notifier_ = nullptr;
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void TQuitSignals::Drain() {
    unsigned char bytes[16];
    ssize_t n = 0;
    while ((n = ::read(pipe_[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            Q_EMIT Received(bytes[i]);
        }
    }
}

} // namespace scope
