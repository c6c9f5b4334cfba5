#include "scope_bench.h"

#include "foundation/params.h"
#include "mcu/access.h"
#include "mcu/appl.h"
#include "persistence/serializers.h"
#include "scope/startup.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace scope_testing {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string DemoScenario() {
    return ReadFile(std::string(DEMO_DIR) + "/demo.scenario");
}

int CountPixels(const QImage& image, int x0, int y0, int x1, int y1, QRgb colour) {
    int n = 0;
    for (int x = std::max(x0, 0); x <= std::min(x1, image.width() - 1); ++x) {
        for (int y = std::max(y0, 0); y <= std::min(y1, image.height() - 1); ++y) {
            n += image.pixel(x, y) == colour ? 1 : 0;
        }
    }
    return n;
}

ScopeBench::ScopeBench(const std::string& scenario, const std::string& filePath,
                       const std::string& com)
    : sim_(scenario) {
    std::string params = "[FILE_PATH]\n" + filePath + "\n";
    if (!com.empty()) {
        params += "[COM]\n" + com + "\n";
    }
    root_.Write("bin/ombrix.ini", params);
}

ScopeBench::~ScopeBench() {
    Close();
    persistence::FreeGlobalSerializer();
    mcu::ResetMcuModule();
    mcu::ApplIdTable().fill("");
}

scope::ScopeWindow& ScopeBench::Start() {
    persistence::FreeGlobalSerializer();
    scope::InitScopeModules(root_.path() + "/bin/ombrix");
    auto driver = std::make_unique<acq::StepDriver>(scope::TraceSweepLastMs());
    driver_ = driver.get();
    form_ = std::make_unique<scope::ScopeWindow>(std::move(driver));
    return *form_;
}

std::optional<std::uint32_t> ScopeBench::Pass() {
    const std::optional<std::uint32_t> wait = driver_->Step();
    form_->TakeBatches();
    return wait;
}

void ScopeBench::Settle() {
    for (int i = 0; i < 10 && Engine().Commands().Waiting(); ++i) {
        Pass();
    }
}

void ScopeBench::RunFor(std::uint64_t ms) {
    const std::uint64_t end = sim_.Clock().NowUs() + ms * 1000;
    while (sim_.Clock().NowUs() < end) {
        const std::optional<std::uint32_t> wait = Pass();
        if (!wait) {
            return;
        }
        sim_.Clock().AdvanceMs(*wait);
    }
}

void ScopeBench::Close() {
    form_.reset();
    driver_ = nullptr;
}

std::string ScopeBench::SettingsFile(const std::string& applName) const {
    return root_.path() + "/user/dsf/ombrix/" + applName + "/recent.dsw";
}

} // namespace scope_testing
