// The meter's TCP side: accepts up to kMostClients clients at once on one
// address and serves each on a thread of its own, line by line, a reply line
// for each message that has one. A client whose message waits for readings
// holds up only itself; accepting and the other clients go on.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "scpi/input_lines.h"

#include "meter_address.h"

namespace tarnel::emulator {

class MeterServer {
public:
    static constexpr unsigned kMostClients = 8;

    // Runs one line of a client; nothing when it has no reply. May throw to
    // end the client's connection.
    using LineRunner = std::function<std::optional<std::string>(const scpi::InputLines::Line&)>;
    // Makes the runner of a new client (which keeps that client's own state).
    using ClientStart = std::function<LineRunner()>;

    // log takes a line about a client refused (the most are connected).
    MeterServer(ClientStart start, std::function<void(const std::string&)> log);
    ~MeterServer();   // Stop
    MeterServer(const MeterServer&) = delete;
    MeterServer& operator=(const MeterServer&) = delete;

    // Starts listening and accepting; the reason when it cannot.
    std::optional<std::string> Listen(const MeterAddress& address);
    // The address listened on, with the port the system picked for port 0.
    const MeterAddress& ListeningOn() const { return bound_; }

    // Stops accepting, closes every connection and ends every thread. A
    // runner that waits must be woken by its owner first.
    void Stop();

private:
    struct Client {
        int socket = -1;
        std::thread thread;
        bool done = false;
    };

    void Accept();
    void Serve(Client& client);
    // Joins the threads of the clients that have gone.
    void ReapFinished();
    unsigned OpenClients();

    ClientStart start_;
    std::function<void(const std::string&)> log_;
    MeterAddress bound_;
    int listener_ = -1;
    int wake_ = -1;   // an eventfd, readable once Stop is asked for
    std::mutex mutex_;
    std::list<Client> clients_;
    std::thread acceptor_;
};

}  // namespace tarnel::emulator
