// The emulated adapter's "++" commands: settings set and answered, the
// bus actions they ask for, and what is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gpib_adapter_commands.h"

using tarnel::emulator::AdapterAction;
using tarnel::emulator::AdapterCommands;
using tarnel::emulator::kUnrecognizedCommand;
using tarnel::emulator::ReadEnd;
using Kind = AdapterAction::Kind;

namespace {

// The answer to the last of lines, sent to an adapter that starts at address 22.
std::string AnswerAfter(const std::vector<std::string>& lines) {
    AdapterCommands commands(22);
    AdapterAction action;
    for (const std::string& line : lines) action = commands.Handle(line);
    return action.kind == Kind::Answer ? action.answer : "(" + std::to_string(static_cast<int>(action.kind)) + ")";
}

TEST(GpibAdapterCommands, SettingsAreSetAndReadBackOrRefused) {
    struct Case {
        std::vector<std::string> lines;
        std::string answer;
    };
    const std::string none = "(0)";
    const std::vector<Case> cases = {
        {{"++addr"}, "22"},
        {{"++addr 5", "++addr"}, "5"},
        {{"++addr 30", "++addr"}, "30"},
        {{"++addr 31"}, kUnrecognizedCommand},
        {{"++addr 31", "++addr"}, "22"},   // a refused value changes nothing
        {{"++addr 9 96", "++addr"}, "9"},
        {{"++addr 9 95"}, kUnrecognizedCommand},
        {{"++addr x"}, kUnrecognizedCommand},
        {{"++addr 5", "++rst", "++addr"}, "22"},
        {{"++addr 5", "++savecfg 1", "++addr 7", "++rst", "++addr"}, "5"},
        {{"++mode"}, "1"},
        {{"++mode 0", "++mode"}, "0"},
        {{"++mode 2"}, kUnrecognizedCommand},
        {{"++auto 1", "++auto"}, "1"},
        {{"++eoi"}, "1"},
        {{"++eoi 0", "++eoi"}, "0"},
        {{"++eos"}, "0"},
        {{"++eos 3", "++eos"}, "3"},
        {{"++eos 4"}, kUnrecognizedCommand},
        {{"++read_tmo_ms"}, "500"},
        {{"++read_tmo_ms 1", "++read_tmo_ms"}, "1"},
        {{"++read_tmo_ms 3000", "++read_tmo_ms"}, "3000"},
        {{"++read_tmo_ms 0"}, kUnrecognizedCommand},
        {{"++read_tmo_ms 3001"}, kUnrecognizedCommand},
        {{"++read_tmo_ms -5"}, kUnrecognizedCommand},
        {{"++eot_enable 1", "++eot_char 10", "++eot_char"}, "10"},
        {{"++savecfg"}, "1"},
        {{"++ver"}, AdapterCommands::Version()},
        {{"++   addr   7  ", "++addr"}, "7"},
        {{"++"}, kUnrecognizedCommand},
        {{"++bogus"}, kUnrecognizedCommand},
        {{"++ADDR"}, kUnrecognizedCommand},
        {{"++ver 2"}, kUnrecognizedCommand},
        {{"++ifc"}, none},
        {{"++loc"}, none},
        {{"++eoi 1"}, none},
    };
    for (const Case& c : cases) EXPECT_EQ(AnswerAfter(c.lines), c.answer) << c.lines.back();
}

TEST(GpibAdapterCommands, BusCommandsNameWhatTheAdapterDoes) {
    struct Case {
        std::string line;
        Kind kind;
        ReadEnd readEnd;
        char endCharacter;
        std::vector<unsigned> addresses;
    };
    const std::vector<Case> cases = {
        {"++read", Kind::Read, ReadEnd::Timeout, 0, {}},
        {"++read eoi", Kind::Read, ReadEnd::Eoi, 0, {}},
        {"++read 10", Kind::Read, ReadEnd::Character, '\n', {}},
        {"++read 256", Kind::Answer, ReadEnd::Eoi, 0, {}},
        {"++read eol", Kind::Answer, ReadEnd::Eoi, 0, {}},
        {"++clr", Kind::DeviceClear, ReadEnd::Eoi, 0, {}},
        {"++trg", Kind::Trigger, ReadEnd::Eoi, 0, {22}},
        {"++trg 3 22 7", Kind::Trigger, ReadEnd::Eoi, 0, {3, 22, 7}},
        {"++trg 40", Kind::Answer, ReadEnd::Eoi, 0, {}},
        {"++spoll", Kind::SerialPoll, ReadEnd::Eoi, 0, {22}},
        {"++spoll 4", Kind::SerialPoll, ReadEnd::Eoi, 0, {4}},
    };
    for (const Case& c : cases) {
        AdapterCommands commands(22);
        const AdapterAction action = commands.Handle(c.line);
        EXPECT_EQ(action.kind, c.kind) << c.line;
        if (action.kind == Kind::Answer) {
            EXPECT_EQ(action.answer, kUnrecognizedCommand) << c.line;
            continue;
        }
        if (c.kind == Kind::Read) {
            EXPECT_EQ(action.readEnd, c.readEnd) << c.line;
            EXPECT_EQ(action.endCharacter, c.endCharacter) << c.line;
        }
        EXPECT_EQ(action.addresses, c.addresses) << c.line;
    }
}

TEST(GpibAdapterCommands, EosTerminatorsAreTheFourOfTheCommandSet) {
    EXPECT_EQ(tarnel::emulator::EosTerminator(0), "\r\n");
    EXPECT_EQ(tarnel::emulator::EosTerminator(1), "\r");
    EXPECT_EQ(tarnel::emulator::EosTerminator(2), "\n");
    EXPECT_EQ(tarnel::emulator::EosTerminator(3), "");
}

}  // namespace
