// A served instrument on a raw TCP socket (one message per line, a reply
// line for each message that has one): accepts clients on one address, up
// to a number at once, and submits their lines to the instrument, which runs
// them as its dispatch mode says. Accepting, reading and writing happen on
// the server's own loop thread, so a slow instrument never holds them up.
//
//   ServedInstrument instrument(MeterCommands(meter), DispatchMode::OneAtATime);
//   ServerSettings settings;
//   settings.address = {"127.0.0.1", 5025};
//   settings.log = log;
//   RawSocketServer server(instrument, settings);
//   if (auto failure = server.Listen()) ...;
//   signals.Wait();
//   server.Stop();
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "scpi/client_connection.h"
#include "scpi/listen_address.h"
#include "scpi/served_instrument.h"
#include "scpi/service_notifier.h"
#include "scpi/tcp_listener.h"

namespace tarnel::scpi {

struct ServerSettings {
    ListenAddress address;
    unsigned maxClients = kDefaultMaxClients;
    std::function<void(const std::string&)> log;   // a line on the server's stderr; called from the loop thread
    // The option that sets maxClients, as the line on a client refused for
    // the limit names it ("--max-clients"); empty: the program has none.
    std::string maxClientsOption;
    // Whether a new client may connect: a refusal line, which is logged and
    // sent to the client before its connection is closed, or nothing to
    // admit it. Called on the loop thread; empty: every client is admitted.
    std::function<std::optional<std::string>(const sockaddr_storage& peer)> admit;
    // Whether this server is the program's service and tells a service
    // manager that asked for it (NOTIFY_SOCKET) how it is doing; a second
    // server in the same process (the emulated meter's) leaves that alone.
    bool notifiesServiceManager = false;
};

class RawSocketServer {
public:
    // The instrument outlives the server.
    RawSocketServer(ServedInstrument& instrument, ServerSettings settings);
    ~RawSocketServer();   // Stop
    RawSocketServer(const RawSocketServer&) = delete;
    RawSocketServer& operator=(const RawSocketServer&) = delete;

    // Starts listening and serving on the loop thread; "cannot listen on
    // ADDRESS: REASON" when it cannot. Once it listens, with
    // notifiesServiceManager, a service manager that asked for it is told it
    // is ready, and its watchdog is pinged from the loop.
    std::optional<std::string> Listen();
    // The address listened on, with the port the system picked for port 0.
    const ListenAddress& ListeningOn() const { return listener_.Bound(); }

    // Stops accepting; the messages not started are dropped, those running
    // finish and their replies go out (to clients that read them within a
    // few seconds); every connection is closed. From any thread but the loop's.
    void Stop();

private:
    void Loop();
    void Accept();
    bool Admitted(int socket, const sockaddr_storage& peer);
    void Pump(std::uint64_t id);
    // From the workers: a reply for the loop to deliver.
    void PostAnswer(std::uint64_t id, std::optional<std::string> reply);
    void DeliverAnswers(bool pumping);
    void Wake();
    void Shutdown();
    void Log(const std::string& line) const;
    std::size_t OpenClients() const;

    ServedInstrument& instrument_;
    ServerSettings settings_;
    TcpListener listener_;
    std::optional<ServiceNotifier> serviceManager_;   // with notifiesServiceManager only
    int wake_ = -1;   // an eventfd: answers waiting, or a stop asked for
    std::atomic<bool> stopRequested_ = false;
    std::mutex answersMutex_;
    std::deque<std::pair<std::uint64_t, std::optional<std::string>>> answers_;
    // The loop thread's own:
    std::map<std::uint64_t, std::unique_ptr<ClientConnection>> connections_;
    std::uint64_t lastId_ = 0;
    std::chrono::steady_clock::time_point acceptPausedUntil_{};
    bool acceptFailureLogged_ = false;
    std::thread loop_;   // last: runs once everything above exists
};

}  // namespace tarnel::scpi
