#include "meter_model.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <optional>

#include "meter_figures.h"

namespace {

using namespace tarnel::emulator;
using namespace std::chrono_literals;
using Kind = MeterRefusal::Kind;
using State = MeterModel::Progress::State;

const MeterModel::TimePoint kStart{10s};

MeterModel::TimePoint At(double seconds) {
    return kStart + std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds));
}

double Seconds(MeterModel::TimePoint at) { return std::chrono::duration<double>(at - kStart).count(); }

MeterModel Meter(double volts, double speed = 1) { return MeterModel({[volts](const MeterModel::Aperture&) { return volts; }, speed, 1}); }

// What a request throws, or nothing.
std::optional<Kind> Refusal(const std::function<void()>& request) {
    try {
        request();
    } catch (const MeterRefusal& refusal) {
        return refusal.Which();
    }
    return std::nullopt;
}

TEST(MeterFiguresTest, RangesHoldTheirValueUpToTheTopRangesOverRangeShare) {
    const struct {
        double volts;
        std::optional<double> range;
    } cases[] = {{0, 0.1},    {0.05, 0.1},  {0.1, 0.1},       {0.1001, 1},     {-2.465, 10},
                 {10, 10},    {99, 100},    {1000, 1000},     {1200, 1000},    {1200.5, std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(RangeFor(c.volts), c.range) << c.volts;
}

TEST(MeterFiguresTest, NoiseAndResolutionFallWithIntegrationTimeOnLogLogLines) {
    const struct {
        double range, nplc, noise, resolution;
    } cases[] = {
        {10, 0.02, 60e-6, 1e-3},  {10, 0.2, 15e-6, 1e-4}, {10, 1, 4e-6, 3e-5}, {10, 10, 1.5e-6, 1e-5},
        {10, 100, 0.6e-6, 3e-6},  {1, 10, 0.15e-6, 1e-6}, {100, 1, 40e-6, 3e-4},
        // Half-way on log axes between 0.02 and 0.2 NPLC: the geometric means.
        {10, std::sqrt(0.02 * 0.2), std::sqrt(60e-6 * 15e-6), std::sqrt(1e-3 * 1e-4)},
        {10, std::sqrt(10.0 * 100), std::sqrt(1.5e-6 * 0.6e-6), std::sqrt(1e-5 * 3e-6)},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(NoiseVolts(c.range, c.nplc), c.noise, c.noise * 1e-9) << c.range << " V, " << c.nplc << " NPLC";
        EXPECT_NEAR(ResolutionVolts(c.range, c.nplc), c.resolution, c.resolution * 1e-9) << c.nplc;
    }
}

TEST(MeterFiguresTest, ReadingsAreSentWithNineSignificantDigits) {
    const struct {
        double volts;
        const char* text;
    } cases[] = {{2.46500123, "+2.46500123E+00"}, {-0.001, "-1.00000000E-03"}, {0, "+0.00000000E+00"},
                 {kOverRangeReading, "+9.90000000E+37"}, {-kOverRangeReading, "-9.90000000E+37"},
                 {4.93 * 262143 / 262144, "+4.92998119E+00"}};
    for (const auto& c : cases) EXPECT_EQ(ReadingText(c.volts), c.text);
    EXPECT_DOUBLE_EQ(ReadingSeconds(10, false), 0.2);
    EXPECT_DOUBLE_EQ(ReadingSeconds(10, true), 0.4);
}

TEST(MeterModelTest, AReadingIsReadyAfterTheDelayAndTheIntegrationTimeDividedByTheSpeed) {
    const struct {
        double nplc;
        AutoZero autoZero;
        double speed;
        double seconds;   // from INIT to the reading
    } cases[] = {
        {10, AutoZero::On, 1, 1.5e-3 + 0.4},   {10, AutoZero::Off, 1, 1.5e-3 + 0.2},
        {0.02, AutoZero::Off, 1, 1e-3 + 4e-4}, {100, AutoZero::On, 1000, (1.5e-3 + 4) / 1000},
    };
    for (const auto& c : cases) {
        MeterModel meter = Meter(2.465, c.speed);
        meter.SetNplc(c.nplc);
        meter.SetAutoZero(c.autoZero);
        meter.Initiate(At(0));
        const MeterModel::Progress pending = meter.ReadingsAt(At(0));
        EXPECT_EQ(pending.state, State::Pending);
        EXPECT_NEAR(Seconds(pending.readyAt), c.seconds, 1e-8) << c.nplc;
        EXPECT_TRUE(meter.Measuring(pending.readyAt - 1us));
        EXPECT_EQ(meter.BusyUntil(At(0)), pending.readyAt);
        EXPECT_EQ(meter.ReadingsAt(pending.readyAt).state, State::Ready);
        EXPECT_FALSE(meter.Measuring(pending.readyAt));
        EXPECT_FALSE(meter.BusyUntil(pending.readyAt));
        ASSERT_EQ(meter.Readings().size(), 1u);
        EXPECT_NEAR(meter.Readings()[0], 2.465, 6 * NoiseVolts(10, c.nplc));
    }
}

TEST(MeterModelTest, AutozeroOnceDoublesOnlyTheFirstReadingThenIsOff) {
    MeterModel meter = Meter(1);
    meter.SetAutoZero(AutoZero::Once);
    meter.SetSampleCount(2);
    meter.SetDelay(0.0);
    EXPECT_EQ(meter.AutoZeroMode(), AutoZero::Off);
    meter.Initiate(At(0));
    EXPECT_NEAR(Seconds(meter.ReadingsAt(At(0)).readyAt), 0.4 + 0.2, 1e-8);
}

TEST(MeterModelTest, EachRequestThatCannotBeMetIsRefusedWithItsKind) {
    const struct {
        const char* what;
        std::function<void(MeterModel&)> request;
        std::optional<Kind> refusal;
    } cases[] = {
        {"readings never taken", [](MeterModel& m) { m.ReadingsAt(At(0)); }, Kind::DataStale},
        {"readings of older settings",
         [](MeterModel& m) {
             m.Initiate(At(0));
             m.SetNplc(1);
             m.ReadingsAt(At(9));
         },
         Kind::DataStale},
        {"bus trigger awaited",
         [](MeterModel& m) {
             m.SetSource(TriggerSource::Bus);
             m.Initiate(At(0));
             m.ReadingsAt(At(9));
         },
         Kind::TriggerDeadlock},
        {"trigger with no INIT", [](MeterModel& m) { m.Trigger(At(0)); }, Kind::TriggerIgnored},
        {"trigger with the immediate source",
         [](MeterModel& m) {
             m.Initiate(At(0));
             m.Trigger(At(0));
         },
         Kind::TriggerIgnored},
        {"trigger while measuring",
         [](MeterModel& m) {
             m.SetSource(TriggerSource::Bus);
             m.SetTriggerCount(2);
             m.Initiate(At(0));
             m.Trigger(At(0));
             m.Trigger(At(0.1));
         },
         Kind::TriggerIgnored},
        {"INIT while measuring",
         [](MeterModel& m) {
             m.Initiate(At(0));
             m.Initiate(At(0.1));
         },
         Kind::InitIgnored},
        {"INIT once done",
         [](MeterModel& m) {
             m.Initiate(At(0));
             m.Initiate(At(1));
         },
         std::nullopt},
        {"range above 1200 V", [](MeterModel& m) { m.SetRange(1201); }, Kind::OutOfRange},
        {"range of NaN", [](MeterModel& m) { m.SetRange(NAN); }, Kind::OutOfRange},
        {"NPLC below 0.02", [](MeterModel& m) { m.SetNplc(0.01); }, Kind::OutOfRange},
        {"NPLC above 100", [](MeterModel& m) { m.SetNplc(101); }, Kind::OutOfRange},
        {"resolution finer than 100 NPLC", [](MeterModel& m) { m.SetResolution(2.9e-6); }, Kind::OutOfRange},
        {"resolution 0", [](MeterModel& m) { m.SetResolution(0); }, Kind::OutOfRange},
        {"CONF resolution finer than its range gives", [](MeterModel& m) { m.Configure(100.0, 3e-6); },
         Kind::OutOfRange},
        {"no samples", [](MeterModel& m) { m.SetSampleCount(0); }, Kind::OutOfRange},
        {"too many triggers", [](MeterModel& m) { m.SetTriggerCount(kMostSamples + 1); }, Kind::OutOfRange},
        {"more readings than the memory",
         [](MeterModel& m) {
             m.SetSampleCount(1000);
             m.SetTriggerCount(51);
             m.Initiate(At(0));
         },
         Kind::TooMuchData},
        {"negative delay", [](MeterModel& m) { m.SetDelay(-1.0); }, Kind::OutOfRange},
        {"delay above an hour", [](MeterModel& m) { m.SetDelay(3601.0); }, Kind::OutOfRange},
    };
    for (const auto& c : cases) {
        MeterModel meter = Meter(1);
        EXPECT_EQ(Refusal([&] { c.request(meter); }), c.refusal) << c.what;
    }
}

TEST(MeterModelTest, AResolutionSelectsTheFastestIntegrationTimeThatGivesIt) {
    const struct {
        double range, resolution, nplc;
    } cases[] = {{10, 1e-3, 0.02}, {10, 5e-4, 0.2}, {10, 1e-4, 0.2}, {10, 3e-5, 1},
                 {10, 1e-5, 10},   {10, 5e-6, 100}, {10, 3e-6, 100}, {1, 1e-5, 0.2}, {1000, 1e-3, 10}};
    for (const auto& c : cases) {
        MeterModel meter = Meter(1);
        meter.Configure(c.range, c.resolution);
        EXPECT_EQ(meter.Nplc(), c.nplc) << c.range << " V, " << c.resolution;
        EXPECT_FALSE(meter.AutoRange());
    }
}

TEST(MeterModelTest, AutorangeFollowsTheInputAndAFixedRangeReadsOverRange) {
    const struct {
        double volts;
        std::optional<double> fixedRange;
        double range;
        double reading;
    } cases[] = {
        {0.05, std::nullopt, 0.1, 0.05},    {2.465, std::nullopt, 10, 2.465},
        {-500, std::nullopt, 1000, -500},   {2.465, 1.0, 1, kOverRangeReading},
        {-2.465, 1.0, 1, -kOverRangeReading}, {1.19, 1.0, 1, 1.19},
        {2.465, 100.0, 100, 2.465},
    };
    for (const auto& c : cases) {
        MeterModel meter = Meter(c.volts);
        if (c.fixedRange) meter.SetRange(*c.fixedRange);
        meter.Initiate(At(0));
        ASSERT_EQ(meter.ReadingsAt(At(1)).state, State::Ready);
        EXPECT_EQ(meter.Range(), c.range) << c.volts;
        EXPECT_NEAR(meter.Readings().at(0), c.reading, 6 * NoiseVolts(c.range, meter.Nplc())) << c.volts;
    }
}

TEST(MeterModelTest, TriggersTakeTheInputAtTheirInstantAndTheirSamplesInOrder) {
    for (const TriggerSource source : {TriggerSource::Immediate, TriggerSource::Bus}) {
        double volts = 0;
        MeterModel meter({[&volts](const MeterModel::Aperture&) { return volts; }, 1, 1});
        meter.SetSource(source);
        meter.SetRange(10);
        meter.SetNplc(1);
        meter.SetAutoZero(AutoZero::Off);
        meter.SetDelay(0.0);
        meter.SetTriggerCount(3);
        meter.SetSampleCount(2);
        meter.Initiate(At(0));
        // The input changes between triggers; each trigger's two samples see one value.
        for (int trigger = 0; trigger < 3; ++trigger) {
            const MeterModel::TimePoint due = At(trigger * 0.05);
            if (source == TriggerSource::Bus) {
                EXPECT_EQ(Refusal([&] { meter.ReadingsAt(due); }), Kind::TriggerDeadlock);
                EXPECT_FALSE(meter.BusyUntil(due)) << "nothing to wait for but a bus trigger";
                meter.Trigger(due);
                EXPECT_TRUE(meter.AwaitsBusTrigger() == (trigger < 2));
                EXPECT_EQ(meter.BusyUntil(due), At(trigger * 0.05) + 40ms);
            } else {
                EXPECT_EQ(meter.ReadingsAt(due).state, State::Pending);
            }
            volts = trigger + 1;
        }
        // The immediate source took its triggers at 0, 0.04 and 0.08 s, when
        // the input was 0, 1 and 2; the bus ones at 0, 0.05 and 0.1 s.
        ASSERT_EQ(meter.ReadingsAt(At(1)).state, State::Ready);
        const std::vector<double> readings = meter.Readings();
        ASSERT_EQ(readings.size(), 6u);
        for (std::size_t i = 0; i < readings.size(); ++i) EXPECT_NEAR(readings[i], static_cast<double>(i / 2), 1e-4);
    }
}

TEST(MeterModelTest, TheMetersNoiseHasTheRmsOfItsIntegrationTime) {
    for (const double nplc : {0.02, 0.5, 1.0, 100.0}) {
        MeterModel meter = Meter(2.465, 1e9);
        meter.SetRange(10);
        meter.SetNplc(nplc);
        meter.SetSampleCount(4000);
        meter.Initiate(At(0));
        ASSERT_EQ(meter.ReadingsAt(At(1)).state, State::Ready);
        double sum = 0;
        double squares = 0;
        for (const double reading : meter.Readings()) {
            sum += reading - 2.465;
            squares += (reading - 2.465) * (reading - 2.465);
        }
        const double n = 4000;
        const double rms = std::sqrt(squares / n - (sum / n) * (sum / n));
        EXPECT_NEAR(rms, NoiseVolts(10, nplc), 0.06 * NoiseVolts(10, nplc)) << nplc;
        EXPECT_NEAR(sum / n, 0, 4 * NoiseVolts(10, nplc) / std::sqrt(n)) << nplc;
    }
}

TEST(MeterModelTest, ResetAndConfigureBringTheirDefaults) {
    MeterModel meter = Meter(1);
    meter.SetRange(1);
    meter.SetNplc(0.2);
    meter.SetAutoZero(AutoZero::Off);
    meter.SetSource(TriggerSource::Bus);
    meter.SetDelay(2.0);
    meter.SetSampleCount(5);
    meter.SetTriggerCount(7);
    meter.Configure(std::nullopt, std::nullopt);
    EXPECT_TRUE(meter.AutoRange());
    EXPECT_EQ(meter.Nplc(), kDefaultNplc);
    EXPECT_EQ(meter.AutoZeroMode(), AutoZero::Off);   // CONFigure leaves autozero
    EXPECT_EQ(meter.Source(), TriggerSource::Immediate);
    EXPECT_FALSE(meter.Delay());
    EXPECT_EQ(meter.SampleCount() * meter.TriggerCount(), 1u);
    meter.Reset();
    EXPECT_EQ(meter.AutoZeroMode(), AutoZero::On);
    EXPECT_EQ(meter.Range(), 10);
}

}  // namespace
