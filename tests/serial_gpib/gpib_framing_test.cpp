// The "++" adapters' framing as the client and the emulated adapter share it:
// data escaped and unescaped, and the host's input cut into lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scpi/client/gpib_escaping.h"

#include "gpib_adapter_commands.h"

namespace gpib = tarnel::scpi::client::gpib;
using tarnel::emulator::AdapterInput;

namespace {

const std::string kEsc(1, gpib::kEscape);

TEST(GpibEscaping, EscapesTheFramingBytesAndRoundTrips) {
    struct Case {
        std::string data;
        std::string escaped;
    };
    const std::vector<Case> cases = {
        {"*IDN?", "*IDN?"},
        {"", ""},
        {"VOLT +1.5E+00", "VOLT " + kEsc + "+1.5E" + kEsc + "+00"},
        {"A\rB\nC", "A" + kEsc + "\rB" + kEsc + "\nC"},
        {kEsc, kEsc + kEsc},
        {"++ver", kEsc + "+" + kEsc + "+ver"},   // data that looks like a command stays data
        {std::string("\0\x7F\xFF", 3), std::string("\0\x7F\xFF", 3)},
        {"\r\n", kEsc + "\r" + kEsc + "\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(gpib::Escaped(c.data), c.escaped) << c.data;
        EXPECT_EQ(gpib::Unescaped(gpib::Escaped(c.data)), c.data) << c.data;
    }
}

TEST(GpibEscaping, UnescapingKeepsTheByteAfterEachEscapeAndDropsALoneOneAtTheEnd) {
    EXPECT_EQ(gpib::Unescaped(kEsc + "x" + kEsc), "x");
    EXPECT_EQ(gpib::Unescaped("a" + kEsc + kEsc + kEsc + "+b"), "a" + kEsc + "+b");
}

TEST(GpibAdapterInput, CutsLinesAtUnescapedLineEndsOnly) {
    struct Case {
        std::vector<std::string> chunks;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {{"++ver\n"}, {"++ver"}},
        {{"++addr 22\r\n++read eoi\r"}, {"++addr 22", "++read eoi"}},
        {{"\n\r\n"}, {}},
        {{"*ID", "N?", "\n"}, {"*IDN?"}},
        {{"A" + kEsc + "\nB\n"}, {"A" + kEsc + "\nB"}},
        {{"A" + kEsc, "\rB\n"}, {"A" + kEsc + "\rB"}},            // an escape split across reads
        {{"A" + kEsc + kEsc + "\nB\n"}, {"A" + kEsc + kEsc, "B"}},   // an escaped ESC escapes nothing after it
        {{"no end yet"}, {}},
    };
    for (const Case& c : cases) {
        AdapterInput input;
        for (const std::string& chunk : c.chunks) input.Feed(chunk);
        std::vector<std::string> lines;
        while (auto line = input.Next()) lines.push_back(*line);
        EXPECT_EQ(lines, c.lines) << c.chunks.front();
    }
}

TEST(GpibAdapterInput, DropsALineTooLongAndKeepsTheNext) {
    AdapterInput input;
    input.Feed(std::string(AdapterInput::kLongestLine + 10, 'x'));
    input.Feed("\n++ver\n");
    EXPECT_EQ(input.Next(), "++ver");
    EXPECT_EQ(input.Next(), std::nullopt);
}

}  // namespace
