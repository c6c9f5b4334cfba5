// What the benchmarks of the window share beyond bench_common.h: the demo's channels shown
// and running the event loop for a while.
#pragma once

#include "bench_common.h"
#include "scope/scope_window.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <utility>

namespace bench_support {

// The opened window, shown and active, with the demo's SINE, SAW and BLINK on its channels;
// false (and why, on standard error) when the application did not open.
inline bool ShowDemoChannels(scope::ScopeWindow& form, const char* program) {
    if (form.TerminationRequested()) {
        std::fprintf(stderr, "%s: the MC application did not open\n", program);
        return false;
    }
    form.show();
    for (auto [name, text] : {std::pair{"VarName1", "SINE"}, std::pair{"VarName2", "SAW"},
                              std::pair{"VarName3", "BLINK"}}) {
        auto* box = form.findChild<scope::TComboBox*>(name);
        box->SetText(text);
        Q_EMIT box->UserChanged();
    }
    Q_EMIT form.findChild<scope::TApplicationEvents*>("ApplicationEvents1")->Activate();
    return true;
}

inline void RunEventLoopFor(int ms) {
    QTimer::singleShot(ms, [] { QCoreApplication::exit(0); });
    QApplication::exec();
}

} // namespace bench_support
