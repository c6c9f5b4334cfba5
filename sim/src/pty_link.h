// The pseudo-terminal mcsim serves and the symbolic link that publishes it.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

struct PtyLink {
    int master = -1;
    int slave = -1; // held open so the terminal keeps its settings between PC sessions
    std::string slaveName;
    std::string linkPath;
};

// Opens a pseudo-terminal, raw 8N1 at 9600 baud until the PC sets it up its own way.
bool OpenPty(PtyLink& pty, std::string& error);
// Points a symbolic link at path to the slave, replacing an older link in one step. Anything
// at path that is not a symbolic link is left alone and reported.
bool PublishLink(PtyLink& pty, const std::string& path, std::string& error);
// Removes the link if it still points to this terminal, then closes the terminal.
void ClosePty(PtyLink& pty);

// The rate the PC has set on the terminal (any rate, also non-standard ones); 0 when it
// cannot be read.
std::uint32_t PtyBaud(int fd);

} // namespace sim
