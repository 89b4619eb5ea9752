// The emulated bench meter as board-emulator runs it: one meter model, shared
// by every connection it is reached on — a TCP server and VXI-11 (--meter), a serial
// line on a pseudo-terminal (--meter-tty), a "++" GPIB adapter on a
// pseudo-terminal (--meter-gpib) and, attached by the USB side, a USBTMC
// device (--meter-usb). Each client has its own error queue and status
// registers; a setting made over one connection is seen over the others.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "gpib_adapter_meter.h"
#include "meter_address.h"
#include "meter_client.h"
#include "meter_model.h"
#include "scpi/raw_socket_server.h"
#include "scpi/served_instrument.h"
#include "vxi11/portmapper.h"
#include "vxi11/served_instrument_device.h"
#include "vxi11/vxi11_server.h"
#include "serial_line_meter.h"
#include "shared_meter.h"

namespace tarnel::emulator {

// The environment variables that tell COMMAND where the meter is:
// "127.0.0.1:5025", the link to the serial line, the link to the GPIB
// adapter, and the USB resource "USB0::0x1209::0xB212::EMU0001::INSTR".
inline constexpr const char* kMeterAddressVariable = "TARNEL_METER_ADDRESS";
inline constexpr const char* kMeterTtyVariable = "TARNEL_METER_TTY";
inline constexpr const char* kMeterGpibVariable = "TARNEL_METER_GPIB";
inline constexpr const char* kMeterUsbVariable = "TARNEL_METER_USB";

struct MeterOptions {
    std::optional<MeterAddress> address;       // --meter: the TCP server and VXI-11 on its host
    std::optional<SerialLineOptions> tty;      // --meter-tty
    std::optional<GpibAdapterOptions> gpib;    // --meter-gpib
    double speed = 1;                          // every meter time is divided by this (bench_clock.h)
    std::uint32_t noiseSeed = MeterModel::Setup{}.noiseSeed;   // of the meter's own noise
};

class EmulatedMeter {
public:
    // input gives the volts at the probes; it is called from the meter's
    // threads and must be safe to call from any of them.
    EmulatedMeter(MeterModel::Input input, MeterOptions options);
    ~EmulatedMeter();
    EmulatedMeter(const EmulatedMeter&) = delete;
    EmulatedMeter& operator=(const EmulatedMeter&) = delete;

    // Starts every connection of the options and sets the environment
    // variables that name them; the reason when one cannot start. VXI-11
    // that cannot start, or a portmapper that cannot be had, is one line on
    // stderr: the raw socket is served all the same.
    std::optional<std::string> Start();
    const MeterAddress& ListeningOn() const { return server_.ListeningOn(); }
    // The most TCP clients at once.
    static constexpr unsigned kMostClients = 8;

    // A new client of the shared meter, for a connection made elsewhere (the
    // USB device).
    std::unique_ptr<MeterClient> NewClient() { return std::make_unique<MeterClient>(meter_); }
    SharedMeter& Shared() { return meter_; }

private:
    void StartVxi11();

    MeterOptions options_;
    SharedMeter meter_;
    // Each TCP client on a thread of its own: one whose message waits for
    // readings holds up only itself.
    scpi::ServedInstrument served_;
    scpi::RawSocketServer server_;
    // The same clients' instrument on VXI-11 (device inst0), with --meter.
    vxi11::ServedInstrumentDevice vxi11Device_{served_};
    std::optional<vxi11::Vxi11Server> vxi11_;
    std::optional<vxi11::Portmapper> portmapper_;
    std::optional<SerialLineMeter> tty_;
    std::optional<GpibAdapterMeter> gpib_;
};

}  // namespace tarnel::emulator
