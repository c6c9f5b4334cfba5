// The scope window started as the program starts it (module start-up from a parameter file
// beside the program, then ScopeWindow), against the simulated MC over the in-memory link under a
// fake clock. The engine runs on the test's thread and steps only when the test says so.
// Message boxes and fatal errors are recorded instead of shown.
#pragma once

#include "acquisition/driver.h"
#include "scope/dialogs.h"
#include "scope/scope_window.h"
#include "sim_link.h"
#include "temp_dir.h"

#include <QImage>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

namespace scope_testing {

// A control of the window by its object name, as the settings files find it.
template <class T> T* Ctl(const QObject& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

std::string ReadFile(const std::string& path);
std::string DemoScenario();
// The pixels of colour from (x0, y0) to (x1, y1), both included, as far as the image reaches.
int CountPixels(const QImage& image, int x0, int y0, int x1, int y1, QRgb colour);

class ScopeBench {
public:
    // filePath: the FILE_PATH folders; com: the COM parameter (empty: none, the link's
    // default port 1).
    ScopeBench(const std::string& scenario, const std::string& filePath,
               const std::string& com = "1");
    ~ScopeBench();
    ScopeBench(const ScopeBench&) = delete;
    ScopeBench& operator=(const ScopeBench&) = delete;

    // Runs the module start-up and creates the window.
    scope::ScopeWindow& Start();
    scope::ScopeWindow& Form() { return *form_; }
    acq::Engine& Engine() { return driver_->GetEngine(); }

    // One step of the engine, and the window's look at its batch; the wait the step asked for.
    std::optional<std::uint32_t> Pass();
    // Passes until the engine has taken every command (the window may answer a batch with new
    // ones, as a setter's read does).
    void Settle();
    // Passes for ms of fake time, the clock moving on by the waits the steps ask for, as the
    // programs' driver waits; stops early when the engine has nothing to do.
    void RunFor(std::uint64_t ms);
    // Destroys the window (OnDestroy).
    void Close();

    // The root folder of the installation; the program lives in root/bin.
    const std::string& Root() const { return root_.path(); }
    std::string SettingsFile(const std::string& applName) const;
    testing_support::SimBench& Sim() { return sim_; }
    const QStringList& Boxes() const { return boxes_.texts(); }
    const std::vector<std::string>& Fatal() const { return fatal_.messages(); }

private:
    testing_support::TempDir root_;
    testing_support::FatalRecorder fatal_;
    scope::InformationRecorder boxes_;
    testing_support::SimBench sim_;
    acq::StepDriver* driver_ = nullptr;
    std::unique_ptr<scope::ScopeWindow> form_;
};

} // namespace scope_testing

using scope_testing::Ctl;
