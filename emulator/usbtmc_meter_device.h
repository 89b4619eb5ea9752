// The emulated meter as a USBTMC USB488 instrument on the emulated bus,
// beside the board: its own device with high-speed bulk endpoints (512-byte
// packets), an interrupt-IN endpoint, the USBTMC and USB488 class requests,
// and a device reset. Messages that arrive on bulk OUT run on the shared
// meter as one client; replies wait for REQUEST_DEV_DEP_MSG_IN.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <tarnel/board_protocol.h>

#include "emulated_meter.h"

namespace tarnel::emulator {

inline constexpr std::uint16_t kDefaultMeterProductId = 0xB212;

struct UsbMeterOptions {
    std::uint16_t vendorId = protocol::kVendorId;
    std::uint16_t productId = kDefaultMeterProductId;
    std::string serial = "EMU0001";
    // Leave the bus when this many messages have come (an unplugged meter
    // mid-run); none: stay.
    std::optional<unsigned> unplugAfter;
};

class UsbtmcMeterDevice {
public:
    // Attaches the device to the process's test bed (the board's bus), on
    // hub port 17 with the next device number. Throws std::runtime_error when
    // it cannot.
    UsbtmcMeterDevice(EmulatedMeter& meter, UsbMeterOptions options);
    // Stops the shared meter, so that a line waiting for readings ends, and
    // removes the device from the bus: destroy it just before the meter.
    ~UsbtmcMeterDevice();
    UsbtmcMeterDevice(const UsbtmcMeterDevice&) = delete;
    UsbtmcMeterDevice& operator=(const UsbtmcMeterDevice&) = delete;

    // "USB0::0x1209::0xB212::EMU0001::INSTR"
    std::string Resource() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarnel::emulator
