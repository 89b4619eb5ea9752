// The SCPI text side: headers in their long and short forms with optional
// nodes and the path rules of compound messages, parameters of every kind,
// what each kind of malformed message reports, and the input cut into lines.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "scpi/command_call.h"
#include "scpi/command_table.h"
#include "scpi/input_lines.h"
#include "scpi/message_parser.h"
#include "scpi/parameter_values.h"

namespace tarnel::scpi {
namespace {

// A table of the board's headers whose handlers do nothing: the parser only
// resolves headers to rows.
constexpr const char* kLevel = "[SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude]";
constexpr const char* kLimit = "[SOURce:]VOLTage:LIMit[:AMPLitude]";
constexpr const char* kCode = "[SOURce:]DAC:CODE";
constexpr const char* kOutput = "OUTPut[:STATe]";
constexpr const char* kOffMode = "OUTPut:OFF:MODE";
constexpr const char* kMeasure = "MEASure[:VOLTage][:DC]";
constexpr const char* kAverage = "[SENSe:]AVERage:COUNt";

const CommandTable& Table() {
    static const CommandTable table = [] {
        const auto set = [](CommandCall&) {};
        const auto query = [](CommandCall&) { return std::string(); };
        std::vector<CommandRow> rows;
        for (const char* header : {kLevel, kLimit, kCode, kOutput, kOffMode, kAverage}) rows.push_back({header, set, query});
        rows.push_back({kMeasure, {}, query});
        return CommandTable({}, std::move(rows));
    }();
    return table;
}

ParsedMessage Parse(const std::string& message) { return ParseMessage(message, Table()); }

// The header of each unit's row, and whether it is a query.
std::vector<std::pair<std::string, bool>> Units(const ParsedMessage& parsed) {
    std::vector<std::pair<std::string, bool>> units;
    for (const ProgramUnit& unit : parsed.units) units.emplace_back(unit.row->header, unit.query);
    return units;
}

TEST(MessageParserTest, HeadersResolveByFormsOptionalNodesAndPath) {
    const std::string kNextError = "SYSTem:ERRor[:NEXT]";
    const struct {
        const char* message;
        std::vector<std::pair<std::string, bool>> units;
    } cases[] = {
        {"*IDN?", {{"*IDN", true}}},
        {"*idn?", {{"*IDN", true}}},
        {"VOLT 1", {{kLevel, false}}},
        {"source:voltage:level:immediate:amplitude 1", {{kLevel, false}}},
        {"SOUR:VOLT:AMPL?", {{kLevel, true}}},
        {"volt:imm 1", {{kLevel, false}}},
        {"VOLT:LIM 3;LIM?", {{kLimit, false}, {kLimit, true}}},   // path SOUR:VOLT after VOLT:LIM
        {"SOUR:VOLT:LIM 3;AMPL 1", {{kLimit, false}, {kLevel, false}}},   // AMPL continues from SOUR:VOLT
        {"VOLT 1;:MEAS?", {{kLevel, false}, {kMeasure, true}}},
        {"VOLT 1;MEAS?", {{kLevel, false}, {kMeasure, true}}},   // VOLT leaves the path at the root
        {"OUTP:OFF:MODE R1K;OUTP ON", {{kOffMode, false}, {kOutput, false}}},   // nothing under OUTP:OFF: from the root
        {"OUTP:OFF:MODE HIZ;*OPC;MODE?", {{kOffMode, false}, {"*OPC", false}, {kOffMode, true}}},
        {"MEAS:VOLT:DC?", {{kMeasure, true}}},
        {"DAC:CODE #H3FFFF;CODE?", {{kCode, false}, {kCode, true}}},
        {"AVER:COUN 4;SENS:AVER:COUNT?", {{kAverage, false}, {kAverage, true}}},
        {"SYST:ERR?;ERR:NEXT?;:SYSTEM:ERROR:COUNT?", {{kNextError, true}, {kNextError, true}, {"SYSTem:ERRor:COUNt", true}}},
        {"STAT:OPER?;QUES?;QUES:ENAB 8;:STAT:PRES;:STATUS:QUESTIONABLE:EVENT?",
         {{"STATus:OPERation[:EVENt]", true}, {"STATus:QUEStionable[:EVENt]", true},
          {"STATus:QUEStionable:ENABle", false}, {"STATus:PRESet", false}, {"STATus:QUEStionable[:EVENt]", true}}},
        {"  OUTP:STAT ON ;; ;OUTP?  ", {{kOutput, false}, {kOutput, true}}},
        {"", {}},
    };
    for (const auto& c : cases) {
        const ParsedMessage parsed = Parse(c.message);
        EXPECT_FALSE(parsed.error) << c.message << ": " << parsed.error->detail;
        EXPECT_EQ(Units(parsed), c.units) << c.message;
    }
}

TEST(MessageParserTest, MalformedMessagesKeepTheUnitsBeforeTheError) {
    const struct {
        const char* message;
        std::size_t unitsBefore;
        ErrorCode error;
    } cases[] = {
        {"MEASU?", 0, ErrorCode::UndefinedHeader},
        {"VOLTA 1", 0, ErrorCode::UndefinedHeader},       // neither the short nor the long form
        {"*RST?", 0, ErrorCode::UndefinedHeader},         // no query form
        {"MEAS", 0, ErrorCode::UndefinedHeader},          // no setting form
        {"OUTP1 ON", 0, ErrorCode::UndefinedHeader},
        {"VOLT 1;OFF:MODE HIZ", 1, ErrorCode::UndefinedHeader},   // OUTP's path is not in force
        {"*IDN?;VOLT,1", 1, ErrorCode::SyntaxError},
        {"VOLT 1 2", 0, ErrorCode::SyntaxError},
        {"VOLT 1,", 0, ErrorCode::SyntaxError},
        {"VOLT ::", 0, ErrorCode::SyntaxError},
        {"VOLT \"open", 0, ErrorCode::SyntaxError},
        {"VOLT #HFG", 0, ErrorCode::SyntaxError},
        {"VOLT #X1", 0, ErrorCode::SyntaxError},
        {"VOLT #12ab", 0, ErrorCode::CommandError},       // block data
        {"VOLT (1)", 0, ErrorCode::CommandError},         // expression
        {"VOLT -", 0, ErrorCode::SyntaxError},
        {"VOLT? @", 0, ErrorCode::SyntaxError},
        {"*", 0, ErrorCode::SyntaxError},
        {":", 0, ErrorCode::SyntaxError},
        {"\xff\xfe", 0, ErrorCode::SyntaxError},
    };
    for (const auto& c : cases) {
        const ParsedMessage parsed = Parse(c.message);
        ASSERT_TRUE(parsed.error) << c.message;
        EXPECT_EQ(parsed.error->code, c.error) << c.message << ": " << parsed.error->detail;
        EXPECT_EQ(parsed.units.size(), c.unitsBefore) << c.message;
    }
}

Parameter OnlyParameter(const std::string& message) {
    const ParsedMessage parsed = Parse(message);
    EXPECT_TRUE(!parsed.error && parsed.units.size() == 1 && parsed.units[0].parameters.size() == 1) << message;
    return parsed.units.at(0).parameters.at(0);
}

TEST(ParameterValuesTest, NumbersUnitsAndTheirLimits) {
    const struct {
        const char* message;
        Unit unit;
        NumericValue value;
    } cases[] = {
        {"VOLT 2.465", Unit::Volts, 2.465},
        {"VOLT 2465 MV", Unit::Volts, 2.465},
        {"VOLT 2465mv", Unit::Volts, 2.465},
        {"VOLT 2.5v", Unit::Volts, 2.5},
        {"VOLT 1500000UV", Unit::Volts, 1.5},
        {"VOLT +.5E1", Unit::Volts, 5.0},
        {"VOLT 1.E-3", Unit::Volts, 0.001},
        {"VOLT 1e999", Unit::Volts, HUGE_VAL},
        {"VOLT -1e999", Unit::Volts, -HUGE_VAL},
        {"VOLT 1e-999", Unit::Volts, 0.0},
        {"DAC:CODE #H3ffff", Unit::None, 262143.0},
        {"DAC:CODE #Q777", Unit::None, 511.0},
        {"DAC:CODE #B101", Unit::None, 5.0},
        {"DAC:CODE #HFFFFFFFFFFFFFFFFFFFF", Unit::None, 18446744073709551615.0},   // saturates
        {"VOLT MAX", Unit::Volts, NumericLimit::Maximum},
        {"VOLT minimum", Unit::Volts, NumericLimit::Minimum},
        {"VOLT DEF", Unit::Volts, NumericLimit::Default},
    };
    for (const auto& c : cases) EXPECT_EQ(NumberIn(OnlyParameter(c.message), c.unit), c.value) << c.message;

    const struct {
        const char* message;
        Unit unit;
        ErrorCode error;
    } refused[] = {
        {"VOLT 1 KV", Unit::Volts, ErrorCode::InvalidSuffix}, {"VOLT 1E", Unit::Volts, ErrorCode::InvalidSuffix},
        {"DAC:CODE 5V", Unit::None, ErrorCode::InvalidSuffix}, {"VOLT MAXI", Unit::Volts, ErrorCode::IllegalParameterValue},
        {"VOLT 'a'", Unit::Volts, ErrorCode::IllegalParameterValue}, {"VOLT ON", Unit::Volts, ErrorCode::IllegalParameterValue},
    };
    for (const auto& c : refused) {
        try {
            NumberIn(OnlyParameter(c.message), c.unit);
            ADD_FAILURE() << c.message << " was taken";
        } catch (const ScpiFailure& failure) {
            EXPECT_EQ(failure.Code(), c.error) << c.message;
        }
    }
}

TEST(ParameterValuesTest, BooleansChoicesAndStrings) {
    EXPECT_TRUE(BooleanIn(OnlyParameter("OUTP on")));
    EXPECT_FALSE(BooleanIn(OnlyParameter("OUTP OFF")));
    EXPECT_FALSE(BooleanIn(OnlyParameter("OUTP 0.4")));   // rounds to 0
    EXPECT_TRUE(BooleanIn(OnlyParameter("OUTP 2")));
    EXPECT_THROW(BooleanIn(OnlyParameter("OUTP MAX")), ScpiFailure);
    EXPECT_EQ(ChoiceIn(OnlyParameter("OUTP:OFF:MODE r100k"), {"HIZ", "R1K", "R100K"}), 2u);
    EXPECT_THROW(ChoiceIn(OnlyParameter("OUTP:OFF:MODE R10K"), {"HIZ", "R1K", "R100K"}), ScpiFailure);
    EXPECT_EQ(OnlyParameter("VOLT 'it''s'").text, "it's");
    EXPECT_EQ(OnlyParameter("VOLT \"a;b\"").text, "a;b");
}

TEST(InputLinesTest, LinesEndWithLfAndOverlongOnesAreDroppedWhole) {
    InputLines lines;
    const std::string longest(InputLines::kLongestLine, 'A');
    // Delivered in pieces that split the line ends and the long lines.
    const std::string input = "*IDN?\r\nVOLT 1\n\n" + longest + "\r\n" + longest + "B\nMEAS?\n";
    for (std::size_t at = 0; at < input.size(); at += 1000) lines.Feed(std::string_view(input).substr(at, 1000));
    std::vector<std::string> seen;
    while (auto line = lines.Next()) seen.push_back(line->overrun ? "<overrun>" : line->text.substr(0, 10));
    EXPECT_EQ(seen, (std::vector<std::string>{"*IDN?", "VOLT 1", "", "AAAAAAAAAA", "<overrun>", "MEAS?"}));

    InputLines endless;   // the overrun comes out before the line ends
    endless.Feed(std::string(InputLines::kLongestLine + 2, 'x'));
    const auto overrun = endless.Next();
    ASSERT_TRUE(overrun && overrun->overrun);
    endless.Feed(std::string(InputLines::kLongestLine, 'x') + "\n*CLS\n");
    EXPECT_EQ(endless.Next()->text, "*CLS");
    EXPECT_FALSE(endless.Next());
}

}  // namespace
}  // namespace tarnel::scpi
