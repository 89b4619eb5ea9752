// An instrument as the VXI-11 server serves it. The device runs the links'
// messages on threads of its own, as it dispatches them (one worker for all,
// or one for each link), and answers each when it has run; the server's
// threads never wait on the instrument, so a slow message holds up no call
// of another link and no abort. The other calls are made from a connection's
// thread and must not wait for the instrument.
// Each call names the state of the link it is for: a link is a client of its
// own, with its own error queue and status registers; the device touches a
// link's state only while one of the link's messages runs, or in StatusByte.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "scpi/connection_state.h"
#include "scpi/input_lines.h"

namespace tarnel::vxi11 {

class Vxi11Device {
public:
    virtual ~Vxi11Device() = default;

    struct Outcome {
        // The reply line without its line end; nothing when no query answered.
        std::optional<std::string> reply;
        // An I/O failure of the instrument: the link's pending read answers it.
        bool failed = false;
        // The link's IEEE 488.2 status byte right after the message, without
        // MAV (the server knows whether a reply waits).
        std::uint8_t statusByte = 0;
    };
    using Done = std::function<void(Outcome outcome)>;

    // Queues one program message of a link (its line end taken off; a line
    // too long comes as the overrun it is); `done` is called once when it has
    // run, on the thread that ran it, or never when the link ends first. The
    // messages of one link run in the order they are submitted. The state is
    // the link's and lives as long as anything holds it.
    virtual void Submit(scpi::InputLines::Line message, const std::shared_ptr<scpi::ConnectionState>& link,
                        Done done) = 0;
    // The link's status byte now; called only while none of its messages is
    // queued or running. messageAvailable: a reply waits in the link's output.
    virtual std::uint8_t StatusByte(scpi::ConnectionState& link, bool messageAvailable) = 0;
    // A link takes the device's exclusive lock, which no other link holds:
    // false refuses it (a client of another front holds the instrument). While
    // it holds it, other clients of the instrument (raw sockets) are refused.
    virtual bool TakeLock(scpi::ConnectionState& link) {
        (void)link;
        return true;
    }
    // The link gave the lock up (device_unlock, or the link ended).
    virtual void GiveUpLock(scpi::ConnectionState& link) { (void)link; }
    // The link is gone: its messages not started are dropped (their Done
    // never comes), the one running finishes; nothing is submitted for it after.
    virtual void LinkEnded(scpi::ConnectionState& link) { (void)link; }
};

}  // namespace tarnel::vxi11
