#include "scpi/instrument.h"

#include <utility>

#include "core/message_volts.h"

namespace tarnel::scpi {

namespace {

[[noreturn]] void OutOfRange(const std::string& detail) { throw ScpiFailure(ErrorCode::DataOutOfRange, detail); }

}  // namespace

Instrument::Instrument(std::unique_ptr<Board> board, InstrumentSetup setup)
    : board_(std::move(board)), setup_(std::move(setup)), limit_(setup_.ceilingVolts) {}

std::string Instrument::Identity() const {
    return std::string(kInstrumentMaker) + "," + kInstrumentModel + "," + std::to_string(setup_.boardNumber) + "," + setup_.version;
}

OutputCap Instrument::LimitCap() const {
    return OutputCap::Nearest(limit_, OutputCap::AtMost(setup_.ceilingVolts));
}

std::uint32_t Instrument::CodeForVolts(double volts) const {
    switch (RefusalOfVolts(volts, LimitCap())) {
        case LevelRefusal::None: break;
        case LevelRefusal::AboveCap:
            throw LevelAboveLimit(MessageVolts(volts) + " is above the limit of " + MessageVolts(limit_));
        default:
            OutOfRange(MessageVolts(volts) + " is outside 0 to " + MessageVolts(protocol::kFullScaleVolts));
    }
    return WordForVolts(volts, LimitCap());
}

void Instrument::SetLevelCode(std::uint64_t code) {
    switch (RefusalOfWord(code, protocol::PowerDown::Normal, LimitCap())) {
        case LevelRefusal::None: break;
        case LevelRefusal::AboveCap:
            throw LevelAboveLimit("code " + std::to_string(code) + " sets " +
                                  MessageVolts(protocol::DacOutputVolts(static_cast<std::uint32_t>(code))) +
                                  ", above the limit of " + MessageVolts(limit_));
        default:
            OutOfRange("code " + std::to_string(code) + " is above the largest code " + std::to_string(protocol::kDataMask));
    }
    Apply(static_cast<std::uint32_t>(code), outputOn_, offMode_);
}

void Instrument::SetLimit(double volts) {
    if (!(volts >= 0 && volts <= setup_.ceilingVolts)) {
        OutOfRange("limit " + MessageVolts(volts) + " is outside 0 to " + MessageVolts(setup_.ceilingVolts));
    }
    if (level_ > OutputCap::Nearest(volts, OutputCap::AtMost(setup_.ceilingVolts)).highestWord) {
        OutOfRange("the level set, " + MessageVolts(LevelVolts()) + ", is above it; lower the level first");
    }
    limit_ = volts;
}

void Instrument::SetOutput(bool on) { Apply(level_, on, offMode_); }

void Instrument::SetOffMode(protocol::PowerDown mode) {
    if (outputOn_) {
        offMode_ = mode;
        return;
    }
    Apply(level_, false, mode);
}

double Instrument::Measure() {
    Board& board = ConnectedBoard();
    try {
        return protocol::ConverterVolts(board.Read(averageCount_));
    } catch (const BoardFailure& failure) {
        Failed(failure);
    }
}

bool Instrument::SelfTest() {
    if (!board_) return false;
    try {
        board_->Read(1);
        return true;
    } catch (const BoardFailure& failure) {
        if (failure.Missing()) Lose(failure);
        return false;
    }
}

void Instrument::Reset() {
    averageCount_ = 1;
    Apply(0, false, offMode_);
}

void Instrument::Apply(std::uint32_t code, bool on, protocol::PowerDown mode) {
    Board& board = ConnectedBoard();
    try {
        board.Write(code, on ? protocol::PowerDown::Normal : mode);
    } catch (const BoardFailure& failure) {
        Failed(failure);
    }
    level_ = code;
    outputOn_ = on;
    offMode_ = mode;
}

Board& Instrument::ConnectedBoard() {
    if (board_) return *board_;
    if (!setup_.reopen) throw ScpiFailure(ErrorCode::HardwareMissing, "the board is gone; restart the server");
    try {
        board_ = setup_.reopen();
    } catch (const BoardFailure& failure) {
        throw ScpiFailure(ErrorCode::HardwareMissing, failure.what());
    }
    // A board that comes back starts from power-up, as at the server's start;
    // a write that reopened it then sets what it writes.
    level_ = 0;
    outputOn_ = true;
    Log(Name() + " is back");
    return *board_;
}

void Instrument::Failed(const BoardFailure& failure) {
    if (!failure.Missing()) throw ScpiFailure(ErrorCode::HardwareError, failure.what());
    Lose(failure);
    throw ScpiFailure(ErrorCode::HardwareMissing, failure.what());
}

void Instrument::Lose(const BoardFailure& failure) {
    board_.reset();
    Log(Name() + " lost: " + failure.what() +
        "; commands answer -241 until it is back");
}

std::string Instrument::Name() const {
    return setup_.name.empty() ? "board " + std::to_string(setup_.boardNumber) : setup_.name;
}

void Instrument::Log(const std::string& line) const {
    if (setup_.log) setup_.log(line);
}

}  // namespace tarnel::scpi
