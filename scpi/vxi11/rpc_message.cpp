#include "vxi11/rpc_message.h"

namespace tarnel::vxi11 {

namespace {

constexpr std::uint32_t kCall = 0;
constexpr std::uint32_t kReply = 1;
constexpr std::uint32_t kAccepted = 0;
constexpr std::uint32_t kDenied = 1;
constexpr std::uint32_t kRpcVersion = 2;
constexpr std::uint32_t kRpcMismatch = 0;
constexpr std::uint32_t kAuthError = 1;
constexpr std::uint32_t kAuthBadCredentials = 1;
constexpr std::uint32_t kAuthNone = 0;
constexpr std::uint32_t kAuthSys = 1;
constexpr std::uint32_t kLongestAuthBody = 400;

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    std::optional<std::uint32_t> Word() {
        if (bytes_.size() - at_ < 4) return std::nullopt;
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes_[at_++]);
        return value;
    }
    // Skips opaque data of `length` bytes padded to a multiple of four.
    bool Skip(std::uint32_t length) {
        const std::size_t padded = (static_cast<std::size_t>(length) + 3) & ~std::size_t{3};
        if (bytes_.size() - at_ < padded) return false;
        at_ += padded;
        return true;
    }
    std::string_view Rest() const { return bytes_.substr(at_); }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

void PutWord(std::string& out, std::uint32_t value) {
    out.push_back(static_cast<char>(value >> 24));
    out.push_back(static_cast<char>(value >> 16));
    out.push_back(static_cast<char>(value >> 8));
    out.push_back(static_cast<char>(value));
}

std::string DeniedReply(std::uint32_t xid, std::uint32_t reason, std::uint32_t detail, std::optional<std::uint32_t> more) {
    std::string out;
    PutWord(out, xid);
    PutWord(out, kReply);
    PutWord(out, kDenied);
    PutWord(out, reason);
    PutWord(out, detail);
    if (more) PutWord(out, *more);
    return out;
}

}  // namespace

DecodedCall DecodeCall(std::string_view message) {
    Reader reader(message);
    const auto xid = reader.Word();
    const auto type = reader.Word();
    if (!xid || !type || *type != kCall) return {};
    const auto rpcVersion = reader.Word();
    if (!rpcVersion) return {};
    if (*rpcVersion != kRpcVersion) return {std::nullopt, DeniedReply(*xid, kRpcMismatch, kRpcVersion, kRpcVersion)};
    RpcCall call;
    call.xid = *xid;
    const auto program = reader.Word();
    const auto version = reader.Word();
    const auto procedure = reader.Word();
    const auto credentialFlavor = reader.Word();
    const auto credentialLength = reader.Word();
    if (!procedure || !credentialLength || *credentialLength > kLongestAuthBody || !reader.Skip(*credentialLength)) return {};
    const auto verifierFlavor = reader.Word();
    const auto verifierLength = reader.Word();
    if (!verifierLength || *verifierLength > kLongestAuthBody || !reader.Skip(*verifierLength)) return {};
    if ((*credentialFlavor != kAuthNone && *credentialFlavor != kAuthSys) ||
        (*verifierFlavor != kAuthNone && *verifierFlavor != kAuthSys)) {
        return {std::nullopt, DeniedReply(*xid, kAuthError, kAuthBadCredentials, std::nullopt)};
    }
    call.program = *program;
    call.version = *version;
    call.procedure = *procedure;
    call.arguments = reader.Rest();
    return {call, std::nullopt};
}

std::string EncodeReply(std::uint32_t xid, const RpcAnswer& answer) {
    std::string out;
    out.reserve(24 + answer.results.size());
    PutWord(out, xid);
    PutWord(out, kReply);
    PutWord(out, kAccepted);
    PutWord(out, kAuthNone);   // the verifier: none
    PutWord(out, 0);
    PutWord(out, static_cast<std::uint32_t>(answer.state));
    if (answer.state == AcceptState::Success) out.append(answer.results);
    if (answer.state == AcceptState::VersionMismatch) {
        PutWord(out, answer.lowestVersion);
        PutWord(out, answer.highestVersion);
    }
    return out;
}

}  // namespace tarnel::vxi11
