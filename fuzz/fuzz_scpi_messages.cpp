// Fuzzes the SCPI engine with a board that only keeps what it is sent: any
// input, cut into lines and run as messages, leaves one reply line of
// printable ASCII per message at most, an error queue of ten entries at most,
// and a level never above the limit's code nor the ceiling, written with
// data words the DAC has. The first byte picks whether the board's writes or reads fail.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include <tarnel/board_protocol.h>

#include "core/read_counts.h"
#include "scpi/board_commands.h"
#include "scpi/input_lines.h"
#include "scpi/message_executor.h"

namespace {

namespace protocol = tarnel::protocol;
namespace scpi = tarnel::scpi;

void Require(bool condition) {
    if (!condition) std::abort();
}

class KeepingBoard final : public scpi::Board {
public:
    KeepingBoard(bool writesFail, bool readsFail) : writesFail_(writesFail), readsFail_(readsFail) {}
    void Write(std::uint32_t data, protocol::PowerDown) override {
        Require(data <= protocol::kDataMask);
        if (writesFail_) throw scpi::BoardFailure(true, "board disconnected");
    }
    double Read(unsigned count) override {
        Require(count >= 1 && count <= tarnel::kMostReadsPerServedMeasurement);
        if (readsFail_) throw scpi::BoardFailure(false, "the board stalled the request");
        return 2048;
    }

private:
    bool writesFail_;
    bool readsFail_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool writesFail = (data[0] & 1) != 0;
    const bool readsFail = (data[0] & 2) != 0;
    scpi::InstrumentSetup setup;
    setup.ceilingVolts = (data[0] & 4) != 0 ? 3.3 : protocol::kFullScaleVolts;
    setup.reopen = [=] { return std::make_unique<KeepingBoard>(writesFail, readsFail); };
    scpi::Instrument instrument(std::make_unique<KeepingBoard>(writesFail, readsFail), setup);
    const scpi::CommandTable table = scpi::BoardCommands(instrument);
    scpi::ConnectionState connection;

    scpi::InputLines lines;
    lines.Feed(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    while (auto line = lines.Next()) {
        Require(line->text.size() <= scpi::InputLines::kLongestLine);
        const auto reply = scpi::ExecuteMessage(line->text, table, connection);
        if (reply) {
            Require(!reply->empty());
            for (const char c : *reply) Require(c >= ' ' && c <= '~');
        }
        Require(connection.errors.Count() <= scpi::ErrorQueue::kCapacity);
        Require(instrument.LevelCode() <= protocol::NearestDacData(instrument.Limit()));
        Require(instrument.LevelVolts() <= instrument.Ceiling());
        Require(instrument.Limit() <= instrument.Ceiling());
        Require(instrument.AverageCount() >= 1 && instrument.AverageCount() <= tarnel::kMostReadsPerServedMeasurement);
    }
    return 0;
}
