#include "fake_vxi11_server.h"

#include <netinet/in.h>
#include <poll.h>
#include <rpc/rpc.h>
#include <rpc/pmap_prot.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vxi11.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace tarnel::scpi::client::testing {

namespace {

FakeVxi11Server* serving = nullptr;

constexpr long kEndReason = 4;
constexpr long kRequestCountReason = 1;
constexpr long kIoTimeout = 15;

// An XDR routine as libtirpc takes it (through void(*)(), the cast that
// compilers accept between function types).
template <typename Routine>
xdrproc_t Xdr(Routine routine) {
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(routine));
}

// A listening socket on every address of the host, IPv4 and IPv6, at port (0: any).
int Listen(std::uint16_t port) {
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    const int no = 0;
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    address.sin6_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0) {
        const std::string problem = std::strerror(errno);
        ::close(fd);
        throw std::runtime_error("cannot listen on port " + std::to_string(port) + ": " + problem);
    }
    return fd;
}

std::uint16_t PortOf(int fd) {
    sockaddr_in6 address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin6_port);
}

SVCXPRT* ServeProgram(int fd, rpcprog_t program, rpcvers_t version, void (*dispatch)(svc_req*, SVCXPRT*)) {
    SVCXPRT* transport = svc_vc_create(fd, 0, 0);
    if (transport == nullptr) throw std::runtime_error("svc_vc_create failed");
    // No netconfig: registered with this process's dispatch only, not with any portmapper.
    if (!svc_reg(transport, program, version, dispatch, nullptr)) throw std::runtime_error("svc_reg failed");
    return transport;
}

}  // namespace

struct Dispatch {
    template <typename Arguments>
    static bool Take(SVCXPRT* transport, xdrproc_t decode, Arguments& arguments) {
        if (svc_getargs(transport, decode, reinterpret_cast<char*>(&arguments))) return true;
        svcerr_decode(transport);
        return false;
    }

    template <typename Result>
    static void Answer(FakeVxi11Server& fake, SVCXPRT* transport, xdrproc_t encode, Result& result) {
        const int answered = fake.script_.answeredCalls;
        if (answered < 0 || static_cast<int>(fake.calls_.size()) <= answered) {
            svc_sendreply(transport, encode, &result);
        }
    }

    static void Core(svc_req* request, SVCXPRT* transport) {
        FakeVxi11Server& fake = *serving;
        const std::lock_guard lock(fake.mutex_);
        Vxi11Script& script = fake.script_;
        switch (request->rq_proc) {
        case NULLPROC:
            svc_sendreply(transport, Xdr(xdr_void), nullptr);
            return;
        case create_link: {
            Create_LinkParms asked{};
            if (!Take(transport, Xdr(xdr_Create_LinkParms), asked)) return;
            fake.calls_.push_back(std::string("create_link ") + asked.device);
            svc_freeargs(transport, Xdr(xdr_Create_LinkParms), reinterpret_cast<char*>(&asked));
            Create_LinkResp link{script.linkError, 7, 0, script.maxRecvSize};
            Answer(fake, transport, Xdr(xdr_Create_LinkResp), link);
            return;
        }
        case device_write: {
            Device_WriteParms asked{};
            if (!Take(transport, Xdr(xdr_Device_WriteParms), asked)) return;
            const std::size_t taken = std::min<std::size_t>(asked.data.data_len, script.writeTakes);
            fake.calls_.push_back("device_write");
            fake.writes_.push_back({std::string(asked.data.data_val, taken), asked.flags, asked.io_timeout});
            svc_freeargs(transport, Xdr(xdr_Device_WriteParms), reinterpret_cast<char*>(&asked));
            Device_WriteResp written{0, taken};
            Answer(fake, transport, Xdr(xdr_Device_WriteResp), written);
            return;
        }
        case device_read: {
            Device_ReadParms asked{};
            if (!Take(transport, Xdr(xdr_Device_ReadParms), asked)) return;
            fake.calls_.push_back("device_read");
            fake.readRequestSizes_.push_back(asked.requestSize);
            fake.readIoTimeouts_.push_back(asked.io_timeout);
            Device_ReadResp read{script.readError, 0, {0, nullptr}};
            fake.readData_.clear();
            if (script.readError == 0 && script.replies.empty()) read.error = kIoTimeout;
            if (read.error == 0) {
                const std::string& whole = script.replies.front();
                std::size_t length = std::min({std::size_t{asked.requestSize}, script.readPiece,
                                               whole.size() - fake.replyOffset_});
                fake.readData_ = whole.substr(fake.replyOffset_, length);
                fake.replyOffset_ += length;
                if (script.overlongReads) fake.readData_.resize(asked.requestSize + 5, 'x');
                read.reason = kRequestCountReason;
                if (fake.replyOffset_ == whole.size()) {
                    read.reason = kEndReason;
                    script.replies.erase(script.replies.begin());
                    fake.replyOffset_ = 0;
                }
                read.data = {static_cast<u_int>(fake.readData_.size()), fake.readData_.data()};
            }
            Answer(fake, transport, Xdr(xdr_Device_ReadResp), read);
            return;
        }
        case device_readstb:
        case device_clear: {
            Device_GenericParms asked{};
            if (!Take(transport, Xdr(xdr_Device_GenericParms), asked)) return;
            if (request->rq_proc == device_clear) {
                fake.calls_.push_back("device_clear");
                Device_Error cleared{0};
                Answer(fake, transport, Xdr(xdr_Device_Error), cleared);
            } else {
                fake.calls_.push_back("device_readstb");
                Device_ReadStbResp status{0, script.statusByte};
                Answer(fake, transport, Xdr(xdr_Device_ReadStbResp), status);
            }
            return;
        }
        case destroy_link: {
            Device_Link link = 0;
            if (!Take(transport, Xdr(xdr_Device_Link), link)) return;
            fake.calls_.push_back("destroy_link");
            Device_Error destroyed{0};
            Answer(fake, transport, Xdr(xdr_Device_Error), destroyed);
            return;
        }
        default:
            svcerr_noproc(transport);
        }
    }

    static void Portmapper(svc_req* request, SVCXPRT* transport) {
        if (request->rq_proc == PMAPPROC_NULL) {
            svc_sendreply(transport, Xdr(xdr_void), nullptr);
            return;
        }
        if (request->rq_proc != PMAPPROC_GETPORT) {
            svcerr_noproc(transport);
            return;
        }
        pmap asked{};
        if (!Take(transport, Xdr(xdr_pmap), asked)) return;
        const FakeVxi11Server& fake = *serving;
        u_long port = 0;
        if (fake.script_.coreRegistered && asked.pm_prog == DEVICE_CORE && asked.pm_vers == DEVICE_CORE_VERSION &&
            asked.pm_prot == IPPROTO_TCP) {
            port = fake.corePort_;
        }
        svc_sendreply(transport, Xdr(xdr_u_long), &port);
    }
};

FakeVxi11Server::FakeVxi11Server(Vxi11Script script) : script_(std::move(script)) {
    serving = this;
    const int core = Listen(0);
    corePort_ = PortOf(core);
    coreTransport_ = ServeProgram(core, DEVICE_CORE, DEVICE_CORE_VERSION, Dispatch::Core);
    if (script_.portmapper) portmapperTransport_ = ServeProgram(Listen(PMAPPORT), PMAPPROG, PMAPVERS, Dispatch::Portmapper);
    thread_ = std::thread([this] { Serve(); });
}

FakeVxi11Server::~FakeVxi11Server() {
    stopping_ = true;
    thread_.join();
    svc_destroy(static_cast<SVCXPRT*>(coreTransport_));
    if (portmapperTransport_ != nullptr) svc_destroy(static_cast<SVCXPRT*>(portmapperTransport_));
    serving = nullptr;
}

void FakeVxi11Server::Serve() {
    const int listening = portmapperTransport_ != nullptr ? 2 : 1;
    const auto open = [] {
        return std::count_if(svc_pollfd, svc_pollfd + svc_max_pollfd, [](const pollfd& entry) { return entry.fd >= 0; });
    };
    // Once asked to stop, it serves on until the clients have closed their
    // connections (each then destroyed by libtirpc), for at most a second.
    std::optional<std::chrono::steady_clock::time_point> drainedBy;
    for (;;) {
        if (stopping_) {
            if (!drainedBy) drainedBy = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            if (open() <= listening || std::chrono::steady_clock::now() > *drainedBy) return;
        }
        std::vector<pollfd> ready(svc_pollfd, svc_pollfd + svc_max_pollfd);
        const int count = ::poll(ready.data(), ready.size(), 10);
        if (count > 0) svc_getreq_poll(ready.data(), count);
    }
}

std::vector<std::string> FakeVxi11Server::Calls() const {
    const std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<RecordedWrite> FakeVxi11Server::Writes() const {
    const std::lock_guard lock(mutex_);
    return writes_;
}

std::vector<unsigned long> FakeVxi11Server::ReadRequestSizes() const {
    const std::lock_guard lock(mutex_);
    return readRequestSizes_;
}

std::vector<unsigned long> FakeVxi11Server::ReadIoTimeouts() const {
    const std::lock_guard lock(mutex_);
    return readIoTimeouts_;
}

}  // namespace tarnel::scpi::client::testing
