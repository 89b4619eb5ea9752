// A SCPI instrument on TCP: accepts clients on one TCP address, up to a
// number at once, and runs their messages through the instrument's command
// table on one worker thread in the order they arrive, so each client's
// replies come in the order of its messages. Everything but running the
// commands happens on the thread that runs the Qt event loop; a slow
// instrument never holds up accepting or reading clients.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QTcpServer>

#include "scpi/client_connection.h"
#include "scpi/command_table.h"
#include "scpi/listen_address.h"
#include "scpi/message_worker.h"

namespace tarnel::scpi {

struct ServerSettings {
    ListenAddress address;
    unsigned maxClients = kDefaultMaxClients;
    std::function<void(const std::string&)> log;   // a line on the server's stderr
};

class ScpiServer : public QObject {
public:
    // What the table's handlers capture must outlive the server.
    ScpiServer(CommandTable table, ServerSettings settings);
    ~ScpiServer() override;

    // Starts listening; the reason when it cannot.
    std::optional<std::string> Listen();
    // The address listened on, "127.0.0.1:5025" ("[::1]:5025").
    std::string ListeningOn() const;

    // Stops accepting; the message running finishes and its
    // reply goes out; every connection is closed.
    void Stop();

private:
    void Accept();
    void Pump(std::uint64_t id);
    void Run(std::uint64_t id, std::shared_ptr<ConnectionState> state, InputLines::Line line);
    void Deliver(std::uint64_t id, const std::optional<std::string>& reply);
    void Log(const std::string& line) const;
    std::size_t OpenClients() const;

    ServerSettings settings_;
    const CommandTable table_;
    MessageWorker worker_;   // after the table: stops before it goes
    QTcpServer listener_;
    std::map<std::uint64_t, std::unique_ptr<ClientConnection>> connections_;
    std::uint64_t lastId_ = 0;
};

}  // namespace tarnel::scpi
