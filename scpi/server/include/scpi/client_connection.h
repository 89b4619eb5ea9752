// One client of the raw socket server, on the server's loop thread: its
// socket, its input cut into lines, the replies not yet sent, and its client
// of the served instrument. Its messages run in the order they were sent and
// their replies go out in that order. It hands out a line only while fewer
// than kMostRunning are out and its unsent replies are few, and reads from
// the socket only when it has no line left, so that a client that floods the
// server, or never reads, fills its own TCP window instead of the server's
// memory and takes no more than its share of the instrument.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "scpi/input_lines.h"
#include "scpi/served_instrument.h"

namespace tarnel::scpi {

class ClientConnection {
public:
    // Takes the socket (non-blocking).
    ClientConnection(int socket, std::unique_ptr<InstrumentClient> client);
    ~ClientConnection();   // closes the instrument's client (see Close there), then the socket
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;

    // Lines handed out and not yet answered, at the most.
    static constexpr unsigned kMostRunning = 4;

    InstrumentClient& Client() { return *client_; }
    int Socket() const { return socket_; }
    // What to poll the socket for now (0: nothing).
    short Events() const;

    // The socket is readable, or reports a hang-up or an error.
    void OnReadable();
    // The socket takes more: as much of the unsent replies as it takes.
    void SendSome();

    // The next line to run, when the connection is ready for one. Each line
    // handed out gets one Answer, in the same order.
    std::optional<InputLines::Line> TakeLine();
    void Answer(const std::optional<std::string>& reply);

    // Whether the client still holds its end of the connection: false as soon
    // as it has closed it, even while the loop has not yet read up to that
    // (a client that closes and connects again at once is not counted twice).
    bool Open() const;
    bool HasUnsent() const { return !unsent_.empty(); }
    // Closed, nothing running and nothing left to run.
    bool Finished();

private:
    void PeerClosed();

    int socket_;
    std::unique_ptr<InstrumentClient> client_;
    InputLines lines_;
    std::optional<InputLines::Line> next_;
    std::string unsent_;
    unsigned running_ = 0;
    bool open_ = true;
};

}  // namespace tarnel::scpi
