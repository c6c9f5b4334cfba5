// A pseudo-terminal pair made for one test: the test holds the master side and plays the
// device's far end; the link opens the slave side by its path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int master() const { return master_; }

    void Write(const std::vector<std::uint8_t>& bytes) const;
    // Reads exactly n bytes, waiting up to timeoutMs for them; returns what came.
    std::vector<std::uint8_t> Read(std::size_t n, int timeoutMs = 2000) const;
    // Closes the master: the slave side hangs up and its device node disappears.
    void Close();

private:
    int master_ = -1;
    std::string slavePath_;
};

// Points link at target, replacing whatever it pointed at in one step.
void PointLink(const std::string& link, const std::string& target);

} // namespace testing_support
