// The tarnelctl command line: what each form parses to, and which forms are
// refused as usage errors (exit 2) before anything touches the board.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "command_line/command_failure.h"
#include "command_line/command_line.h"
#include "command_line/value_parsing.h"

namespace tarnel::cli {
namespace {

using protocol::PowerDown;

std::vector<std::string> Words(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) words.push_back(word);
    return words;
}

Invocation Parse(const std::string& line) { return std::get<Invocation>(ParseCommandLine(Words(line))); }

TEST(CommandLineTest, ValuesAsUsersTypeThem) {
    const struct { std::string text; std::optional<std::uint64_t> word; } words[] = {
        {"3FFFF", 0x3FFFF}, {"0x3FFFF", 0x3FFFF}, {"3ffff", 0x3FFFF}, {"0", 0}, {"40000", 0x40000},
        {"FFFFFFFFFFFF", std::uint64_t{1} << 32}, {"", std::nullopt}, {"0x", std::nullopt}, {"12G", std::nullopt},
        {"-1", std::nullopt}, {"1 2", std::nullopt},
    };
    for (const auto& [text, word] : words) EXPECT_EQ(ParseHexWord(text), word) << text;

    const struct { std::string text; std::optional<double> volts; } voltages[] = {
        {"2.5", 2.5}, {"2.5V", 2.5}, {"2.5v", 2.5}, {"2500mV", 2.5}, {"2500MV", 2.5}, {"0", 0.0}, {"-1", -1.0},
        {".5", 0.5}, {"V", std::nullopt}, {"nan", std::nullopt}, {"inf", std::nullopt}, {"1e3", std::nullopt},
        {"2,5", std::nullopt}, {"2.5 V", std::nullopt},
    };
    for (const auto& [text, volts] : voltages) EXPECT_EQ(ParseVolts(text), volts) << text;

    EXPECT_EQ(ParseCount("0x10"), 16u);
    EXPECT_EQ(ParseCount("10"), 10u);
    for (const auto& [name, mode] : {std::pair{"normal", PowerDown::Normal}, {"1K", PowerDown::OneKToGround},
                                     {"100k", PowerDown::HundredKToGround}, {"HiZ", PowerDown::ThreeState}}) {
        EXPECT_EQ(ParseMode(name), mode) << name;
    }
    EXPECT_EQ(ParseMode("off"), std::nullopt);
}

TEST(CommandLineTest, CommandsAndOptions) {
    const Invocation code = Parse("--library older --vmax 3300mV code 0x20000 --mode 1k --json");
    EXPECT_EQ(code.options.library, LibraryChoice::Older);
    EXPECT_EQ(code.options.vmax, 3.3);
    EXPECT_TRUE(code.options.json) << "global options may follow the command";
    EXPECT_EQ(std::get<CodeCommand>(code.command).word, 0x20000u);
    EXPECT_EQ(std::get<CodeCommand>(code.command).mode, PowerDown::OneKToGround);

    const Invocation volts = Parse("--board=2 volts -0.5");
    EXPECT_EQ(volts.options.board, 2);
    EXPECT_EQ(volts.options.boardPath, std::nullopt);
    // A number or a port path, whichever comes last.
    const struct { std::string line; unsigned board; std::optional<std::string> path; } boards[] = {
        {"--board 1-2 read", 0, "1-2"},
        {"--board 3-1.4.2 read", 0, "3-1.4.2"},
        {"--board 1-2 --board 1 read", 1, std::nullopt},
        {"--board 0x10 read", 16, std::nullopt},
    };
    for (const auto& [line, board, path] : boards) {
        const Invocation parsed = Parse(line);
        EXPECT_EQ(parsed.options.board, board) << line;
        EXPECT_EQ(parsed.options.boardPath, path) << line;
    }
    EXPECT_EQ(std::get<VoltsCommand>(volts.command).volts, -0.5) << "refused later, as out of range";

    const auto sweep = std::get<SweepCommand>(
        Parse("sweep --from 0 --to 3FFFF --points=65 --settle 0.5 --avg 4 --csv out.csv --plot p.png --mode hiz").command);
    EXPECT_EQ(sweep.to, 0x3FFFFu);
    EXPECT_EQ(sweep.points, 65u);
    EXPECT_EQ(sweep.step, std::nullopt);
    EXPECT_EQ(sweep.settleMs, 0.5);
    EXPECT_EQ(sweep.averaged, 4u);
    EXPECT_EQ(sweep.output.csvFile, "out.csv");
    EXPECT_EQ(sweep.output.plotFile, "p.png");
    EXPECT_EQ(sweep.mode, PowerDown::ThreeState);
    EXPECT_EQ(sweep.park, std::nullopt) << "the DAC stays at the last code";
    EXPECT_EQ(std::get<SweepCommand>(Parse("sweep --from 0 --to 1 --step 1 --park 20000").command).park, 0x20000u);

    // Each output goes one place, chosen here: stdout carries one format.
    using Rows = OutputChoice::Rows;
    const struct { const char* options; Rows rows; bool json; bool summaryOnStdout; } outputs[] = {
        {"", Rows::CsvOnStdout, false, false},
        {"--csv -", Rows::CsvOnStdout, false, false},
        {"--csv f.csv", Rows::CsvFile, false, true},
        {"--json", Rows::InJsonSummary, true, true},
        {"--csv f.csv --json", Rows::CsvFile, true, true},
    };
    for (const auto& o : outputs) {
        const auto chosen = std::get<SweepCommand>(Parse(std::string("sweep --from 0 --to 1 --step 1 ") + o.options).command);
        EXPECT_EQ(chosen.output.rows, o.rows) << o.options;
        EXPECT_EQ(chosen.output.jsonSummary, o.json) << o.options;
        EXPECT_EQ(chosen.output.SummaryOnStdout(), o.summaryOnStdout) << o.options;
    }

    const auto logged = std::get<ReadCommand>(Parse("read --count 5 --interval 250 --avg 2").command);
    EXPECT_EQ(logged.count, 5u);
    EXPECT_EQ(logged.intervalMs, 250.0);
    EXPECT_EQ(std::get<ReadCommand>(Parse("read --count 3").command).intervalMs, 1000.0) << "a reading a second";

    const auto serve = std::get<ServeCommand>(Parse("serve").command);
    EXPECT_EQ(serve.listen.host, "127.0.0.1");
    EXPECT_EQ(serve.listen.port, 5025);
    EXPECT_EQ(serve.maxClients, 8u);
    EXPECT_FALSE(serve.allow.has_value()) << "the default follows the listening address";
    for (const auto& [text, read] :
         {std::pair{"any", "any address"}, {"10.0.0.0/8,fd00::/8", "loopback, 10.0.0.0/8, fd00::/8"}}) {
        const auto allowing = std::get<ServeCommand>(Parse(std::string("serve --allow=") + text).command);
        ASSERT_TRUE(allowing.allow.has_value()) << text;
        EXPECT_EQ(allowing.allow->Text(), read);
    }
    for (const auto& [text, host, port] : {std::tuple{"0.0.0.0:5025", "0.0.0.0", 5025}, {"[::1]:15025", "::1", 15025},
                                           {"[::]:0", "::", 0}}) {
        const auto listening = std::get<ServeCommand>(Parse(std::string("serve --max-clients 2 --listen ") + text).command);
        EXPECT_EQ(listening.listen.host, host) << text;
        EXPECT_EQ(listening.listen.port, port) << text;
        EXPECT_EQ(listening.maxClients, 2u);
    }

    EXPECT_FALSE(std::get<MetersCommand>(Parse("meters").command).identify);
    EXPECT_TRUE(std::get<MetersCommand>(Parse("--json meters --identify").command).identify);
    const auto asked = std::get<MeterCommand>(Parse("meter /dev/ttyUSB0 *RST MEAS? --serial 19200").command);
    EXPECT_EQ(asked.meter.resource.Text(), "ASRL/dev/ttyUSB0::INSTR");
    EXPECT_EQ(asked.meter.connection.serial.baud, 19200u);
    EXPECT_EQ(asked.messages, (std::vector<std::string>{"*RST", "MEAS?"}));
    EXPECT_EQ(std::get<MeterCommand>(Parse("meter h:5025").command).messages, std::vector<std::string>{"*IDN?"});

    EXPECT_EQ(std::get<ReadCommand>(Parse("read").command).averaged, 1u);
    EXPECT_EQ(std::get<ReadCommand>(Parse("read").command).count, std::nullopt);
    EXPECT_TRUE(std::holds_alternative<HelpRequest>(ParseCommandLine(Words("code 1 --help"))));
    EXPECT_TRUE(std::holds_alternative<VersionRequest>(ParseCommandLine(Words("--version"))));
}

TEST(CommandLineTest, UsageErrorsNameWhatIsWrong) {
    const struct { std::string line; std::string says; } cases[] = {
        {"", "no command given"},
        {"blink", "unknown command 'blink'"},
        {"code", "code needs a data word"},
        {"code 12G", "not '12G'"},
        {"code 1 2", "does not take '2'"},
        {"code 1 --avg 2", "code has no option --avg"},
        {"code 1 --mode off", "normal, 1k, 100k or hiz"},
        {"volts 2,5", "not '2,5'"},
        {"read --avg 0", "--avg needs a whole number from 1"},
        {"read --avg", "--avg needs a value"},
        {"--avg 2 read", "before the command"},
        {"--library new read", "newer or older"},
        {"--board 256 read", "--board needs a board number from 0 to 255 or a USB port path"},
        {"--board 1-0 read", "not '1-0'"},
        {"--board 1- read", "not '1-'"},
        {"--board 1-2. read", "not '1-2.'"},
        {"--board usb1 read", "not 'usb1'"},
        {"--vmax -1 read", "--vmax needs a voltage"},
        {"--json=yes read", "--json takes no value"},
        {"-x read", "unknown option '-x'"},
        {"sweep --to 10 --points 2", "sweep needs --from"},
        {"sweep --from 0 --to 10", "either --step N or --points N"},
        {"sweep --from 0 --to 10 --step 1 --points 2", "either --step N or --points N"},
        {"sweep --from 0 --to 10 --step 0", "--step needs a whole number from 1"},
        {"sweep --from 0 --to 10 --points 2 --settle -1", "--settle needs milliseconds"},
        {"serve --listen localhost:5025", "--listen needs an address and a port"},
        {"serve --listen ::1:5025", "--listen needs an address and a port"},
        {"serve --listen [127.0.0.1]:5025", "--listen needs an address and a port"},
        {"serve --listen 127.0.0.1:65536", "--listen needs an address and a port"},
        {"serve --listen 127.0.0.1", "--listen needs an address and a port"},
        {"serve --max-clients 0", "--max-clients needs a whole number from 1 to 256"},
        {"serve --allow 10.1.0.0/8", "--allow: allow-list entry '10.1.0.0/8' has bits set past its /8"},
        {"serve --allow 10.0.0.0/8,lab", "--allow: allow-list entry 'lab' is not an IPv4 or IPv6 address"},
        {"serve --allow", "--allow needs a value"},
        {"read --allow any", "read has no option --allow"},
        {"--json serve", "leave out --json"},
        {"sweep --from 0 --to 10 --step 1 --csv - --json", "one stdout"},
        {"--json sweep --from 0 --to 10 --step 1 --csv=-", "one stdout"},
        {"sweep --from 0 --to 10 --step 1 --park 12G", "--park needs a data word"},
        {"read --interval 100", "--interval needs --count"},
        {"read --count 0", "--count needs a whole number from 1"},
        {"read --count 2 --interval -5", "--interval needs milliseconds"},
        {"meter", "meter needs a RESOURCE"},
        {"meter dmm *IDN?", "meter needs a resource"},
        {"meter GPIB0::22::INSTR *IDN?", "through an adapter"},
        {"meter h:1 --gpib-adapter /dev/ttyUSB0", "--gpib-adapter goes with a GPIB meter"},
        {"meters --serial 9600", "meters has no option --serial"},
        {"meters extra", "does not take 'extra'"},
    };
    for (const auto& [line, says] : cases) {
        try {
            ParseCommandLine(Words(line));
            ADD_FAILURE() << "accepted: " << line;
        } catch (const CommandFailure& failure) {
            EXPECT_EQ(failure.Status(), ExitStatus::Usage) << line;
            EXPECT_NE(std::string(failure.what()).find(says), std::string::npos) << line << ": " << failure.what();
            EXPECT_NE(std::string(failure.what()).find("tarnelctl --help"), std::string::npos) << line;
        }
    }
}

}  // namespace
}  // namespace tarnel::cli
