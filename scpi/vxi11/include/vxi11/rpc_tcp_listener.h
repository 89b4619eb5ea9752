// ONC RPC on TCP: a listening socket and one thread per connection, each
// connection with its own session. Records are reassembled up to a limit; a
// record too long or not an RPC call closes that connection only. A client
// the admission check refuses is told nothing: its refusal is logged and the
// connection closed.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "vxi11/rpc_session.h"

namespace tarnel::vxi11 {

// A refusal line for a peer not let in; nothing to let it in.
using AdmissionCheck = std::function<std::optional<std::string>(const sockaddr_storage& peer)>;
using LogLine = std::function<void(const std::string&)>;

struct RpcListenerSettings {
    std::string name;                   // in log lines: "VXI-11 core channel"
    std::string host = "0.0.0.0";       // a numeric IPv4 or IPv6 address
    std::uint16_t port = 0;             // 0: any free port
    unsigned mostConnections = 32;
    std::size_t longestRecord = 1024 * 1024;
    AdmissionCheck admit;               // empty: everyone
    LogLine log;
};

class RpcTcpListener {
public:
    using SessionFactory = std::function<std::unique_ptr<RpcSession>()>;

    RpcTcpListener(RpcListenerSettings settings, SessionFactory openSession);
    ~RpcTcpListener();
    RpcTcpListener(const RpcTcpListener&) = delete;
    RpcTcpListener& operator=(const RpcTcpListener&) = delete;

    // Binds and starts accepting; the reason when it cannot.
    std::optional<std::string> Listen();
    std::uint16_t Port() const { return port_; }
    // Stops accepting, closes every connection and waits for their threads;
    // a call still running must first be released by its session's owner.
    void Stop();

private:
    struct Connection {
        int socket = -1;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void AcceptLoop();
    void Serve(Connection& connection);
    void ReapFinished();
    void Log(const std::string& line) const;

    RpcListenerSettings settings_;
    SessionFactory openSession_;
    int listener_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::thread acceptThread_;
    std::mutex connectionsMutex_;
    std::list<Connection> connections_;
    bool stopping_ = false;   // under connectionsMutex_
};

// "192.0.2.7:40312" ("[2001:db8::7]:40312").
std::string PeerText(const sockaddr_storage& peer);

}  // namespace tarnel::vxi11
