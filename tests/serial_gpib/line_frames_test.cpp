// What the emulated serial line makes of bytes when the two ends disagree.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "line_frames.h"

using tarnel::emulator::LineFrame;
using tarnel::emulator::Resampled;

namespace {

const std::string kReply = "Velorn,Tarnel Emulated DMM,0,1.0\n";

bool IsText(const std::string& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte >= 0x20 && byte < 0x7F) || c == '\n';
    });
}

TEST(LineFrames, AgreeingEndsPassTheBytesAndOthersGiveGarbage) {
    const LineFrame meter{115200, 8, 'N', 1};
    struct Case {
        LineFrame client;
        bool readable;
    };
    const std::vector<Case> cases = {
        {{115200, 8, 'N', 1}, true},
        // Raw mode checks neither parity nor a second stop bit: ASCII sent 8N1 reads right at 7E1 or 8N2.
        {{115200, 7, 'E', 1}, true},
        {{115200, 8, 'N', 2}, true},
        // The parity bit expected where the stop bit is, the stop bit where the next start bit is.
        {{115200, 8, 'E', 1}, false},
        {{9600, 8, 'N', 1}, false},
        {{57600, 8, 'N', 1}, false},
        {{230400, 8, 'N', 1}, false},
    };
    for (const Case& c : cases) {
        const std::string heard = Resampled(kReply, meter, c.client);
        EXPECT_EQ(heard == kReply, c.readable) << c.client.Text();
        EXPECT_EQ(IsText(heard), c.readable) << c.client.Text();
    }
}

TEST(LineFrames, BitsAreSampledAsAReceiverDoes) {
    // Half the rate: the receiver samples every other bit of the sender's.
    // 0x00 at 9600 is low for nine bits, four and a half of 4800 baud: the
    // slow receiver reads three lows, then the stop bit and the idle line.
    EXPECT_EQ(Resampled(std::string(1, '\0'), {9600, 8, 'N', 1}, {4800, 8, 'N', 1}), "\xF8");
    // A start bit shorter than half the receiver's bit is taken for a glitch.
    EXPECT_EQ(Resampled("\xFF", {9600, 8, 'N', 1}, {4800, 8, 'N', 1}), "");
    // Twice the rate: 0x00 at 4800 holds the line low for 18 bit times of
    // 9600 baud: the fast receiver's stop bit is low, a framing error (NUL).
    EXPECT_EQ(Resampled(std::string(1, '\0'), {4800, 8, 'N', 1}, {9600, 8, 'N', 1}), std::string(1, '\0'));
    // Five data bits read of an 8-bit byte keep its low five bits when the rest are marks.
    EXPECT_EQ(Resampled("\xE5", {9600, 8, 'N', 1}, {9600, 5, 'N', 1}), "\x05");
    EXPECT_EQ(Resampled("", {9600, 8, 'N', 1}, {4800, 8, 'N', 1}), "");
    // A client side set to B0 (hang up) or to a rate the emulator does not know hears nothing.
    EXPECT_EQ(Resampled("*IDN?\n", {9600, 8, 'N', 1}, {0, 8, 'N', 1}), "");
}

}  // namespace
