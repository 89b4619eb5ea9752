// A procedure's arguments and results through rpcgen's XDR routines on
// memory streams.
#pragma once

#include <rpc/rpc.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vxi11.h"

namespace tarnel::vxi11 {

// A value decoded from a call's arguments; what the routine allocated for it
// (strings, opaque data) is freed with it.
template <typename Value>
class XdrArguments {
public:
    using Routine = bool_t (*)(XDR*, Value*);

    explicit XdrArguments(Routine routine) : routine_(routine) {}
    ~XdrArguments() { xdr_free(reinterpret_cast<xdrproc_t>(routine_), &value_); }
    XdrArguments(const XdrArguments&) = delete;
    XdrArguments& operator=(const XdrArguments&) = delete;

    // False when the bytes hold no such value.
    bool Decode(std::string_view bytes) {
        XDR stream;
        xdrmem_create(&stream, const_cast<char*>(bytes.data()), static_cast<u_int>(bytes.size()), XDR_DECODE);
        const bool decoded = routine_(&stream, &value_) != 0;
        xdr_destroy(&stream);
        return decoded;
    }
    Value& operator*() { return value_; }
    Value* operator->() { return &value_; }

private:
    Routine routine_;
    Value value_{};
};

template <typename Value>
std::string EncodeXdr(bool_t (*routine)(XDR*, Value*), Value& value) {
    std::string bytes(xdr_sizeof(reinterpret_cast<xdrproc_t>(routine), &value), '\0');
    XDR stream;
    xdrmem_create(&stream, bytes.data(), static_cast<u_int>(bytes.size()), XDR_ENCODE);
    const bool encoded = routine(&stream, &value) != 0;
    bytes.resize(encoded ? xdr_getpos(&stream) : 0);
    xdr_destroy(&stream);
    return bytes;
}

// XDR's routines allocate the length a variable-length field announces
// before they read its bytes; the length word at `offset` into the arguments
// is checked here against the bytes that follow it first.
bool LengthWordFits(std::string_view arguments, std::size_t offset);

}  // namespace tarnel::vxi11
