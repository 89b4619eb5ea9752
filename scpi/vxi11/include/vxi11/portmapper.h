// How VXI-11 clients learn the core channel's port: from the portmapper on
// port 111. Where rpcbind runs, the programs are registered with it (any
// stale registration of theirs removed first) and removed again on Stop.
// Where none runs and the process may bind port 111 (root, or
// CAP_NET_BIND_SERVICE), the server answers the portmapper's NULL and
// GETPORT (version 2) for its own programs itself, on TCP and on UDP (UDP
// also takes the broadcasts that discovery tools send). Otherwise one log
// line says so and the instruments stay served without it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "vxi11/rpc_session.h"
#include "vxi11/rpc_tcp_listener.h"

namespace tarnel::vxi11 {

struct PortMapping {
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    std::uint32_t protocol = 0;   // IPPROTO_TCP or IPPROTO_UDP
    std::uint16_t port = 0;
};

// The portmapper program's answers for a fixed set of mappings.
class PortmapperSession : public RpcSession {
public:
    explicit PortmapperSession(std::vector<PortMapping> mappings) : mappings_(std::move(mappings)) {}
    RpcAnswer Answer(const RpcCall& call) override;

private:
    std::vector<PortMapping> mappings_;
};

class Portmapper {
public:
    enum class Mode { Registered, Answering, Absent };

    Portmapper(std::vector<PortMapping> mappings, LogLine log);
    ~Portmapper();
    Portmapper(const Portmapper&) = delete;
    Portmapper& operator=(const Portmapper&) = delete;

    // ownPort: where to answer when no rpcbind runs (111; another for tests),
    // on host (every address, or one such as 127.0.0.1).
    Mode Start(std::uint16_t ownPort = 111, const std::string& host = "0.0.0.0");
    void Stop();

private:
    bool RpcbindRuns() const;
    bool Register();
    bool Answer(std::uint16_t port, const std::string& host);
    void AnswerDatagrams();
    void Log(const std::string& line) const;

    const std::vector<PortMapping> mappings_;
    LogLine log_;
    Mode mode_ = Mode::Absent;
    std::unique_ptr<RpcTcpListener> tcp_;
    int udp_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::thread udpThread_;
};

}  // namespace tarnel::vxi11
