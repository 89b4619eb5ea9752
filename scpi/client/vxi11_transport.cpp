#include "scpi/client/vxi11_transport.h"

#include <vxi11.h>

#include <algorithm>

#include "portmapper.h"
#include "rpc_channel.h"
#include "scpi/client/byte_stream.h"
#include "scpi/client/instrument_failure.h"
#include "scpi/client/usbtmc_reply.h"

namespace tarnel::scpi::client {

namespace {

// The flag and reason bits of device_write and device_read.
constexpr Device_Flags kEndFlag = 8;
constexpr long kEndReason = 4;

// The error codes the transport tells apart.
constexpr Device_ErrorCode kNoError = 0;
constexpr Device_ErrorCode kDeviceNotAccessible = 3;
constexpr Device_ErrorCode kOutOfResources = 9;
constexpr Device_ErrorCode kDeviceLocked = 11;
constexpr Device_ErrorCode kIoTimeout = 15;

// Identifies this client's links to the server; any value does.
constexpr long kClientId = 0x7A4E;
// A link that takes more than this in one device_write gets it in pieces of this size.
constexpr u_long kLongestWrite = 1 << 20;

constexpr char kFix[] = "check the meter and its LAN connection, then run again";

std::string ErrorText(Device_ErrorCode code) {
    const char* name = "unknown error";
    switch (code) {
    case 1: name = "syntax error"; break;
    case 3: name = "device not accessible"; break;
    case 4: name = "invalid link identifier"; break;
    case 5: name = "parameter error"; break;
    case 6: name = "channel not established"; break;
    case 8: name = "operation not supported"; break;
    case 9: name = "out of resources"; break;
    case 11: name = "device locked by another link"; break;
    case 12: name = "no lock held by this link"; break;
    case 15: name = "I/O timeout"; break;
    case 17: name = "I/O error"; break;
    case 21: name = "invalid address"; break;
    case 23: name = "abort"; break;
    case 29: name = "channel already established"; break;
    default: break;
    }
    return "VXI-11 error " + std::to_string(code) + ", " + name;
}

// A program message as a failure quotes it: at most 40 characters.
std::string Quoted(std::string_view message) {
    constexpr std::size_t kLongest = 40;
    if (message.size() <= kLongest) return "'" + std::string(message) + "'";
    return "'" + std::string(message.substr(0, kLongest)) + "...'";
}

// An XDR routine as libtirpc takes it (through void(*)(), the cast that
// compilers accept between function types).
template <typename Routine>
xdrproc_t Xdr(Routine routine) {
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(routine));
}

// A device_read reply whose data is refused when longer than was asked for,
// before any of it is allocated.
struct BoundedReadReply {
    Device_ReadResp reply{};
    u_int most = 0;
};

bool_t DecodeBoundedReadReply(XDR* xdrs, BoundedReadReply* bounded) {
    Device_ReadResp& reply = bounded->reply;
    return xdr_Device_ErrorCode(xdrs, &reply.error) && xdr_long(xdrs, &reply.reason) &&
           xdr_bytes(xdrs, &reply.data.data_val, &reply.data.data_len, bounded->most);
}

[[noreturn]] void RefuseOpening(FailureKind kind, const std::string& resource, const std::string& why,
                                const std::string& fix) {
    throw InstrumentFailure(kind, "cannot reach the meter at " + resource + ": " + why + " — " + fix);
}

u_long Milliseconds(std::chrono::milliseconds duration) {
    return static_cast<u_long>(std::max<long long>(duration.count(), 0));
}

class Vxi11Transport final : public Transport {
public:
    Vxi11Transport(std::unique_ptr<RpcChannel> core, const Vxi11Resource& resource, const Vxi11Settings& settings,
                   const Create_LinkResp& link)
        : core_(std::move(core)),
          resource_(resource),
          settings_(settings),
          link_(link.lid),
          largestWrite_(std::clamp<u_long>(link.maxRecvSize, 1, kLongestWrite)) {}

    ~Vxi11Transport() override {
        Device_Link link = link_;
        Device_Error error{};
        // The link ends with the connection anyway: a server that does not answer is not waited for longer.
        core_->Call(destroy_link, Xdr(xdr_Device_Link), &link, Xdr(xdr_Device_Error), &error,
                    settings_.requestTimeout);
    }

    void Send(std::string_view message) override {
        std::string bytes(message);
        bytes += '\n';
        const auto deadline = RpcChannel::Clock::now() + settings_.sendTimeout;
        const std::string timedOut = Name() + " took no bytes of " + Quoted(message) + " for " +
                                     SecondsText(settings_.sendTimeout);
        std::size_t offset = 0;
        while (offset < bytes.size()) {
            const auto left = TimeLeft(deadline);
            if (left.count() == 0) Fail(FailureKind::Timeout, timedOut);
            const std::size_t piece = std::min<std::size_t>(largestWrite_, bytes.size() - offset);
            const bool last = offset + piece == bytes.size();
            Device_WriteParms write{link_, Milliseconds(left), 0, last ? kEndFlag : 0,
                                    {static_cast<u_int>(piece), bytes.data() + offset}};
            Device_WriteResp written{};
            const RpcResult result = core_->Call(device_write, Xdr(xdr_Device_WriteParms), &write,
                                                 Xdr(xdr_Device_WriteResp), &written, left + settings_.answerGrace);
            CheckCall(result, timedOut, "to device_write of " + Quoted(message));
            if (written.error == kIoTimeout) Fail(FailureKind::Timeout, timedOut);
            CheckDevice(written.error, "device_write of " + Quoted(message));
            if (written.size > piece) {
                Fail(FailureKind::Garbled, Name() + " said it took " + std::to_string(written.size) + " bytes of " +
                                               std::to_string(piece) + " sent");
            }
            offset += written.size;
        }
    }

    std::string Receive(std::chrono::milliseconds timeout, std::string_view query) override {
        const auto deadline = RpcChannel::Clock::now() + timeout;
        const std::string timedOut = Name() + " did not answer " + std::string(query) + " within " + SecondsText(timeout);
        std::string reply;
        for (;;) {
            const auto left = TimeLeft(deadline);
            if (left.count() == 0) FailCutShort(reply, FailureKind::Timeout, timedOut);
            Device_ReadParms read{link_, settings_.readSize, Milliseconds(left), 0, 0, 0};
            BoundedReadReply answer;
            answer.most = settings_.readSize;
            const RpcResult result = core_->Call(device_read, Xdr(xdr_Device_ReadParms), &read,
                                                 Xdr(DecodeBoundedReadReply), &answer, left + settings_.answerGrace);
            if (result.outcome != RpcOutcome::Answered) {
                core_->Free(Xdr(xdr_Device_ReadResp), &answer.reply);
                CheckCall(result, timedOut, "to device_read after " + std::string(query));
            }
            const Device_ErrorCode error = answer.reply.error;
            const long reason = answer.reply.reason;
            reply.append(answer.reply.data.data_val, answer.reply.data.data_len);
            core_->Free(Xdr(xdr_Device_ReadResp), &answer.reply);
            if (error == kIoTimeout) FailCutShort(reply, FailureKind::Timeout, timedOut);
            if (error != kNoError) {
                FailCutShort(reply, FailureKind::Lost,
                             Name() + " refused device_read after " + std::string(query) + " (" + ErrorText(error) + ")");
            }
            if ((reason & kEndReason) != 0) return std::string(usbtmc::WithoutLineEnd(reply));
            if (reply.size() > usbtmc::kLongestReply) {
                FailCutShort(reply, FailureKind::Garbled,
                             Name() + " sent over 1 MiB without ending its reply to " + std::string(query));
            }
        }
    }

    void Clear() override {
        Device_GenericParms parameters = Generic();
        Device_Error error{};
        const RpcResult result = core_->Call(device_clear, Xdr(xdr_Device_GenericParms), &parameters,
                                             Xdr(xdr_Device_Error), &error, RequestWait());
        CheckCall(result, Name() + " did not answer device_clear within " + SecondsText(RequestWait()),
                  "to device_clear");
        CheckDevice(error.error, "device_clear");
    }

    std::optional<std::uint8_t> ReadStatusByte() override {
        Device_GenericParms parameters = Generic();
        Device_ReadStbResp status{};
        const RpcResult result = core_->Call(device_readstb, Xdr(xdr_Device_GenericParms), &parameters,
                                             Xdr(xdr_Device_ReadStbResp), &status, RequestWait());
        CheckCall(result, Name() + " did not answer device_readstb within " + SecondsText(RequestWait()),
                  "to device_readstb");
        CheckDevice(status.error, "device_readstb");
        return status.stb;
    }

    std::string Describe() const override { return InstrumentResource{resource_}.Text(); }

    std::vector<std::pair<std::string, std::string>> Details() const override {
        return {{"VXI-11 link", "device " + resource_.device + " on core channel port " + std::to_string(core_->Port()) +
                                    ", up to " + std::to_string(largestWrite_) + " bytes a write"}};
    }

private:
    std::string Name() const { return "the meter at " + InstrumentResource{resource_}.Text(); }

    [[noreturn]] void Fail(FailureKind kind, const std::string& what) const {
        throw InstrumentFailure(kind, what + " — " + kFix);
    }

    // A reply whose first pieces came and whose rest did not: the device is
    // cleared, so that the rest is not taken for the next reply.
    [[noreturn]] void FailCutShort(const std::string& partial, FailureKind kind, const std::string& what) {
        if (!partial.empty()) {
            Device_GenericParms parameters = Generic();
            Device_Error error{};
            core_->Call(device_clear, Xdr(xdr_Device_GenericParms), &parameters, Xdr(xdr_Device_Error), &error,
                        RequestWait());
        }
        Fail(kind, what);
    }

    void CheckCall(const RpcResult& result, const std::string& timedOut, const std::string& during) const {
        switch (result.outcome) {
        case RpcOutcome::Answered:
            return;
        case RpcOutcome::TimedOut:
            Fail(FailureKind::Timeout, timedOut);
        case RpcOutcome::Closed:
            Fail(FailureKind::Lost, Name() + " closed the connection (" + result.detail + ")");
        case RpcOutcome::NotServed:
        case RpcOutcome::Garbled:
            break;
        }
        Fail(FailureKind::Garbled, Name() + " sent no VXI-11 reply " + during + " (" + result.detail + ")");
    }

    void CheckDevice(Device_ErrorCode error, const std::string& call) const {
        if (error == kNoError) return;
        Fail(error == kDeviceLocked ? FailureKind::Busy : FailureKind::Lost,
             Name() + " refused " + call + " (" + ErrorText(error) + ")");
    }

    Device_GenericParms Generic() const {
        return Device_GenericParms{link_, 0, 0, Milliseconds(settings_.requestTimeout)};
    }

    std::chrono::milliseconds RequestWait() const { return settings_.requestTimeout + settings_.answerGrace; }

    std::unique_ptr<RpcChannel> core_;
    Vxi11Resource resource_;
    Vxi11Settings settings_;
    Device_Link link_;
    u_long largestWrite_;
};

}  // namespace

std::unique_ptr<Transport> OpenVxi11Transport(const Vxi11Resource& resource, std::chrono::milliseconds timeout,
                                              const Vxi11Settings& settings) {
    const auto deadline = RpcChannel::Clock::now() + timeout;
    const std::string text = InstrumentResource{resource}.Text();
    const std::string host = HostText(resource.host);
    const std::string device = "'" + resource.device + "'";
    const std::string onTheLan = "check that the meter is on and on the LAN and that its VXI-11 interface is on";

    const PortLookup lookup = LookUpTcpPort(resource.host, DEVICE_CORE, DEVICE_CORE_VERSION, timeout);
    if (!lookup.answered) {
        RefuseOpening(FailureKind::Unreachable, text, "no portmapper answers on " + host + " port 111 (" + lookup.reason + ")",
               onTheLan + "; a meter with a SCPI socket only takes TCPIP0::HOST::5025::SOCKET");
    }
    if (lookup.port == 0) {
        RefuseOpening(FailureKind::Unreachable, text, "the portmapper on " + host + " knows no VXI-11 server",
               "turn on the meter's VXI-11 interface in its LAN settings, or give its SCPI socket "
               "(TCPIP0::HOST::5025::SOCKET)");
    }
    const std::string server = "the VXI-11 server on " + host + " port " + std::to_string(lookup.port);
    std::string reason;
    auto core = RpcChannel::Connect(resource.host, lookup.port, DEVICE_CORE, DEVICE_CORE_VERSION,
                                    std::max(TimeLeft(deadline), std::chrono::milliseconds(1)), reason);
    if (!core) RefuseOpening(FailureKind::Unreachable, text, server + " takes no connection (" + reason + ")", onTheLan);

    Create_LinkParms asked{kClientId, FALSE, 0, const_cast<char*>(resource.device.c_str())};
    Create_LinkResp link{};
    const auto left = std::max(TimeLeft(deadline), std::chrono::milliseconds(1));
    const RpcResult result = core->Call(create_link, Xdr(xdr_Create_LinkParms), &asked, Xdr(xdr_Create_LinkResp),
                                        &link, left);
    switch (result.outcome) {
    case RpcOutcome::Answered:
        break;
    case RpcOutcome::TimedOut:
        RefuseOpening(FailureKind::Unreachable, text, server + " did not answer create_link within " + SecondsText(left), onTheLan);
    case RpcOutcome::Closed:
        RefuseOpening(FailureKind::Unreachable, text, server + " closed the connection at create_link (" + result.detail + ")",
               onTheLan);
    case RpcOutcome::NotServed:
    case RpcOutcome::Garbled:
        RefuseOpening(FailureKind::Unreachable, text, server + " gave no VXI-11 answer to create_link (" + result.detail + ")",
               onTheLan);
    }
    switch (link.error) {
    case kNoError:
        break;
    case kDeviceNotAccessible:
        RefuseOpening(FailureKind::Unreachable, text, host + " has no device " + device + " (" + ErrorText(link.error) + ")",
               "give the device name the meter's LAN settings show, usually inst0 (TCPIP0::HOST::inst0::INSTR)");
    case kDeviceLocked:
    case kOutOfResources:
        RefuseOpening(FailureKind::Busy, text, host + " refused a link to device " + device + " (" + ErrorText(link.error) + ")",
               "close the other programs that use the meter, then run again");
    default:
        RefuseOpening(FailureKind::Unreachable, text, host + " refused a link to device " + device + " (" + ErrorText(link.error) + ")",
               "check the device name and the meter's LAN settings, then run again");
    }
    return std::make_unique<Vxi11Transport>(std::move(core), resource, settings, link);
}

}  // namespace tarnel::scpi::client
