// Not built yet: attaching it says so.
#include "usbtmc_meter_device.h"

#include <stdexcept>

namespace tarnel::emulator {

struct UsbtmcMeterDevice::Impl {};

UsbtmcMeterDevice::UsbtmcMeterDevice(EmulatedMeter&, UsbMeterOptions) {
    throw std::runtime_error("--meter-usb: the USB meter is not built yet");
}

UsbtmcMeterDevice::~UsbtmcMeterDevice() = default;

std::string UsbtmcMeterDevice::Resource() const { return {}; }

}  // namespace tarnel::emulator
