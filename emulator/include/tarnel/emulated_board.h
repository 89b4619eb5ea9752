// The emulated evaluation board, attached below libusb through umockdev.
//
// An EmulatedBoard owns a umockdev test bed holding one USB device with the
// board's vendor and product id (or Options::boards of them, each on a hub
// port of its own; the members below then speak of the first), and answers
// the usbfs requests that libusb makes of it from the board model
// (microcontroller RAM and CPU reset, DAC, read-back converter). Code under
// test talks to it through unmodified libusb. The process must run under the
// umockdev preload (umockdev-wrapper) from its start; without it the
// constructor throws std::runtime_error.
//
// All boards of a process share one test bed, created with the first board
// and removed when the process ends, so that a USB context kept for the whole
// process sees every board: a board that goes away leaves the bus as a real
// one does (with a "remove" event), and the next one arrives with an "add".
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <tarnel/bench_clock.h>
#include <tarnel/dac_error_model.h>

namespace tarnel::emulator {

// What the board does once its firmware starts. Firmware that re-enumerates
// drops the board off the bus as the CPU is released (the run write ends in a
// protocol error) and brings it back with a new device number, firmware
// running, kRenumerationDelay later; or never, for a board that fails to.
enum class Renumeration { None, ComesBack, StaysAway };
inline constexpr std::chrono::milliseconds kRenumerationDelay{200};
// How long a board that --replug-every takes off the bus stays away.
inline constexpr std::chrono::milliseconds kReplugDelay{200};

// How the emulated board misbehaves; the default is a healthy, noiseless board.
struct Options {
    bool noBoard = false;                      // attach no device at all
    std::optional<unsigned> unplugAfter;       // vanish after this many 0xDD/0xDA requests
    // Leave the bus after this many 0xDD/0xDA requests since power-up and
    // come back kReplugDelay later from power-up (firmware not running).
    std::optional<unsigned> replugEvery;
    std::set<std::uint8_t> stallRequests;      // these request codes always stall
    std::set<std::uint8_t> timeoutRequests;    // these request codes are never answered
    bool noise = false;                        // +-1 LSB on the read-back code
    Renumeration renumeration = Renumeration::None;
    unsigned boards = 1;                       // identical boards, each with its own model
    DacErrors dacErrors;                       // the DAC's errors (none: the ideal output)
    // The bench time the DAC settles and drifts on, shared with the meter
    // (none: a real-time clock started with the board's model).
    std::shared_ptr<const BenchClock> benchClock;
};

// One vendor request as the board saw it. A board keeps the most recent
// kRequestLogCapacity of them, so that its memory stays flat over millions of
// requests.
struct RequestRecord {
    enum class Outcome { Answered, Stalled, Unanswered };
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    bool toHost = false;          // direction bit of bmRequestType
    std::uint16_t length = 0;     // wLength
    Outcome outcome = Outcome::Answered;
};
inline constexpr std::size_t kRequestLogCapacity = 4096;

class EmulatedBoard {
public:
    explicit EmulatedBoard(Options options = {});
    ~EmulatedBoard();
    EmulatedBoard(const EmulatedBoard&) = delete;
    EmulatedBoard& operator=(const EmulatedBoard&) = delete;

    // Attach or remove the USB device (a remove is announced by a uevent).
    // Handles opened before an unplug stay dead after a later plug, which
    // starts the board from power-up.
    void Plug();
    void Unplug();
    bool Plugged() const;

    // Board state, read under the board's lock.
    bool FirmwareRunning() const;              // image loaded under reset, CPU released
    std::uint32_t DacInputWord() const;        // last accepted 24-bit input word (0 at power-up)
    double OutputVolts() const;                // DAC output now as the model computes it, without noise
    double SampleOutputVolts();                // one meter reading of the DAC output now: fresh noise of the DAC's model
    // One meter reading integrating the output over [begin, end] (real
    // instants, turned into bench time by Options::benchClock).
    double MeasureOutputVolts(BenchClock::TimePoint begin, BenchClock::TimePoint end);
    std::uint16_t ConverterCode() const;       // 12-bit code the next 0xDA reports (without noise)
    std::vector<std::uint8_t> Ram(std::uint16_t address, std::size_t length) const;
    std::vector<RequestRecord> Requests() const;   // the most recent vendor requests, oldest first
    void ClearRequests();

    // Path of the device node in the test bed, e.g. /dev/bus/usb/001/002.
    std::string DeviceNode() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarnel::emulator
