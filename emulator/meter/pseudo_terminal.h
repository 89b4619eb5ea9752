// A pseudo-terminal that stands for a serial device: its client side is
// reached through a symbolic link (LINK), the emulator works on the other
// side. The emulator keeps the client side open itself, so that a client
// that closes the port and opens it again finds it as it was (and the
// emulator's side never sees the end of the line before Close). Reads and
// writes wait until they can go on or Wake is called.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "line_frames.h"

namespace tarnel::emulator {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();   // Close
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Opens the terminal, sets its client side raw at `baud` 8N1 and makes
    // link a symbolic link to it: a stale link is replaced, anything else
    // at that path is refused. The reason when it cannot.
    std::optional<std::string> Open(const std::string& link, unsigned baud);
    // Removes the link and closes both sides: a client still holding the
    // port reads the end of the line, as from an unplugged adapter.
    void Close();

    // Ends every Read and Write under way and every one after.
    void Wake();

    // Appends what the client wrote to into; false once woken.
    bool Read(std::string& into);
    // All of bytes to the client; false once woken.
    bool Write(std::string_view bytes);
    // All of bytes, a byte every byteTime as a line of that speed carries them; false once woken.
    bool WritePaced(std::string_view bytes, std::chrono::nanoseconds byteTime);
    // Waits for duration; false when woken first.
    bool Sleep(std::chrono::nanoseconds duration);

    // The baud rate and frame the client set on its side (its tcsetattr).
    LineFrame ClientFrame() const;
    const std::string& ClientPath() const { return clientPath_; }

private:
    // Until fd is ready for events (true) or Wake (false), or until deadline (true).
    bool Await(int fd, short events, std::optional<std::chrono::steady_clock::time_point> deadline);

    int emulatorSide_ = -1;   // the pseudo-terminal's master, non-blocking
    int clientSide_ = -1;     // kept open, so that the line stays up between clients
    int wake_ = -1;           // an eventfd, readable once Wake is called
    std::string clientPath_;
    std::string link_;
};

}  // namespace tarnel::emulator
