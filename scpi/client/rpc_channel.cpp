#include "rpc_channel.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "scpi/client/tcp_connect.h"

namespace tarnel::scpi::client {

namespace {

// Blocks SIGPIPE on this thread for its lifetime, and drops a SIGPIPE that a
// write raised meanwhile: libtirpc writes with write(), and a peer that has
// gone would otherwise end the process instead of failing the call.
class SigpipeBlocked {
public:
    SigpipeBlocked() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    }
    ~SigpipeBlocked() {
        sigset_t pending;
        sigpending(&pending);
        if (!alreadyPending_ && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{};
            while (sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeBlocked(const SigpipeBlocked&) = delete;
    SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

private:
    sigset_t pipe_;
    sigset_t previous_;
    bool alreadyPending_ = false;
};

timeval TimeValue(std::chrono::milliseconds duration) {
    const long long ms = std::max<long long>(duration.count(), 1);
    return timeval{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
}

RpcResult Outcome(clnt_stat status, const rpc_err& error) {
    switch (status) {
    case RPC_SUCCESS:
        return {};
    case RPC_TIMEDOUT:
        return {RpcOutcome::TimedOut, "no reply"};
    case RPC_CANTSEND:
        if (error.re_errno == EAGAIN || error.re_errno == EWOULDBLOCK) return {RpcOutcome::TimedOut, "took no bytes"};
        return {RpcOutcome::Closed, std::strerror(error.re_errno)};
    case RPC_CANTRECV:
        return {RpcOutcome::Closed, error.re_errno == ECONNRESET ? "connection closed" : std::strerror(error.re_errno)};
    case RPC_PROGUNAVAIL:
    case RPC_PROGVERSMISMATCH:
    case RPC_PROCUNAVAIL:
        return {RpcOutcome::NotServed, clnt_sperrno(status)};
    default:
        return {RpcOutcome::Garbled, clnt_sperrno(status)};
    }
}

}  // namespace

std::chrono::milliseconds TimeLeft(RpcChannel::Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - RpcChannel::Clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

std::unique_ptr<RpcChannel> RpcChannel::Connect(const std::string& host, std::uint16_t port, rpcprog_t program,
                                                rpcvers_t version, std::chrono::milliseconds timeout,
                                                std::string& reason) {
    const int fd = ConnectTcp(host, port, timeout, reason);
    if (fd < 0) return nullptr;
    // libtirpc waits for replies with poll() and writes with write(): a
    // blocking socket, whose writes the send timeout of each call bounds.
    const int flags = ::fcntl(fd, F_GETFL);
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
        reason = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    netbuf address{static_cast<unsigned>(sizeof peer), static_cast<unsigned>(length), &peer};
    CLIENT* client = nullptr;
    {
        const SigpipeBlocked blocked;
        client = clnt_vc_create(fd, &address, program, version, 0, 0);
    }
    if (client == nullptr) {
        reason = clnt_sperrno(rpc_createerr.cf_stat);
        ::close(fd);
        return nullptr;
    }
    clnt_control(client, CLSET_FD_CLOSE, nullptr);
    return std::unique_ptr<RpcChannel>(new RpcChannel(client, port));
}

RpcChannel::~RpcChannel() { clnt_destroy(client_); }

RpcResult RpcChannel::Call(rpcproc_t procedure, xdrproc_t encode, void* arguments, xdrproc_t decode, void* result,
                           std::chrono::milliseconds timeout) {
    int fd = -1;
    clnt_control(client_, CLGET_FD, reinterpret_cast<char*>(&fd));
    const timeval wait = TimeValue(timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    const SigpipeBlocked blocked;
    const clnt_stat status = clnt_call(client_, procedure, encode, reinterpret_cast<char*>(arguments), decode,
                                       reinterpret_cast<char*>(result), wait);
    rpc_err error{};
    clnt_geterr(client_, &error);
    return Outcome(status, error);
}

void RpcChannel::Free(xdrproc_t decode, void* result) { clnt_freeres(client_, decode, reinterpret_cast<char*>(result)); }

}  // namespace tarnel::scpi::client
