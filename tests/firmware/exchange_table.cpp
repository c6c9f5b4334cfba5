// Plays a table of link exchanges (one request byte, the reply bytes expected) against an MC
// on a serial device, as the PC would: each byte waits for its whole reply before the next is
// sent. The same table runs against the 8051 driver in s51 and against the simulated MC, so
// each checks the other.
//   firmware_exchange_table LINK TABLE MODE ID
// Rows: "MODES SEND > EXPECT..." with hexadecimal bytes; MODES is "both" or the one MODE the
// row belongs to; "ID" in EXPECT stands for the application id; an empty EXPECT means the MC
// must stay silent; ".." sends the byte without waiting (a byte inside a block). Text after ";" is
// a comment. Exit 0 when every row matched.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <poll.h>
#include <sstream>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// Replies from s51 take about 1.5 ms but have tails of a few hundred ms on a busy machine;
// silence is judged over a window long enough that a late byte still shows up in it.
constexpr int kReplyLimitMs = 3000;
constexpr int kSilenceMs = 400;

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char buf[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%s%02X", text.empty() ? "" : " ", b);
        text += buf;
    }
    return text.empty() ? "(nothing)" : text;
}

std::vector<std::uint8_t> Receive(int fd, std::size_t count, int limitMs) {
    std::vector<std::uint8_t> got;
    int waited = 0;
    while (got.size() < count || count == 0) {
        pollfd p{fd, POLLIN, 0};
        int step = 50;
        if (poll(&p, 1, step) > 0) {
            std::uint8_t buf[16];
            ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0) {
                got.insert(got.end(), buf, buf + n);
                continue;
            }
        }
        waited += step;
        if (waited >= limitMs) {
            break;
        }
    }
    return got;
}

bool ParseByte(const std::string& word, int id, std::uint8_t& out) {
    if (word == "ID") {
        out = static_cast<std::uint8_t>(id);
        return true;
    }
    char* end = nullptr;
    unsigned long value = std::strtoul(word.c_str(), &end, 16);
    if (end == word.c_str() || *end != '\0' || value > 0xFF) {
        return false;
    }
    out = static_cast<std::uint8_t>(value);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: firmware_exchange_table LINK TABLE MODE ID\n";
        return 2;
    }
    const std::string mode = argv[3];
    const int id = static_cast<int>(std::strtoul(argv[4], nullptr, 0));
    std::ifstream table(argv[2]);
    if (!table) {
        std::cerr << "cannot read " << argv[2] << "\n";
        return 2;
    }
    int fd = open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::cerr << "cannot open " << argv[1] << ": " << std::strerror(errno) << "\n";
        return 2;
    }
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B9600);
    tcsetattr(fd, TCSANOW, &tio);
    tcflush(fd, TCIOFLUSH);

    std::string line;
    int lineNumber = 0;
    int rows = 0;
    int failures = 0;
    while (std::getline(table, line)) {
        ++lineNumber;
        std::string text = line.substr(0, line.find(';'));
        std::istringstream words(text);
        std::string modes;
        if (!(words >> modes)) {
            continue;
        }
        if (modes != "both" && modes != mode) {
            continue;
        }
        std::string word;
        std::uint8_t request = 0;
        if (!(words >> word) || !ParseByte(word, id, request) || !(words >> word) || word != ">") {
            std::cerr << argv[2] << ":" << lineNumber << ": malformed row\n";
            return 2;
        }
        std::vector<std::uint8_t> expected;
        bool wait = true;
        while (words >> word) {
            if (word == "..") {
                wait = false;
                continue;
            }
            std::uint8_t b = 0;
            if (!ParseByte(word, id, b)) {
                std::cerr << argv[2] << ":" << lineNumber << ": malformed byte " << word << "\n";
                return 2;
            }
            expected.push_back(b);
        }
        if (write(fd, &request, 1) != 1) {
            std::cerr << "cannot send: " << std::strerror(errno) << "\n";
            return 1;
        }
        if (!wait) {
            ++rows;
            continue;
        }
        std::vector<std::uint8_t> got = expected.empty()
                                            ? Receive(fd, 0, kSilenceMs)
                                            : Receive(fd, expected.size(), kReplyLimitMs);
        ++rows;
        if (got != expected) {
            ++failures;
            std::cerr << argv[2] << ":" << lineNumber << ": sent " << Hex({request})
                      << ", expected " << Hex(expected) << ", got " << Hex(got) << "    (" << line
                      << ")\n";
        }
    }
    close(fd);
    std::cout << mode << ": " << rows << " exchanges, " << failures << " wrong\n";
    return failures == 0 ? 0 : 1;
}
