// The board-emulator command line:
//   board-emulator [--no-board] [--boards N] [--unplug-after N] [--replug-every N] [--stall CODE]
//                  [--timeout CODE] [--noise] [--renumerate] [--dac-errors FILE]
//                  [--meter [ADDR:]PORT] [--meter-usb [VID:PID[:SERIAL]]] [--meter-unplug-after N]
//                  [--meter-tty LINK[,BAUD]] [--meter-gpib LINK[,ADDR]] [--meter-speed X] -- COMMAND [ARGS...]
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <tarnel/emulated_board.h>

#include "emulated_meter.h"
#include "usbtmc_meter_device.h"

namespace tarnel::emulator {

inline constexpr const char* kUsage =
    "usage: board-emulator [--no-board] [--boards N] [--unplug-after N] [--replug-every N] [--stall CODE] "
    "[--timeout CODE] [--noise] [--renumerate] [--dac-errors FILE] [--meter [ADDR:]PORT] "
    "[--meter-usb [VID:PID[:SERIAL]]] [--meter-unplug-after N] [--meter-tty LINK[,BAUD]] [--meter-gpib LINK[,ADDR]] "
    "[--meter-speed X] "
    "-- COMMAND [ARGS...]";

// What --help prints after the usage line.
inline constexpr const char* kOptionsHelp =
    "Runs COMMAND with the emulated evaluation board attached below libusb and exits with its status.\n"
    "  --no-board            attach no board\n"
    "  --boards N            N identical boards (1 to 16)\n"
    "  --unplug-after N      the board leaves the bus after N DAC writes and read-backs\n"
    "  --replug-every N      after every N DAC writes and read-backs the board leaves the bus and comes back\n"
    "                        200 ms later, firmware not running\n"
    "  --stall CODE          every request with that code (hex) stalls; may repeat\n"
    "  --timeout CODE        every request with that code is never answered; may repeat\n"
    "  --noise               +-1 LSB on the read-back code\n"
    "  --renumerate          the firmware re-enumerates as it starts\n"
    "  --dac-errors FILE     the DAC's offset, gain, bow, bit errors, noise, settling and drift from FILE\n"
    "                        (name = value lines)\n"
    "  --meter [ADDR:]PORT   a SCPI bench DMM on TCP (address 127.0.0.1 unless given; port 0: any free one)\n"
    "                        with its probes on board 0's output; COMMAND finds it in TARNEL_METER_ADDRESS\n"
    "  --meter-usb [VID:PID[:SERIAL]]\n"
    "                        the meter as a USBTMC instrument on the emulated bus (default ids: the board's vendor,\n"
    "                        product 0xB212, serial EMU0001); COMMAND finds its resource in TARNEL_METER_USB\n"
    "  --meter-unplug-after N\n"
    "                        the USB meter leaves the bus when N messages have come\n"
    "  --meter-tty LINK[,BAUD]\n"
    "                        the meter on an RS-232 line (pseudo-terminal, LINK a symbolic link to it; 9600 8N1\n"
    "                        unless BAUD); COMMAND finds LINK in TARNEL_METER_TTY\n"
    "  --meter-gpib LINK[,ADDR]\n"
    "                        a \"++\" GPIB adapter on a pseudo-terminal (LINK a symbolic link to it) with the meter\n"
    "                        at GPIB address ADDR (default 22); COMMAND finds LINK in TARNEL_METER_GPIB\n"
    "  --meter-speed X       every meter time (integration, autozero, trigger delay, line pacing) and the DAC's\n"
    "                        settling and drift divided by X (default 1)\n"
    "The meter options combine: one meter model answers on every connection given.";

struct EmulatorRun {
    Options options;
    std::optional<MeterOptions> meter;           // any of --meter, --meter-tty, --meter-gpib, --meter-usb
    std::optional<UsbMeterOptions> meterUsb;     // --meter-usb
    std::vector<std::string> command;    // never empty
};
struct HelpRequested {};
struct UsageError {
    std::string message;   // one line: what is wrong, then the usage
};

using ParsedCommandLine = std::variant<EmulatorRun, HelpRequested, UsageError>;

// `arguments` excludes the program name. The file of --dac-errors is read here.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace tarnel::emulator
