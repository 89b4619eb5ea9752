#include "vxi11/portmapper.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <rpc/pmap_clnt.h>
#include <rpc/pmap_prot.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "vxi11/bound_socket.h"
#include "vxi11/xdr_body.h"

namespace tarnel::vxi11 {

namespace {

// The portmapper's numbers as libtirpc writes them.
constexpr std::uint32_t kPortmapperProgram = PMAPPROG;
constexpr std::uint32_t kPortmapperVersion = PMAPVERS;
constexpr std::uint32_t kProcedureNull = PMAPPROC_NULL;
constexpr std::uint32_t kProcedureGetPort = PMAPPROC_GETPORT;
constexpr std::size_t kLongestDatagram = 8192;

}  // namespace

RpcAnswer PortmapperSession::Answer(const RpcCall& call) {
    if (call.program != kPortmapperProgram) return RpcAnswer::Refused(AcceptState::ProgramUnavailable);
    // rpcbind's versions 3 and 4 are not answered: clients fall back to 2.
    if (call.version != kPortmapperVersion) return RpcAnswer::Versions(kPortmapperVersion, kPortmapperVersion);
    if (call.procedure == kProcedureNull) return RpcAnswer::Results({});
    if (call.procedure != kProcedureGetPort) return RpcAnswer::Refused(AcceptState::ProcedureUnavailable);
    XdrArguments<pmap> asked(xdr_pmap);
    if (!asked.Decode(call.arguments)) return RpcAnswer::Refused(AcceptState::GarbageArguments);
    u_int port = 0;   // 0: not registered
    for (const PortMapping& mapping : mappings_) {
        if (mapping.program == asked->pm_prog && mapping.version == asked->pm_vers && mapping.protocol == asked->pm_prot) {
            port = mapping.port;
        }
    }
    return RpcAnswer::Results(EncodeXdr(xdr_u_int, port));
}

Portmapper::Portmapper(std::vector<PortMapping> mappings, LogLine log) : mappings_(std::move(mappings)), log_(std::move(log)) {}

Portmapper::~Portmapper() { Stop(); }

Portmapper::Mode Portmapper::Start(std::uint16_t ownPort, const std::string& host) {
    if (RpcbindRuns()) {
        mode_ = Register() ? Mode::Registered : Mode::Absent;
    } else {
        mode_ = Answer(ownPort, host) ? Mode::Answering : Mode::Absent;
    }
    return mode_;
}

void Portmapper::Stop() {
    if (mode_ == Mode::Registered) {
        for (const PortMapping& mapping : mappings_) ::pmap_unset(mapping.program, mapping.version);
    }
    if (tcp_) tcp_->Stop();
    tcp_.reset();
    if (udpThread_.joinable()) {
        const char wake = 0;
        [[maybe_unused]] const ssize_t written = ::write(wakePipe_[1], &wake, 1);
        udpThread_.join();
    }
    for (int* descriptor : {&udp_, &wakePipe_[0], &wakePipe_[1]}) {
        if (*descriptor >= 0) ::close(*descriptor);
        *descriptor = -1;
    }
    mode_ = Mode::Absent;
}

bool Portmapper::RpcbindRuns() const {
    // Asked on this network's loopback, so that a server in a network
    // namespace of its own does not take the host's rpcbind for its own.
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(111);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool answers = ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    return answers;
}

bool Portmapper::Register() {
    for (const PortMapping& mapping : mappings_) {
        ::pmap_unset(mapping.program, mapping.version);
        if (!::pmap_set(mapping.program, mapping.version, static_cast<int>(mapping.protocol), mapping.port)) {
            Log("portmapper: rpcbind refused to register program " + std::to_string(mapping.program) +
                "; VXI-11 clients must be given port " + std::to_string(mapping.port) + " (is rpcbind running with -w?)");
            for (const PortMapping& registered : mappings_) ::pmap_unset(registered.program, registered.version);
            return false;
        }
    }
    return true;
}

bool Portmapper::Answer(std::uint16_t port, const std::string& host) {
    RpcListenerSettings settings;
    settings.name = "portmapper";
    settings.host = host;
    settings.port = port;
    settings.longestRecord = kLongestDatagram;
    settings.log = log_;
    auto tcp = std::make_unique<RpcTcpListener>(settings, [this] { return std::make_unique<PortmapperSession>(mappings_); });
    const BoundSocket udp = BindSocket(host, port, SOCK_DGRAM);
    std::optional<std::string> failure = udp.descriptor < 0 ? udp.failure : tcp->Listen();
    if (failure) {
        if (udp.descriptor >= 0) ::close(udp.descriptor);
        Log("portmapper: no rpcbind runs and " + *failure +
            " (port 111 needs root or CAP_NET_BIND_SERVICE); VXI-11 clients must be given the core port " +
            std::to_string(mappings_.empty() ? 0 : mappings_.front().port));
        return false;
    }
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        ::close(udp.descriptor);
        Log(std::string("portmapper: cannot make a pipe: ") + std::strerror(errno));
        return false;
    }
    tcp_ = std::move(tcp);
    udp_ = udp.descriptor;
    udpThread_ = std::thread([this] { AnswerDatagrams(); });
    return true;
}

void Portmapper::AnswerDatagrams() {
    PortmapperSession session(mappings_);
    std::string datagram(kLongestDatagram, '\0');
    while (true) {
        pollfd waits[2] = {{udp_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            Log(std::string("portmapper: stopped answering on UDP: ") + std::strerror(errno));
            return;
        }
        if (waits[1].revents != 0) return;
        sockaddr_storage peer{};
        socklen_t peerLength = sizeof peer;
        const ssize_t received =
            ::recvfrom(udp_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&peer), &peerLength);
        if (received <= 0) continue;
        const auto reply = AnswerMessage(std::string_view(datagram.data(), static_cast<std::size_t>(received)), session);
        // A datagram that is no call gets no answer: UDP has no connection to close.
        if (reply) ::sendto(udp_, reply->data(), reply->size(), 0, reinterpret_cast<sockaddr*>(&peer), peerLength);
    }
}

void Portmapper::Log(const std::string& line) const {
    if (log_) log_(line);
}

}  // namespace tarnel::vxi11
