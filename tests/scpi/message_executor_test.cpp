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

#include "scpi/board_commands.h"
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

// The instrument on a recording board, its table, and one client's connection.
class Session {
public:
    explicit Session(double ceilingVolts = protocol::kFullScaleVolts)
        : instrument_(std::make_unique<RecordingBoard>(log_), SetupFor(ceilingVolts)), table_(BoardCommands(instrument_)) {}

    std::string Send(const std::string& message) { return ExecuteMessage(message, table_, connection_).value_or("<none>"); }
    // The codes of the queued errors, oldest first; the queue is then empty.
    std::string Errors() {
        std::string all;
        while (connection_.errors.Count() > 0) all += connection_.errors.PopEntry().substr(0, 4) + " ";
        return all;
    }

    BoardLog log_;
    ConnectionState connection_;

private:
    InstrumentSetup SetupFor(double ceilingVolts) {
        InstrumentSetup setup;
        setup.boardNumber = 2;
        setup.version = "1.0";
        setup.ceilingVolts = ceilingVolts;
        setup.reopen = [this]() -> std::unique_ptr<Board> {
            if (log_.failure) throw BoardFailure(true, "no board found");
            ++log_.opened;
            return std::make_unique<RecordingBoard>(log_);
        };
        return setup;
    }

    Instrument instrument_;
    CommandTable table_;
};

class MessageExecutorTest : public ::testing::Test, public Session {};

TEST_F(MessageExecutorTest, EachSettingIsOneWriteAndSettingQueriesReachNoBoard) {
    EXPECT_EQ(Send("*IDN?"), "Velorn,Tarnel Evaluation Board,2,1.0");
    EXPECT_EQ(Send("VOLT 2.465;VOLT?;OUTP?;DAC:CODE?"), "2.465E+00;1;131072");
    EXPECT_EQ(Send("OUTP OFF;:OUTP:OFF:MODE R1K;MODE?;:OUTP ON;OUTP:OFF:MODE R100K"), "R1K");
    EXPECT_EQ(Send("DAC:CODE #H3FFFF;CODE?;:VOLT?;VOLT? MAX;VOLT? MIN"), "262143;4.92998E+00;4.92998E+00;0E+00");
    EXPECT_EQ(log_.writes, (std::vector<std::pair<std::uint32_t, PowerDown>>{
                               {0x20000, PowerDown::Normal},
                               {0x20000, PowerDown::ThreeState},
                               {0x20000, PowerDown::OneKToGround},   // the off mode goes out at once while off
                               {0x20000, PowerDown::Normal},         // R100K while on: kept, not written
                               {0x3FFFF, PowerDown::Normal}}));
    EXPECT_TRUE(log_.reads.empty());
    EXPECT_EQ(Send("OUTP 0;*RST;OUTP?;VOLT?;:OUTP:OFF:MODE?"), "0;0E+00;R100K");
    EXPECT_EQ(log_.writes.back(), (std::pair<std::uint32_t, PowerDown>{0, PowerDown::HundredKToGround}));
    EXPECT_EQ(Errors(), "");
}

TEST_F(MessageExecutorTest, TheLimitRefusesWithoutWriting) {
    EXPECT_EQ(Send("VOLT:LIM 3.3;LIM?;:VOLT MAX;VOLT?"), "3.3E+00;3.30001E+00");
    const std::size_t written = log_.writes.size();
    Send("VOLT 3.31");
    Send("DAC:CODE 262143");
    Send("VOLT 5");
    Send("VOLT -1 MV");
    Send("VOLT:LIM 1");   // below the level now set
    Send("VOLT:LIM 5");
    EXPECT_EQ(log_.writes.size(), written);
    EXPECT_EQ(Errors(), "-222 -222 -222 -222 -222 -222 ");
    EXPECT_EQ(Send("VOLT 0;:VOLT:LIM MIN;LIM?;:VOLT:LIM DEF;LIM?"), "0E+00;4.93E+00");
}

TEST_F(MessageExecutorTest, AnErrorEndsItsMessageWithTheRepliesBeforeIt) {
    EXPECT_EQ(Send("*OPC?;VOLT 9;*IDN?"), "1");
    EXPECT_EQ(Send("VOLT 1;FOO;OUTP OFF"), "<none>");
    EXPECT_EQ(log_.writes.size(), 1u) << "VOLT 1 ran, OUTP OFF did not";
    Send("VOLT");
    Send("OUTP ON,OFF");
    Send("*CLS 1");
    Send("AVER:COUN 0");
    Send("AVER:COUN 4 V");
    Send("OUTP:OFF:MODE OPEN");
    Send("VOLT? 3");
    Send("VOLT #12");
    EXPECT_EQ(Errors(), "-222 -113 -109 -108 -108 -222 -131 -224 -224 -100 ");
}

TEST_F(MessageExecutorTest, ErrorQueueAndStatusRegisters) {
    EXPECT_EQ(Send("*ESE 60;*SRE 32;*ESE?;*SRE?;*STB?"), "60;32;16");   // a reply is waiting: MAV
    Send("MEASU?");
    EXPECT_EQ(Send("*STB?"), "100") << "error queue, event summary, service request";
    EXPECT_EQ(Send("SYST:ERR:COUN?;:SYST:ERR?"), "1;-113,\"Undefined header;MEASU?\"");
    EXPECT_EQ(Send("*ESR?;*ESR?;SYST:ERR?"), "32;0;0,\"No error\"");
    for (int i = 0; i < 12; ++i) Send("VOLT 9");
    EXPECT_EQ(Send("SYST:ERR:COUN?"), "10");
    EXPECT_EQ(Errors(), "-222 -222 -222 -222 -222 -222 -222 -222 -222 -350 ");
    Send("VOLT 9");
    Send("*OPC;*CLS");
    EXPECT_EQ(Send("*ESR?;SYST:ERR:COUN?;:SYST:VERS?"), "0;0;1999.0");
    EXPECT_EQ(Send("*OPC;*ESR?"), "1");
}

TEST_F(MessageExecutorTest, MeasureAveragesAndAFailedQueryStillAnswers) {
    EXPECT_EQ(Send("MEAS?"), "2.465E+00");
    EXPECT_EQ(Send("AVER:COUN 8;:MEAS:VOLT:DC?;:AVER:COUN?;COUN? MAX"), "2.465E+00;8;1024");
    EXPECT_EQ(log_.reads, (std::vector<unsigned>{1, 8}));

    log_.failure = BoardFailure(false, "the board stalled the request");
    EXPECT_EQ(Send("MEAS?;*TST?;*OPC?"), "9.91E+37;1;1") << "a board failure does not end the message";
    Send("VOLT 1");
    EXPECT_EQ(Send("VOLT?"), "0E+00") << "a failed write changes no setting";
    EXPECT_EQ(Errors(), "-240 -240 ");
}

TEST_F(MessageExecutorTest, AMissingBoardIsOpenedAgainByTheNextCommand) {
    Send("VOLT 1");
    log_.failure = BoardFailure(true, "board disconnected");
    EXPECT_EQ(Send("MEAS?"), "9.91E+37");
    EXPECT_EQ(Send("MEAS?;*TST?"), "9.91E+37;1") << "the reopen fails while the board is away";
    EXPECT_EQ(Errors(), "-241 -241 ");
    log_.failure.reset();
    EXPECT_EQ(Send("*TST?"), "1") << "a self-test never opens the board";
    EXPECT_EQ(Send("MEAS?;*TST?;VOLT?"), "2.465E+00;0;0E+00") << "settings start over on a board back from power-up";
    EXPECT_EQ(log_.opened, 1);
    EXPECT_EQ(log_.writes.size(), 1u) << "opening again writes nothing";
}

// Each case on a fresh instrument (the ceiling is --vmax): a level and a limit
// given as the same number agree, whatever their order, as codes.
TEST(LevelAndLimitTest, ALevelAndALimitOfTheSameNumberAgree) {
    const struct {
        double ceiling;
        const char* message;
        const char* reply;
        const char* errors;
    } cases[] = {
        {4.93, "VOLT 3.3;:VOLT:LIM 3.3;LIM?;:VOLT?;:DAC:CODE?", "3.3E+00;3.30001E+00;175472", ""},
        {4.93, "VOLT:LIM 3.3;:VOLT 3.3;VOLT?;:DAC:CODE?", "3.30001E+00;175472", ""},
        {4.93, "VOLT 3.3;:VOLT:LIM 3.3;:VOLT 3.3;:DAC:CODE?;CODE? MAX", "175472;175472", ""},
        {4.93, "VOLT:LIM 3.3;:DAC:CODE 175472;CODE?", "175472", ""},
        {4.93, "VOLT:LIM 3.3;:DAC:CODE 175473", "<none>", "-222 "},
        {4.93, "VOLT:LIM 3.3;:VOLT 3.30001;VOLT?", "3.30001E+00", ""},   // the same code as 3.3
        {4.93, "VOLT:LIM 3.3;:VOLT 3.30002", "<none>", "-222 "},        // the next code
        {4.93, "VOLT 3.3;:VOLT:LIM 3.29999", "<none>", "-222 "},
        // Under --vmax 3.3 the output stays at or below 3.3 V: the code below.
        {3.3, "VOLT 3.3;VOLT?;:DAC:CODE?;:VOLT:LIM 3.3;LIM?", "3.29999E+00;175471;3.3E+00", ""},
        {3.3, "DAC:CODE 175472", "<none>", "-222 "},
        {3.3, "VOLT:LIM 3.31", "<none>", "-222 "},
    };
    for (const auto& c : cases) {
        Session session(c.ceiling);
        EXPECT_EQ(session.Send(c.message), c.reply) << c.message;
        EXPECT_EQ(session.Errors(), c.errors) << c.message;
    }
}

TEST_F(MessageExecutorTest, MeasureTakesARangeAndAResolutionAsMetersDo) {
    const struct {
        const char* message;
        const char* reply;
        const char* errors;
    } cases[] = {
        {"MEAS:VOLT:DC? DEF,DEF", "2.465E+00", ""},
        {"MEAS? 10,0.001", "2.465E+00", ""},
        {"MEAS? AUTO;:MEAS? MIN,MAX;:MEAS? 5 V,1 MV", "2.465E+00;2.465E+00;2.465E+00", ""},
        {"MEAS? 1,2,3", "<none>", "-108 "},
        {"MEAS? FAST", "<none>", "-224 "},
        {"MEAS? 1 S", "<none>", "-131 "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Send(c.message), c.reply) << c.message;
        EXPECT_EQ(Errors(), c.errors) << c.message;
    }
}

TEST_F(MessageExecutorTest, StatusSubsystem) {
    EXPECT_EQ(Send("STAT:OPER:EVEN?;COND?;ENAB?;:STAT:QUES:EVEN?;COND?;ENAB?"), "0;0;0;0;0;0");
    EXPECT_EQ(Send("STAT:OPER:ENAB 65535;ENAB?;:STAT:QUES:ENAB 1;ENAB?"), "32767;1");
    // A level refused by the limit: the QUEStionable voltage event, summed
    // up into bit 3 of the status byte.
    EXPECT_EQ(Send("*SRE 8;:VOLT:LIM 1;:VOLT 2"), "<none>");
    EXPECT_EQ(Send("*STB?;:STAT:QUES:COND?;:STAT:QUES?;:STAT:QUES?;*STB?"), "76;0;1;0;20");
    Send("STAT:QUES:ENAB 0;:DAC:CODE 262143");
    EXPECT_EQ(Send("*STB?;:STAT:QUES:EVEN?"), "4;1") << "latched while not enabled";
    // The board missing: a condition while it lasts, an event once.
    log_.failure = BoardFailure(true, "board disconnected");
    EXPECT_EQ(Send("MEAS?;:STAT:QUES:COND?;:STAT:QUES?;:STAT:QUES?"), "9.91E+37;512;512;0");
    log_.failure.reset();
    EXPECT_EQ(Send("STAT:QUES:COND?;:MEAS?;:STAT:QUES:COND?;:STAT:QUES?"), "512;2.465E+00;0;0");
    // STATus:PRESet clears the enables, *CLS the events.
    for (const char* message : {"STAT:QUES:ENAB 1", "VOLT 2", "STAT:PRES"}) Send(message);
    EXPECT_EQ(Send("STAT:OPER:ENAB?;:STAT:QUES:ENAB?;:STAT:QUES:EVEN?"), "0;0;1");
    Send("VOLT 2");
    Send("*CLS");
    EXPECT_EQ(Send("STAT:QUES?;:SYST:ERR:COUN?"), "0;0");
    Send("STAT:OPER:ENAB 65536");
    Send("STAT:QUES:COND? 1");
    Send("STAT:PRES 1");
    EXPECT_EQ(Errors(), "-222 -108 -108 ");
}

TEST_F(MessageExecutorTest, AllErrorsAtOnce) {
    Send("FOO");
    Send("VOLT 9");
    EXPECT_EQ(Send("SYST:ERR:COUN?;ALL?"),
              "2;-113,\"Undefined header;FOO\",-222,\"Data out of range;9 V is outside 0 to 4.93 V\"");
    EXPECT_EQ(Send("SYST:ERR:ALL?;COUN?"), "0,\"No error\";0");
}

}  // namespace
}  // namespace tarnel::scpi
