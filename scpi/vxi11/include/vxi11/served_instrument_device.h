// A served instrument (scpi::ServedInstrument) as a VXI-11 device: each link
// is a client of the instrument like a raw socket client, with its own
// InstrumentClient on the link's state, made with its first message. So the
// messages of a OneAtATime instrument (the board) from raw clients and links
// share its one worker in the order they arrive, and those of an
// EachClientItsOwn instrument (the meter) run each on their link's own.
// The device's exclusive lock is the instrument's: while a link holds it,
// the instrument refuses its other clients with -203 and runs the link's.
// A trigger reaches the instrument as the link's *TRG message.
//
//   scpi::ServedInstrument served(MeterMessages(meter), scpi::DispatchMode::EachClientItsOwn);
//   vxi11::ServedInstrumentDevice device(served);
//   vxi11::Vxi11Server server({{{"inst0"}, &device}}, settings);
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "scpi/served_instrument.h"
#include "vxi11/vxi11_device.h"

namespace tarnel::vxi11 {

class ServedInstrumentDevice : public Vxi11Device {
public:
    // The instrument outlives the device.
    explicit ServedInstrumentDevice(scpi::ServedInstrument& instrument);
    // Closes the links' clients, waiting for their messages running.
    ~ServedInstrumentDevice() override;
    ServedInstrumentDevice(const ServedInstrumentDevice&) = delete;
    ServedInstrumentDevice& operator=(const ServedInstrumentDevice&) = delete;

    void Submit(scpi::InputLines::Line message, const std::shared_ptr<scpi::ConnectionState>& link, Done done) override;
    // The registers as the link's last message left them.
    std::uint8_t StatusByte(scpi::ConnectionState& link, bool messageAvailable) override;
    bool TakeLock(scpi::ConnectionState& link) override;
    void GiveUpLock(scpi::ConnectionState& link) override;
    // Does not wait for a slow message of the link: its client is let go at
    // once and ended once that message has been answered.
    void LinkEnded(scpi::ConnectionState& link) override;

private:
    // Ends the let-go clients whose last message has been answered; with mutex_.
    void EndIdleClients();

    scpi::ServedInstrument& instrument_;
    std::mutex mutex_;
    std::map<const scpi::ConnectionState*, std::unique_ptr<scpi::InstrumentClient>> clients_;
    std::vector<std::unique_ptr<scpi::InstrumentClient>> letGo_;
};

}  // namespace tarnel::vxi11
