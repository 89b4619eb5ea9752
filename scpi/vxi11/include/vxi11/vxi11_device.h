// An instrument as the VXI-11 server serves it. The server owns one thread
// per device and makes the calls below from it (or, for a serial poll while
// that thread is idle, from a connection's thread under the same mutex), one
// at a time, so an implementation needs no locking of its own; a call may
// take as long as the instrument does (other devices, the server's other
// links and the abort channel are not held up).
// Each call names the state of the link it is for: a link is a client of its
// own, with its own error queue and status registers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "scpi/connection_state.h"

namespace tarnel::vxi11 {

class Vxi11Device {
public:
    virtual ~Vxi11Device() = default;

    // Runs one program message (its line end taken off) for a link; the reply
    // line without its line end, nothing when no query answered. An exception
    // is an I/O failure of the instrument: the link's pending read answers it.
    virtual std::optional<std::string> RunMessage(std::string_view message, scpi::ConnectionState& link) = 0;
    // The link's IEEE 488.2 status byte; messageAvailable: a reply waits in
    // the link's output.
    virtual std::uint8_t StatusByte(scpi::ConnectionState& link, bool messageAvailable) = 0;
    // A trigger from the link (as *TRG).
    virtual void Trigger(scpi::ConnectionState& link) = 0;
    // A device clear from the link; the server has emptied the link's input
    // and output already.
    virtual void Clear(scpi::ConnectionState& link) = 0;
    // A link took the device's exclusive lock (true) or gave it up (false):
    // while it is held, other clients of the instrument (raw sockets) are to
    // be refused. Called from a connection's thread, beside the calls above.
    virtual void ExclusiveLockChanged(bool held) { (void)held; }
};

}  // namespace tarnel::vxi11
