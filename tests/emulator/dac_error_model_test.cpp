#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include <tarnel/dac_error_model.h>

#include "board_model.h"
#include "dac_errors_file.h"

namespace {

namespace p = tarnel::protocol;
using namespace tarnel::emulator;

// V(k) written out again, in long double, bit by bit and with the bow as k(K-k)/K².
long double IndependentVolts(const DacErrors& e, std::uint32_t k) {
    const long double lsb = 4.93L / 262144.0L;
    const long double fullScale = 262143.0L;
    long double codes = k;
    for (int i = 0; i < 18; ++i) {
        if (k & (1u << i)) codes += e.bitLsb[static_cast<std::size_t>(i)];
    }
    codes += e.bowLsb * 4.0L * k * (fullScale - k) / (fullScale * fullScale);
    return e.offsetUv / 1e6L + (1.0L + e.gainPpm / 1e6L) * lsb * codes;
}

std::vector<DacErrors> Profiles() {
    DacErrors offsetAndGain;
    offsetAndGain.offsetUv = -37.5;
    offsetAndGain.gainPpm = 120;
    DacErrors bits;
    bits.bitLsb[0] = 0.25;
    bits.bitLsb[9] = -1.5;
    bits.bitLsb[16] = 2;
    bits.bitLsb[17] = -0.75;
    DacErrors bowed;
    bowed.bowLsb = -3;
    DacErrors everything = bits;
    everything.offsetUv = 12;
    everything.gainPpm = -45;
    everything.bowLsb = 1.25;
    return {DacErrors{}, offsetAndGain, bits, bowed, everything};
}

TEST(DacErrorModelTest, OutputMatchesTheFormulaForEveryProfile) {
    const std::uint32_t codes[] = {0, 1, 2, 511, 512, 0x1FFFF, 0x20000, 0x20001, 0x2AAAA, 0x3FFFE, 0x3FFFF};
    for (const DacErrors& errors : Profiles()) {
        const DacOutputModel model(errors);
        for (const std::uint32_t code : codes) {
            const double expected = static_cast<double>(IndependentVolts(errors, code));
            EXPECT_NEAR(DacModelVolts(errors, code), expected, 1e-12) << "code " << code;
            EXPECT_EQ(model.Volts({code, p::PowerDown::Normal}), DacModelVolts(errors, code));
            for (const auto powerDown : {p::PowerDown::OneKToGround, p::PowerDown::ThreeState}) {
                EXPECT_EQ(model.Volts({code, powerDown}), 0.0);
            }
        }
    }
    // Without errors the output is the ideal one to the last bit, so every figure stays as it was.
    for (std::uint32_t code = 0; code <= p::kDataMask; ++code) {
        ASSERT_EQ(DacModelVolts({}, code), p::DacOutputVolts(code)) << code;
    }
}

TEST(DacErrorModelTest, NoiseHasTheGivenSpreadAndRepeatsWithTheSeed) {
    DacErrors errors;
    errors.offsetUv = 100;
    errors.noiseUv = 2.5;
    DacOutputModel first(errors), second(errors);
    errors.seed = 2;
    DacOutputModel otherSeed(errors);
    const p::DacInput mid{0x20000, p::PowerDown::Normal};
    const double exact = first.Volts(mid);
    constexpr int kSamples = 20000;
    double sum = 0, squares = 0;
    bool seedMatters = false;
    for (int i = 0; i < kSamples; ++i) {
        const double deviation = first.Sample(mid) - exact;
        ASSERT_EQ(second.Sample(mid) - exact, deviation);
        seedMatters |= otherSeed.Sample(mid) - exact != deviation;
        sum += deviation;
        squares += deviation * deviation;
    }
    EXPECT_TRUE(seedMatters);
    EXPECT_NEAR(sum / kSamples, 0.0, 0.1e-6);
    EXPECT_NEAR(std::sqrt(squares / kSamples), 2.5e-6, 0.1e-6);
    EXPECT_EQ(first.Sample({0x20000, p::PowerDown::HundredKToGround}), 0.0);
}

TEST(DacErrorModelTest, TheMetersNoiseDoesNotDependOnWhenTheConverterSamples) {
    // The meter and the read-back sample from different threads in no fixed
    // order: the meter's readings must come out the same whatever the order.
    DacErrors errors;
    errors.noiseUv = 1.0;
    errors.seed = 7;
    const p::DacInput mid{0x20000, p::PowerDown::Normal};
    for (const int conversionsBetween : {0, 1, 3}) {
        DacOutputModel alone(errors), interleaved(errors);
        for (int i = 0; i < 50; ++i) {
            for (int c = 0; c < conversionsBetween; ++c) interleaved.Sample(mid, Observer::Converter);
            ASSERT_EQ(interleaved.Sample(mid, Observer::Meter), alone.Sample(mid, Observer::Meter))
                << conversionsBetween << " conversions between, reading " << i;
        }
    }
}

TEST(DacErrorModelTest, ReadBackConvertsTheSameOutputWithinTheConverterRange) {
    // offset µV, input word, converter code
    const std::tuple<double, std::uint32_t, std::uint16_t> cases[] = {
        {5000, 0x080000, 2052}, {-5000, 0x080000, 2043}, {-5000, 0x000000, 0}, {5000, 0x0FFFFC, 4095},
        {5000, 0x180000, 0},   // powered down: 0 V whatever the errors
    };
    for (const auto& [offsetUv, word, code] : cases) {
        Options options;
        options.dacErrors.offsetUv = offsetUv;
        BoardModel board(options);
        board.HandleControl({0x40, p::kRequestRamAccess, p::kCpucsAddress, 0, 1}, std::vector<std::uint8_t>{1});
        board.HandleControl({0x40, p::kRequestRamAccess, 0x0100, 0, 1}, std::vector<std::uint8_t>{0x12});
        board.HandleControl({0x40, p::kRequestRamAccess, p::kCpucsAddress, 0, 1}, std::vector<std::uint8_t>{0});
        const p::DacWriteFields fields = p::PackDacWrite(p::kDacRegisterLength, word);
        board.HandleControl({0x40, p::kRequestDacWrite, fields.value, fields.index, 0}, {});
        const ControlReply reply = board.HandleControl({0xC0, p::kRequestConverterRead, 0, 0, 2}, {});
        ASSERT_EQ(reply.data.size(), 2u);
        EXPECT_EQ(p::ConverterReplyValue(reply.data[0], reply.data[1]), code) << offsetUv << " µV, word " << word;
        EXPECT_EQ(board.ConverterCode(), code);
        EXPECT_EQ(board.SampleOutputVolts(), board.OutputVolts()) << "no noise asked for";
    }
}

TEST(DacErrorsFileTest, ReadsEveryNameWithCommentsAndBlankLines) {
    const auto parsed = ParseDacErrors(
        "# a DAC with everything\r\n\n  offset_uv = -12.5   # µV\r\ngain_ppm=+30\nbow_lsb = 1e-1\nnoise_uv = 0.8\n"
        "seed = 4294967295\nbit0_lsb = -2\nbit17_lsb = 1.5\nsettle_tau_us = 250\ndrift_uv_per_min = -0.5\n"
        "drift_ppm_per_min=+2e-1\n   # done");
    const auto* errors = std::get_if<DacErrors>(&parsed);
    ASSERT_NE(errors, nullptr) << std::get<DacErrorsProblem>(parsed).message;
    DacErrors expected;
    expected.offsetUv = -12.5;
    expected.gainPpm = 30;
    expected.bowLsb = 0.1;
    expected.noiseUv = 0.8;
    expected.seed = 4294967295u;
    expected.bitLsb[0] = -2;
    expected.bitLsb[17] = 1.5;
    expected.settleTauUs = 250;
    expected.driftUvPerMin = -0.5;
    expected.driftPpmPerMin = 0.2;
    EXPECT_EQ(*errors, expected);
    EXPECT_EQ(std::get<DacErrors>(ParseDacErrors("")), DacErrors{}) << "absent names are 0, seed 1";
}

TEST(DacErrorsFileTest, RefusesABadLineNamingItsNumber) {
    const std::tuple<const char*, std::size_t, const char*> cases[] = {
        {"offset_uv", 1, "not 'name = value'"},
        {"# fine\noffset = 3", 2, "unknown name 'offset'"},
        {"bit18_lsb = 1", 1, "unknown name"},
        {"bit05_lsb = 1", 1, "unknown name"},
        {"bit_lsb = 1", 1, "unknown name"},
        {"gain_ppm = ", 1, "needs a number"},
        {"gain_ppm = 3 ppm", 1, "needs a number"},
        {"bow_lsb = nan", 1, "needs a number"},
        {"bow_lsb = inf", 1, "needs a number"},
        {"offset_uv = 1e10", 1, "at most 1e9"},
        {"noise_uv = -1", 1, "cannot be negative"},
        {"seed = -1", 1, "seed needs a whole number"},
        {"seed = 4294967296", 1, "seed needs a whole number"},
        {"seed = 1.5", 1, "seed needs a whole number"},
        {"gain_ppm = 1\n\ngain_ppm = 2", 3, "already set on line 1"},
        {"= 4", 1, "unknown name ''"},
        {"settle_tau_us = -0.1", 1, "cannot be negative"},
        {"settle_tau_us = 5 us", 1, "needs a number"},
        {"drift_uv_per_min = 2e9", 1, "at most 1e9"},
        {"drift_ppm_per_min = nan", 1, "needs a number"},
        {"settle_tau = 5", 1, "unknown name 'settle_tau'"},
        {"drift_uv_per_min = 1\n# again\ndrift_uv_per_min = 1", 3, "already set on line 1"},
    };
    for (const auto& [text, line, cause] : cases) {
        const auto parsed = ParseDacErrors(text);
        const auto* problem = std::get_if<DacErrorsProblem>(&parsed);
        ASSERT_NE(problem, nullptr) << text;
        EXPECT_EQ(problem->line, line) << text;
        EXPECT_NE(problem->message.find(cause), std::string::npos) << problem->message;
    }
    for (const char* unreadable : {"/nonexistent/dac-errors.txt", "/"}) {
        const auto parsed = ReadDacErrorsFile(unreadable);
        ASSERT_TRUE(std::holds_alternative<DacErrorsProblem>(parsed)) << unreadable;
        EXPECT_EQ(std::get<DacErrorsProblem>(parsed).line, 0u);
    }
}

}  // namespace
