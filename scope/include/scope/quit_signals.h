// SIGTERM, SIGINT and SIGHUP as events of the message loop. A signal handler may do next to
// nothing safely, certainly no Qt work: it writes the signal's number into a pipe, and a
// notifier on the pipe's other end emits Received in the event loop.
#pragma once

#include <QObject>

#include <array>
#include <csignal>

class QSocketNotifier;

namespace scope {

class TQuitSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers. A signal ignored when the program started (nohup, a background
    // job of a script) stays ignored: whoever started the program asked for that. Only one
    // instance handles the signals at a time; a second one installs nothing.
    explicit TQuitSignals(QObject* parent = nullptr);
    // Puts the previous handlers back.
    ~TQuitSignals() override;
    TQuitSignals(const TQuitSignals&) = delete;
    TQuitSignals& operator=(const TQuitSignals&) = delete;

    bool Installed() const { return notifier_ != nullptr; }

Q_SIGNALS:
    void Received(int signal);

private:
    void Drain();

    static constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};
    std::array<int, 2> pipe_ = {-1, -1};
    std::array<struct sigaction, kSignals.size()> previous_{};
    std::array<bool, kSignals.size()> handled_{};
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace scope
