// One client of the server: its socket, its input cut into lines, its own
// error queue and status registers, and the few messages it may have waiting
// for the message worker. Those run in the order they were sent, and their
// replies come back in that order. It hands out a line only while fewer than
// kMostRunning are out and its unsent replies are few, so that a client that
// floods the server, or never reads, fills its own TCP window instead of the
// server's memory and takes no more than its share of the instrument.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "scpi/connection_state.h"
#include "scpi/input_lines.h"

class QTcpSocket;

namespace tarnel::scpi {

class ClientConnection {
public:
    explicit ClientConnection(QTcpSocket* socket);   // takes the socket
    ~ClientConnection();                             // closes it
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;

    const std::shared_ptr<ConnectionState>& State() const { return state_; }

    // Lines handed out and not yet answered, at the most.
    static constexpr unsigned kMostRunning = 4;

    // The next line to run, when the connection is ready for one. Each line
    // handed out gets one Answer, in the same order.
    std::optional<InputLines::Line> TakeLine();
    void Answer(const std::optional<std::string>& reply);

    // The client closed its end: the lines already received still run (their
    // replies have nowhere to go).
    void PeerClosed();
    bool Open() const { return open_; }
    // Closed, nothing running and nothing left to run.
    bool Finished();

private:
    // Moves what the socket holds into lines_ until a line is complete.
    void ReadUntilLine();

    QTcpSocket* socket_;
    std::shared_ptr<ConnectionState> state_ = std::make_shared<ConnectionState>();
    InputLines lines_;
    std::optional<InputLines::Line> next_;
    unsigned running_ = 0;
    bool open_ = true;
};

}  // namespace tarnel::scpi
