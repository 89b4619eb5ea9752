// A VXI-11 client for the tests on libtirpc's TCP client: one connection,
// the core procedures as plain calls.
#pragma once

#include <rpc/rpc.h>

#include <cstdint>
#include <string>

#include "vxi11.h"

namespace tarnel::vxi11::test {

struct ReadResult {
    long error = -1;
    long reason = 0;
    std::string data;
};

class CoreClient {
public:
    // program: DEVICE_CORE, or DEVICE_ASYNC for the abort channel.
    explicit CoreClient(std::uint16_t port, unsigned long program = DEVICE_CORE);
    ~CoreClient();
    CoreClient(const CoreClient&) = delete;
    CoreClient& operator=(const CoreClient&) = delete;

    bool Connected() const { return client_ != nullptr; }

    struct Link {
        long error = -1;
        long lid = 0;
        unsigned short abortPort = 0;
        unsigned long maxRecvSize = 0;
    };
    Link CreateLink(const std::string& device, bool lock = false, unsigned long lockTimeout = 0);
    // -1 in error: the call itself failed (the connection is gone).
    std::pair<long, unsigned long> Write(long lid, const std::string& data, long flags, unsigned long ioTimeout = 2000,
                                         unsigned long lockTimeout = 0);
    ReadResult Read(long lid, unsigned long requestSize, long flags = 0, char termChar = 0, unsigned long ioTimeout = 2000,
                    unsigned long lockTimeout = 0);
    // The reply to `message` (written with END) read whole.
    std::string Query(long lid, const std::string& message);
    std::pair<long, int> ReadStatusByte(long lid, long flags = 0, unsigned long lockTimeout = 0);
    // device_trigger, device_clear, device_remote, device_local.
    long Generic(unsigned long procedure, long lid, long flags = 0, unsigned long lockTimeout = 0,
                 unsigned long ioTimeout = 2000);
    long Lock(long lid, long flags, unsigned long lockTimeout);
    // device_unlock, destroy_link, device_abort (on the abort channel).
    long OnLink(unsigned long procedure, long lid);
    long EnableSrq(long lid);
    long Docmd(long lid);
    long CreateInterruptChannel();
    long DestroyInterruptChannel();

private:
    CLIENT* client_ = nullptr;
};

}  // namespace tarnel::vxi11::test
