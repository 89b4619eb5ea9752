// Messages run against the instrument on a board that only records: what
// reaches the board for each command (one DAC write per setting, nothing for
// a setting query), what is refused without touching it, the replies of
// compound messages, the error queue and status registers, and a board that
// fails, leaves and comes back.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <tarnel/board_protocol.h>

#include "scpi/message_executor.h"

namespace tarnel::scpi {
namespace {

using protocol::PowerDown;

struct BoardLog {
    std::vector<std::pair<std::uint32_t, PowerDown>> writes;
    std::vector<unsigned> reads;   // the count of each Read
    double code = 2048;            // what every read returns
    std::optional<BoardFailure> failure;   // thrown by every request while set
    int opened = 0;
};

class RecordingBoard final : public Board {
public:
    explicit RecordingBoard(BoardLog& log) : log_(log) {}
    void Write(std::uint32_t data, PowerDown mode) override {
        if (log_.failure) throw *log_.failure;
        log_.writes.emplace_back(data, mode);
    }
    double Read(unsigned count) override {
        if (log_.failure) throw *log_.failure;
        log_.reads.push_back(count);
        return log_.code;
    }

private:
    BoardLog& log_;
};

class MessageExecutorTest : public ::testing::Test {
protected:
    MessageExecutorTest() : instrument_(std::make_unique<RecordingBoard>(log_), InstrumentSetupFor()) {}

    InstrumentSetup InstrumentSetupFor() {
        InstrumentSetup setup;
        setup.boardNumber = 2;
        setup.version = "1.0";
        setup.reopen = [this]() -> std::unique_ptr<Board> {
            if (log_.failure) throw BoardFailure(true, "no board found");
            ++log_.opened;
            return std::make_unique<RecordingBoard>(log_);
        };
        return setup;
    }

    std::string Run(const std::string& message) { return ExecuteMessage(message, connection_, instrument_).value_or("<none>"); }
    std::string Errors() {
        std::string all;
        while (connection_.errors.Count() > 0) all += connection_.errors.PopEntry().substr(0, 4) + " ";
        return all;
    }

    BoardLog log_;
    ConnectionState connection_;
    Instrument instrument_;
};

TEST_F(MessageExecutorTest, EachSettingIsOneWriteAndSettingQueriesReachNoBoard) {
    EXPECT_EQ(Run("*IDN?"), "Velorn,Tarnel Evaluation Board,2,1.0");
    EXPECT_EQ(Run("VOLT 2.465;VOLT?;OUTP?;DAC:CODE?"), "2.465E+00;1;131072");
    EXPECT_EQ(Run("OUTP OFF;:OUTP:OFF:MODE R1K;MODE?;:OUTP ON;OUTP:OFF:MODE R100K"), "R1K");
    EXPECT_EQ(Run("DAC:CODE #H3FFFF;CODE?;:VOLT?;VOLT? MAX;VOLT? MIN"), "262143;4.92998119354248E+00;4.92998119354248E+00;0E+00");
    EXPECT_EQ(log_.writes, (std::vector<std::pair<std::uint32_t, PowerDown>>{
                               {0x20000, PowerDown::Normal},
                               {0x20000, PowerDown::ThreeState},
                               {0x20000, PowerDown::OneKToGround},   // the off mode goes out at once while off
                               {0x20000, PowerDown::Normal},         // R100K while on: kept, not written
                               {0x3FFFF, PowerDown::Normal}}));
    EXPECT_TRUE(log_.reads.empty());
    EXPECT_EQ(Run("OUTP 0;*RST;OUTP?;VOLT?;:OUTP:OFF:MODE?"), "0;0E+00;R100K");
    EXPECT_EQ(log_.writes.back(), (std::pair<std::uint32_t, PowerDown>{0, PowerDown::HundredKToGround}));
    EXPECT_EQ(Errors(), "");
}

TEST_F(MessageExecutorTest, TheLimitRefusesWithoutWriting) {
    EXPECT_EQ(Run("VOLT:LIM 3.3;LIM?;:VOLT MAX;VOLT?"), "3.3E+00;3.2999879074096676E+00");
    const std::size_t written = log_.writes.size();
    Run("VOLT 3.31");
    Run("DAC:CODE 262143");
    Run("VOLT 5");
    Run("VOLT -1 MV");
    Run("VOLT:LIM 1");   // below the level now set
    Run("VOLT:LIM 5");
    EXPECT_EQ(log_.writes.size(), written);
    EXPECT_EQ(Errors(), "-222 -222 -222 -222 -222 -222 ");
    EXPECT_EQ(Run("VOLT 0;:VOLT:LIM MIN;LIM?;:VOLT:LIM DEF;LIM?"), "0E+00;4.93E+00");
}

TEST_F(MessageExecutorTest, AnErrorEndsItsMessageWithTheRepliesBeforeIt) {
    EXPECT_EQ(Run("*OPC?;VOLT 9;*IDN?"), "1");
    EXPECT_EQ(Run("VOLT 1;FOO;OUTP OFF"), "<none>");
    EXPECT_EQ(log_.writes.size(), 1u) << "VOLT 1 ran, OUTP OFF did not";
    Run("VOLT");
    Run("OUTP ON,OFF");
    Run("*CLS 1");
    Run("AVER:COUN 0");
    Run("AVER:COUN 4 V");
    Run("OUTP:OFF:MODE OPEN");
    Run("VOLT? 3");
    Run("VOLT #12");
    EXPECT_EQ(Errors(), "-222 -113 -109 -108 -108 -222 -131 -224 -224 -100 ");
}

TEST_F(MessageExecutorTest, ErrorQueueAndStatusRegisters) {
    EXPECT_EQ(Run("*ESE 60;*SRE 32;*ESE?;*SRE?;*STB?"), "60;32;16");   // a reply is waiting: MAV
    Run("MEASU?");
    EXPECT_EQ(Run("*STB?"), "100") << "error queue, event summary, service request";
    EXPECT_EQ(Run("SYST:ERR:COUN?;:SYST:ERR?"), "1;-113,\"Undefined header;MEASU?\"");
    EXPECT_EQ(Run("*ESR?;*ESR?;SYST:ERR?"), "32;0;0,\"No error\"");
    for (int i = 0; i < 12; ++i) Run("VOLT 9");
    EXPECT_EQ(Run("SYST:ERR:COUN?"), "10");
    EXPECT_EQ(Errors(), "-222 -222 -222 -222 -222 -222 -222 -222 -222 -350 ");
    Run("VOLT 9");
    Run("*OPC;*CLS");
    EXPECT_EQ(Run("*ESR?;SYST:ERR:COUN?;:SYST:VERS?"), "0;0;1999.0");
    EXPECT_EQ(Run("*OPC;*ESR?"), "1");
}

TEST_F(MessageExecutorTest, MeasureAveragesAndAFailedQueryStillAnswers) {
    EXPECT_EQ(Run("MEAS?"), "2.465E+00");
    EXPECT_EQ(Run("AVER:COUN 8;:MEAS:VOLT:DC?;:AVER:COUN?;COUN? MAX"), "2.465E+00;8;1024");
    EXPECT_EQ(log_.reads, (std::vector<unsigned>{1, 8}));

    log_.failure = BoardFailure(false, "the board stalled the request");
    EXPECT_EQ(Run("MEAS?;*TST?;*OPC?"), "9.91E+37;1;1") << "a board failure does not end the message";
    Run("VOLT 1");
    EXPECT_EQ(Run("VOLT?"), "0E+00") << "a failed write changes no setting";
    EXPECT_EQ(Errors(), "-240 -240 ");
}

TEST_F(MessageExecutorTest, AMissingBoardIsOpenedAgainByTheNextCommand) {
    Run("VOLT 1");
    log_.failure = BoardFailure(true, "board disconnected");
    EXPECT_EQ(Run("MEAS?"), "9.91E+37");
    EXPECT_EQ(Run("MEAS?;*TST?"), "9.91E+37;1") << "the reopen fails while the board is away";
    EXPECT_EQ(Errors(), "-241 -241 ");
    log_.failure.reset();
    EXPECT_EQ(Run("*TST?"), "1") << "a self-test never opens the board";
    EXPECT_EQ(Run("MEAS?;*TST?;VOLT?"), "2.465E+00;0;0E+00") << "settings start over on a board back from power-up";
    EXPECT_EQ(log_.opened, 1);
    EXPECT_EQ(log_.writes.size(), 1u) << "opening again writes nothing";
}

}  // namespace
}  // namespace tarnel::scpi
