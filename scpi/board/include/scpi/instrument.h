// The board as a bench instrument: the settings every client shares (the
// level, the output on or off, the mode the output takes when off, the limit
// on the level, the averaging of measurements) and the board they go to.
// Each setting that changes the DAC is one DAC write; queries of settings do
// not touch the board. Levels compare with the limit by data word: the limit
// lets through the word nearest to it (never one above the ceiling), so a
// level and a limit given as the same number agree. A board failure throws ScpiFailure -240 (hardware
// error) or -241 (hardware missing); after -241 the next command that needs
// the board opens it again.
//
// Lives on the board worker's thread; nothing here is safe to share between
// threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <tarnel/board_protocol.h>

#include "core/level_check.h"
#include "scpi/board.h"
#include "scpi/scpi_error.h"

namespace tarnel::scpi {

// -222 for a level above the limit: the QUEStionable voltage event.
class LevelAboveLimit : public ScpiFailure {
public:
    explicit LevelAboveLimit(const std::string& detail) : ScpiFailure(ErrorCode::DataOutOfRange, detail) {}
};

// The maker and model that *IDN? names, and that the LAN announcements carry.
inline constexpr const char* kInstrumentMaker = "Velorn";
inline constexpr const char* kInstrumentModel = "Tarnel Evaluation Board";

struct InstrumentSetup {
    unsigned boardNumber = 0;                            // for *IDN?
    std::string name;                                    // in the log lines; empty: "board <boardNumber>"
    std::string version;                                 // of the program, for *IDN?
    double ceilingVolts = protocol::kFullScaleVolts;     // the highest limit that may be set
    BoardOpener reopen;                                  // none: a missing board stays missing
    std::function<void(const std::string&)> log;        // a line on the server's stderr
};

class Instrument {
public:
    // The settings start as the program's own start-up leaves the DAC model:
    // level 0, output on; nothing is written.
    Instrument(std::unique_ptr<Board> board, InstrumentSetup setup);

    std::string Identity() const;   // *IDN?

    std::uint32_t LevelCode() const { return level_; }
    double LevelVolts() const { return protocol::DacOutputVolts(level_); }
    // The code nearest to volts, not above the limit's code; -222 outside
    // 0..full scale, LevelAboveLimit for volts nearer to a higher code.
    std::uint32_t CodeForVolts(double volts) const;
    // The highest code the limit allows.
    std::uint32_t HighestCode() const { return LimitCap().highestWord; }
    // -222 for a code above 3FFFF, LevelAboveLimit above HighestCode.
    void SetLevelCode(std::uint64_t code);

    double Limit() const { return limit_; }
    double Ceiling() const { return setup_.ceilingVolts; }
    // -222 outside 0..ceiling, or with the level now set above the code it
    // allows (lower the level first).
    void SetLimit(double volts);

    bool OutputOn() const { return outputOn_; }
    void SetOutput(bool on);
    protocol::PowerDown OffMode() const { return offMode_; }
    // Written at once while the output is off; kept for OFF while it is on.
    void SetOffMode(protocol::PowerDown mode);

    unsigned AverageCount() const { return averageCount_; }
    void SetAverageCount(unsigned count) { averageCount_ = count; }

    // The read-back in volts: the mean of AverageCount reads.
    double Measure();
    // Whether the firmware answers one read-back. Never opens the board.
    bool SelfTest();
    // Lost and not yet opened again.
    bool BoardMissing() const { return !board_; }
    // *RST: output off in the off mode, level 0, one read per measurement;
    // the limit and the off mode stay.
    void Reset();

private:
    OutputCap LimitCap() const;
    // Writes code with the output on or off in mode; the settings change only
    // when the write is done.
    void Apply(std::uint32_t code, bool on, protocol::PowerDown mode);
    Board& ConnectedBoard();
    [[noreturn]] void Failed(const BoardFailure& failure);
    void Lose(const BoardFailure& failure);   // drops a missing board until a command opens it again
    void Log(const std::string& line) const;
    std::string Name() const;

    std::unique_ptr<Board> board_;
    InstrumentSetup setup_;
    std::uint32_t level_ = 0;
    bool outputOn_ = true;
    protocol::PowerDown offMode_ = protocol::PowerDown::ThreeState;
    double limit_;
    unsigned averageCount_ = 1;
};

}  // namespace tarnel::scpi
