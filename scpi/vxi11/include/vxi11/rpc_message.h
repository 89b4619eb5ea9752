// ONC RPC version 2 messages as the server sees them: the header of a call
// taken apart, and the replies built around a procedure's encoded results.
// Calls with no credentials (AUTH_NONE) or with a Unix one (AUTH_SYS, whose
// contents grant nothing here) are taken; any other is denied.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnel::vxi11 {

enum class AcceptState : std::uint32_t {
    Success = 0,
    ProgramUnavailable = 1,
    VersionMismatch = 2,
    ProcedureUnavailable = 3,
    GarbageArguments = 4,
    SystemError = 5,
};

struct RpcCall {
    std::uint32_t xid = 0;
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    std::uint32_t procedure = 0;
    std::string_view arguments;   // the XDR-encoded arguments, into the message
};

// What a program answers to a call: Success with the encoded results, or
// another state (VersionMismatch with the lowest and highest versions it has).
struct RpcAnswer {
    AcceptState state = AcceptState::Success;
    std::string results;
    std::uint32_t lowestVersion = 0;
    std::uint32_t highestVersion = 0;

    static RpcAnswer Results(std::string encoded) { return {AcceptState::Success, std::move(encoded), 0, 0}; }
    static RpcAnswer Refused(AcceptState state) { return {state, {}, 0, 0}; }
    static RpcAnswer Versions(std::uint32_t lowest, std::uint32_t highest) {
        return {AcceptState::VersionMismatch, {}, lowest, highest};
    }
};

struct DecodedCall {
    std::optional<RpcCall> call;        // a call to hand to its program
    std::optional<std::string> denial;  // else the reply that denies it
    // Neither: not an RPC call at all, nothing can be answered.
};

DecodedCall DecodeCall(std::string_view message);

std::string EncodeReply(std::uint32_t xid, const RpcAnswer& answer);

}  // namespace tarnel::vxi11
