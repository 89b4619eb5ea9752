// The emulated bench in time: the DAC settling after a write as the meter and
// the read-back see it, the drifts, and bench time under --meter-speed, on a
// clock the test moves itself.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

#include <tarnel/bench_clock.h>
#include <tarnel/dac_settling.h>

#include "board_model.h"
#include "meter_model.h"

namespace {

namespace p = tarnel::protocol;
using namespace tarnel::emulator;
using TimePoint = BenchClock::TimePoint;

constexpr std::uint32_t kFullScaleWord = 0x0FFFFC;   // data 0x3FFFF
constexpr std::uint32_t kMidWord = 0x080000;         // data 0x20000

// Real time as the test sets it.
struct FakeTime {
    TimePoint now{std::chrono::seconds(1000)};
    std::shared_ptr<const BenchClock> Clock(double speed) {
        return std::make_shared<const BenchClock>(speed, [this] { return now; });
    }
    void Advance(double realSeconds) {
        now += std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(realSeconds));
    }
};

// A board whose firmware runs, on the fake clock.
std::unique_ptr<BoardModel> Board(const DacErrors& errors, std::shared_ptr<const BenchClock> clock) {
    Options options;
    options.dacErrors = errors;
    options.benchClock = std::move(clock);
    auto board = std::make_unique<BoardModel>(options);
    for (const auto& [address, value] : {std::pair<std::uint16_t, std::uint8_t>{p::kCpucsAddress, p::kCpucsReset},
                                         {0x0100, 0x12}, {p::kCpucsAddress, p::kCpucsRun}}) {
        board->HandleControl({0x40, p::kRequestRamAccess, address, 0, 1}, std::vector<std::uint8_t>{value});
    }
    return board;
}
// A profile with only the bench names.
DacErrors Bench(double settleTauUs, double driftUvPerMin = 0, double driftPpmPerMin = 0) {
    DacErrors errors;
    errors.settleTauUs = settleTauUs;
    errors.driftUvPerMin = driftUvPerMin;
    errors.driftPpmPerMin = driftPpmPerMin;
    return errors;
}
void WriteDac(BoardModel& board, std::uint32_t word) {
    const p::DacWriteFields fields = p::PackDacWrite(p::kDacRegisterLength, word);
    board.HandleControl({0x40, p::kRequestDacWrite, fields.value, fields.index, 0}, {});
}
std::uint16_t ReadBack(BoardModel& board) {
    const ControlReply reply = board.HandleControl({0xC0, p::kRequestConverterRead, 0, 0, 2}, {});
    return p::ConverterReplyValue(reply.data.at(0), reply.data.at(1));
}

// ∫ s(t)·(1 + g·t) dt by Simpson's rule in long double, on each side of the write apart.
long double NumericIntegral(const DacStep& step, double tau, double g, double begin, double end) {
    auto u = [&](long double t) {
        const long double s = t < step.at ? step.from : step.to + (step.from - step.to) * std::exp(-(t - step.at) / tau);
        return s * (1 + g * t);
    };
    auto simpson = [&](long double a, long double b) {
        if (!(b > a)) return 0.0L;
        constexpr int kIntervals = 200000;
        const long double h = (b - a) / kIntervals;
        long double sum = u(a) + u(b);
        for (int i = 1; i < kIntervals; ++i) sum += u(a + i * h) * (i % 2 ? 4 : 2);
        return sum * h / 3;
    };
    return simpson(begin, std::min<double>(end, step.at)) + simpson(std::max<double>(begin, step.at), end);
}

TEST(DacSettlingTest, TheMeanOverAnApertureIsTheIntegralOfTheOutput) {
    const struct {
        DacStep step;
        double tau, gainDrift, begin, end;
    } cases[] = {
        {{0, 0, 4.9}, 1e-4, 0, 1e-4, 2e-4},            // one tau after the write, one tau long
        {{0, 0, 4.9}, 1e-4, 1e-3, 1e-4, 2e-4},         // with a (large) reference drift
        {{5, 4.9, -0.1}, 0.1, 1e-3, 4.9, 5.3},         // the write inside the aperture
        {{5, 1, 3}, 0.1, 1e-3, 4, 4.5},                // the aperture before the write
        {{10, 0, 2}, 10, 2e-4, 10, 10 + 1e-6},         // an aperture far shorter than tau
        {{0, 4.9, 0}, 1e-3, 1e-6, 0, 0.1},             // a hundred tau long
        {{2, 1.5, 1.5}, 0.5, 1e-4, 2, 3},              // no step: the drifted value at mid-aperture
    };
    for (const auto& c : cases) {
        const double expected = static_cast<double>(NumericIntegral(c.step, c.tau, c.gainDrift, c.begin, c.end) /
                                                    (c.end - c.begin));
        EXPECT_NEAR(MeanSettlingVolts(c.step, c.tau, c.gainDrift, c.begin, c.end), expected, 1e-11)
            << c.step.from << " -> " << c.step.to << " over [" << c.begin << ", " << c.end << "]";
    }
    // A zero-length aperture is the output at that instant; tau 0 settles at once.
    const DacStep step{1, 0, 2};
    EXPECT_DOUBLE_EQ(MeanSettlingVolts(step, 0.5, 0, 1.5, 1.5), 2 - 2 * std::exp(-1.0));
    EXPECT_EQ(MeanSettlingVolts(step, 0, 0, 1, 1.001), 2.0);
}

TEST(DacSettlingTest, AReadingTooSoonAfterAStepIsOffByTheApertureMeanAndALateOneIsNot) {
    // A meter at --meter-speed X on the board's bench clock; the trigger delay
    // puts the aperture (NPLC 1 without autozero: 20 ms) d after the write.
    const double tau = 0.1;
    const struct {
        double speed, delay, expectedShare;   // of the step still missing
    } cases[] = {
        {1, 0.1, std::exp(-1.0) * tau * (1 - std::exp(-0.2)) / 0.02},
        {1000, 0.1, std::exp(-1.0) * tau * (1 - std::exp(-0.2)) / 0.02},
        {1, 0.0, tau * (1 - std::exp(-0.2)) / 0.02},
        {1000, 5.0, 0},   // 50 tau on
    };
    for (const auto& c : cases) {
        FakeTime time;
        const auto board = Board(Bench(tau * 1e6), time.Clock(c.speed));
        MeterModel meter({[&](const MeterModel::Aperture& a) { return board->MeasureOutputVolts(a.begin, a.end); },
                          c.speed, 1});
        meter.Configure(10.0, std::nullopt);
        meter.SetNplc(1);
        meter.SetAutoZero(AutoZero::Off);
        meter.SetDelay(c.delay);
        time.Advance(1.0 / c.speed);
        WriteDac(*board, kFullScaleWord);
        meter.Initiate(time.now);
        time.Advance(10);
        ASSERT_EQ(meter.ReadingsAt(time.now).state, MeterModel::Progress::State::Ready);
        const double final = board->OutputVolts();
        const double missing = (final - meter.Readings().at(0)) / final;
        // The meter's own noise is 4 µV at NPLC 1; nanosecond rounding of the times adds 1e-5 of the share.
        EXPECT_NEAR(missing, c.expectedShare, 2e-6 + c.expectedShare * 1e-5) << c.speed << "x, delay " << c.delay;
    }
}

TEST(DacSettlingTest, TheReadBackSeesTheOutputAtItsSampleAndAWriteLeavesFromWhereItIs) {
    FakeTime time;
    const auto board = Board(Bench(200), time.Clock(1));
    WriteDac(*board, kFullScaleWord);
    const double high = 0x3FFFF * p::kFullScaleVolts / p::kDacCodes;
    EXPECT_EQ(ReadBack(*board), 0) << "at the instant of the write the output is still 0 V";
    time.Advance(200e-6);
    const double afterOneTau = high * (1 - std::exp(-1.0));
    EXPECT_NEAR(board->OutputVolts(), afterOneTau, 1e-9);
    EXPECT_EQ(ReadBack(*board), ConverterCodeFor(afterOneTau));
    WriteDac(*board, 0);   // back down, from mid-way
    EXPECT_NEAR(board->OutputVolts(), afterOneTau, 1e-9);
    time.Advance(200e-6);
    EXPECT_NEAR(board->OutputVolts(), afterOneTau * std::exp(-1.0), 1e-9);
    time.Advance(0.1);   // 500 tau
    EXPECT_NEAR(board->OutputVolts(), 0.0, 1e-15);
    EXPECT_EQ(ReadBack(*board), 0);
}

TEST(BenchDriftTest, DriftsAreLinearInBenchTimeWhichTheMeterSpeedRunsFaster) {
    const struct {
        double speed, realSeconds, benchSeconds;
    } cases[] = {{1, 60, 60}, {1000, 0.06, 60}, {1000, 6, 6000}, {-3, 30, 30}, {0.5, 120, 60}};
    for (const auto& c : cases) {
        FakeTime time;
        const auto clock = time.Clock(c.speed);
        const auto board = Board(Bench(0, 3, 2), clock);
        WriteDac(*board, kMidWord);
        time.Advance(c.realSeconds);
        EXPECT_NEAR(clock->Now(), c.benchSeconds, 1e-9) << c.speed;
        const double minutes = c.benchSeconds / 60;
        const double converted = 2.465 * (1 + 2e-6 * minutes);
        EXPECT_NEAR(board->OutputVolts(), converted, 1e-12) << "the read-back sees only the reference drift";
        EXPECT_NEAR(board->SampleOutputVolts(), converted + 3e-6 * minutes, 1e-12) << "the meter sees both";
    }
    // A zero drift the size of the whole range moves the meter's reading, never the read-back's code.
    FakeTime time;
    const auto board = Board(Bench(0, 1e6), time.Clock(1));
    WriteDac(*board, kMidWord);
    time.Advance(60);
    EXPECT_EQ(ReadBack(*board), 2048);
    EXPECT_NEAR(board->SampleOutputVolts(), 3.465, 1e-12);
}

TEST(BenchDriftTest, WithoutTheNewNamesEveryReadingIsTheSeededOneOfTheSettledModel) {
    DacErrors errors = Bench(0);
    errors.offsetUv = 40;
    errors.gainPpm = 25;
    errors.noiseUv = 0.8;
    errors.seed = 7;
    const std::uint32_t words[] = {kMidWord, kFullScaleWord, 0x180000, 0x000004, kMidWord};
    for (const double speed : {1.0, 1000.0}) {
        FakeTime time;
        const auto board = Board(errors, time.Clock(speed));
        DacOutputModel reference(errors);
        for (const std::uint32_t word : words) {
            WriteDac(*board, word);
            const p::DacInput input = p::DecodeInputWord(word);
            for (const double aperture : {0.0, 0.02, 4.0}) {
                const TimePoint begin = time.now;
                time.Advance(aperture / speed);
                ASSERT_EQ(board->MeasureOutputVolts(begin, time.now), reference.Sample(input, Observer::Meter)) << word;
                ASSERT_EQ(ReadBack(*board), ConverterCodeFor(reference.Sample(input, Observer::Converter))) << word;
            }
        }
    }
}

}  // namespace
