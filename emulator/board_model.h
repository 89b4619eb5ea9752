// The evaluation board as a plain state machine: the USB microcontroller's
// RAM and CPU reset, the DAC and the read-back converter, answering one
// vendor control request at a time. It knows nothing about USB transport;
// the usbfs side feeds it setup packets and hands its replies back.
#pragma once

#include <array>
#include <memory>
#include <cstdint>
#include <mutex>
#include <random>
#include <span>
#include <vector>

#include <tarnel/board_protocol.h>
#include <tarnel/emulated_board.h>

#include "request_log.h"

namespace tarnel::emulator {

// The 8-byte setup packet of a control transfer, decoded.
struct SetupPacket {
    std::uint8_t requestType = 0;   // bmRequestType
    std::uint8_t request = 0;       // bRequest
    std::uint16_t value = 0;        // wValue
    std::uint16_t index = 0;        // wIndex
    std::uint16_t length = 0;       // wLength

    static constexpr std::size_t kSize = 8;
    static SetupPacket Decode(std::span<const std::uint8_t, kSize> bytes);
    bool ToHost() const { return (requestType & 0x80) != 0; }
    bool IsVendor() const { return (requestType & 0x60) == 0x40; }
};

// What the board does with one control request. For an answered IN request
// `data` holds the bytes it returns (at most wLength).
struct ControlReply {
    RequestRecord::Outcome outcome = RequestRecord::Outcome::Answered;
    std::vector<std::uint8_t> data;
};

// ---- DAC and converter arithmetic -----------------------------------------
// Output of a DAC without errors for an input word: data / 2^18 * full scale, 0 V powered down.
double OutputVoltsFor(std::uint32_t inputWord);
// 12-bit converter code of a voltage: floor(volts / full scale * 4096), 0..4095.
std::uint16_t ConverterCodeFor(double volts);

class BoardModel {
public:
    static constexpr std::uint32_t kDefaultNoiseSeed = 0x7A12E1u;

    explicit BoardModel(Options options = {}, std::uint32_t noiseSeed = kDefaultNoiseSeed);

    // Answers one control request; `outData` is the data stage of an OUT request.
    ControlReply HandleControl(const SetupPacket& setup, std::span<const std::uint8_t> outData);

    // True once the board has seen as many 0xDD/0xDA requests since power-up
    // as --unplug-after allows.
    bool UnplugDue() const;
    // The same for --replug-every.
    bool ReplugDue() const;
    // Back to power-up state after a replug: RAM cleared, CPU stopped, DAC at
    // 0, request count for --unplug-after and --replug-every restarted (the
    // log is kept).
    void PowerCycle();

    bool FirmwareRunning() const;
    bool CpuHeldInReset() const;
    std::uint32_t DacInputWord() const;
    double OutputVolts() const;        // now, without noise, as the converter sees it
    double SampleOutputVolts();        // now, with fresh noise, as a meter reading sees it
    // A meter reading integrating over the real instants [begin, end].
    double MeasureOutputVolts(BenchClock::TimePoint begin, BenchClock::TimePoint end);
    std::uint16_t ConverterCode() const;   // of the output now without noise
    std::vector<std::uint8_t> Ram(std::uint16_t address, std::size_t length) const;
    std::vector<RequestRecord> Requests() const;
    void ClearRequests();

private:
    ControlReply Answer(const SetupPacket& setup, std::span<const std::uint8_t> outData);
    ControlReply AccessRam(const SetupPacket& setup, std::span<const std::uint8_t> outData);
    ControlReply WriteCpucs(std::uint8_t value);
    ControlReply WriteDac(const SetupPacket& setup);
    ControlReply ReadConverter(const SetupPacket& setup);
    std::uint16_t Noisy(std::uint16_t code);

    static constexpr std::size_t kAddressSpace = 0x10000;

    const Options options_;
    const std::shared_ptr<const BenchClock> clock_;
    mutable std::mutex mutex_;
    std::vector<std::uint8_t> memory_ = std::vector<std::uint8_t>(kAddressSpace, 0);
    bool cpuInReset_ = false;
    bool imageLoaded_ = false;     // a non-empty image was written while in reset
    bool running_ = false;
    std::uint32_t dacWord_ = 0;
    unsigned dacRequestsSeen_ = 0; // 0xDD and 0xDA requests, for --unplug-after and --replug-every
    std::minstd_rand noise_;
    DacOutputModel dac_;
    RequestLog log_;
};

}  // namespace tarnel::emulator
