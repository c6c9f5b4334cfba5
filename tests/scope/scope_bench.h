// The scope window started as the program starts it (module start-up from a parameter file
// beside the program, then TForm1), against the simulated MC over the in-memory link under a
// fake clock. Message boxes and fatal errors are recorded instead of shown.
#pragma once

#include "scope/dialogs.h"
#include "scope/scope_window.h"
#include "sim_link.h"
#include "temp_dir.h"

#include <memory>
#include <string>

namespace scope_testing {

std::string ReadFile(const std::string& path);
std::string DemoScenario();

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
    scope::TForm1& Start();
    scope::TForm1& Form() { return *form_; }
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
    std::unique_ptr<scope::TForm1> form_;
};

} // namespace scope_testing
