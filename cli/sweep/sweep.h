// A sweep of the DAC: each code written, a settling wait, the output read
// back, and one row per point handed on at once (to the CSV, the progress
// bar). It stops after the current point when asked to, and at the first
// failed transfer, keeping every point finished before. Without a park word
// the DAC stays at the last code written; with one it is left there however
// the sweep ends, unless the board has gone.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <tarnel/board_protocol.h>

#include "board/board_connection.h"

namespace tarnel::cli {

struct SweepPlan {
    std::vector<std::uint32_t> codes;   // data words, in the order they are written
    protocol::PowerDown mode = protocol::PowerDown::Normal;
    double settleMs = 0;
    unsigned averaged = 1;              // reads per point
    std::optional<std::uint32_t> park;  // data word written (in mode) when the sweep ends
};

struct SweepPoint {
    std::uint32_t code = 0;        // data word written
    std::uint32_t inputWord = 0;   // 24-bit word sent
    double setVolts = 0;           // the output the word sets (0 V powered down)
    double readCode = 0;           // mean 12-bit read-back code
    double readStd = 0;            // standard deviation of the codes read
    double readMin = 0;            // smallest and largest code read
    double readMax = 0;
    float readVolts = 0;           // readCode in volts, rounded as the window shows it
    double errorMv = 0;            // read-back minus set output, unrounded, in mV
    double seconds = 0;            // since the sweep started, when the point was read
};

enum class SweepEnd { Completed, Stopped, TransferFailed };

struct SweepOutcome {
    std::vector<SweepPoint> points;   // every finished point
    SweepEnd end = SweepEnd::Completed;
    std::string failure;              // for TransferFailed: the one-line reason
    bool parked = false;              // the park word was written
    std::string parkFailure;          // why the park word could not be written
};

// The codes from `from` to `to` (either way round): every `step` codes with
// `to` itself last, or `points` codes spread evenly with both ends included
// (downwards the same codes as upwards, in reverse order).
// Inconsistent counts throw CommandFailure(Usage).
std::vector<std::uint32_t> SweepCodes(std::uint32_t from, std::uint32_t to, std::optional<std::uint64_t> step,
                                      std::optional<std::uint64_t> points);

// The plan of a sweep command: its codes, each end checked against the data
// mask and vmax (every code lies between them), and its park word checked
// alike. A refusal throws CommandFailure(OutOfRange) before the board is touched.
SweepPlan PlanSweep(const SweepCommand& command, std::optional<double> vmax);

// Runs the plan on the board. onPoint sees each finished point in order;
// stopRequested is asked after each one. The park word is written also when
// onPoint throws.
SweepOutcome RunSweep(BoardConnection& board, const SweepPlan& plan,
                      const std::function<void(const SweepPoint&)>& onPoint,
                      const std::function<bool()>& stopRequested);

}  // namespace tarnel::cli
