// The emulated bench meter as a plain state machine: its settings (DC volts
// only: range or autorange, integration time, autozero, trigger source, delay
// and counts) and its measurement (INITiate, triggers, readings that become
// ready as the integration times pass). Time is given by the caller, so the
// model never waits and never reads a clock; a meter time is divided by the
// speed factor. The input is a function that gives the volts at the probes
// integrated over a reading's aperture, asked as its trigger is taken.
//
// A refused request throws MeterRefusal; the model is left as it was.
// Nothing here is safe to share between threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <stdexcept>
#include <vector>

namespace tarnel::emulator {

class MeterRefusal : public std::runtime_error {
public:
    enum class Kind {
        OutOfRange,       // a setting beyond what the meter takes
        InitIgnored,      // INITiate while a measurement runs
        TriggerIgnored,   // a bus trigger while none is awaited
        TriggerDeadlock,  // readings asked for that wait on a bus trigger
        DataStale,        // readings asked for with none taken since the last change
        TooMuchData,      // more readings than the reading memory holds
    };
    MeterRefusal(Kind kind, const std::string& detail) : std::runtime_error(detail), kind_(kind) {}
    Kind Which() const { return kind_; }

private:
    Kind kind_;
};

enum class TriggerSource { Immediate, Bus };
enum class AutoZero { Off, On, Once };

class MeterModel {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    // The interval a reading integrates over: after its trigger delay, NPLC /
    // 50 s (twice that with autozero), divided by the speed.
    struct Aperture {
        TimePoint begin;
        TimePoint end;
    };
    // Volts at the probes averaged over an aperture, asked once per reading
    // as its trigger is taken (the aperture lies ahead then).
    using Input = std::function<double(const Aperture&)>;

    struct Setup {
        Input input;
        double speed = 1;            // every meter time is divided by this
        std::uint32_t noiseSeed = 1; // the meter's own noise repeats run by run
    };

    explicit MeterModel(Setup setup);

    // *RST: autorange, NPLC 10, autozero on, immediate trigger, auto delay,
    // one sample per trigger, one trigger; no measurement, no readings.
    void Reset();
    // CONFigure: range (nothing: autorange) and resolution (nothing: the
    // default integration time), immediate trigger, auto delay, counts 1.
    void Configure(std::optional<double> range, std::optional<double> resolution);

    double Range() const { return range_; }
    bool AutoRange() const { return autoRange_; }
    // The smallest range that holds volts; autorange off.
    void SetRange(double volts);
    void SetAutoRange(bool on);

    double Nplc() const { return nplc_; }
    void SetNplc(double nplc);
    double Resolution() const;
    // The fastest standard integration time whose resolution on the present
    // range is volts or finer.
    void SetResolution(double volts);

    // Once: the next reading takes a zero measurement, then autozero is off.
    AutoZero AutoZeroMode() const { return autoZero_; }
    void SetAutoZero(AutoZero mode);

    TriggerSource Source() const { return source_; }
    void SetSource(TriggerSource source);
    // Seconds, before the speed factor; nothing: automatic.
    std::optional<double> Delay() const { return delay_; }
    double EffectiveDelay() const;
    void SetDelay(std::optional<double> seconds);
    unsigned SampleCount() const { return samples_; }
    void SetSampleCount(unsigned count);
    unsigned TriggerCount() const { return triggers_; }
    void SetTriggerCount(unsigned count);

    // INITiate: readings cleared, the first trigger taken at once with the
    // immediate source, awaited from the bus otherwise.
    void Initiate(TimePoint now);
    // *TRG: a bus trigger; ignored unless INITiate awaits one and the
    // readings of the last one are done.
    void Trigger(TimePoint now);

    // Where the readings of the last INITiate stand at now.
    struct Progress {
        enum class State { Ready, Pending };
        State state = State::Ready;
        TimePoint readyAt{};   // Pending: when to ask again
    };
    // Throws DataStale with no INITiate since the last change and
    // TriggerDeadlock while a bus trigger is still awaited.
    Progress ReadingsAt(TimePoint now);
    // Whether a measurement is still to finish (a bus trigger awaited or readings not ready).
    bool Measuring(TimePoint now);
    // When to look again for the readings under way to be done; nothing when
    // none are under way (none taken, all done, or only a bus trigger awaited).
    std::optional<TimePoint> BusyUntil(TimePoint now);
    // Whether INITiate awaits a bus trigger.
    bool AwaitsBusTrigger() const { return initiated_ && triggersLeft_ > 0 && source_ == TriggerSource::Bus; }
    // Every reading of the last INITiate, in the order taken; over range is
    // +-kOverRangeReading.
    std::vector<double> Readings() const;

private:
    struct Reading {
        double volts;
        TimePoint readyAt;
    };

    // A setting changed: the measurement stops and its readings are stale.
    void Changed();
    void TakeTriggersDue(TimePoint now);
    void TakeTrigger(TimePoint at);
    double OneReading(const Aperture& aperture);
    std::chrono::nanoseconds MeterTime(double seconds) const;

    Setup setup_;
    std::mt19937 noise_;
    double range_ = 10;
    bool autoRange_ = true;
    double nplc_ = 10;
    AutoZero autoZero_ = AutoZero::On;
    bool zeroPending_ = false;   // autozero ONCE not taken yet
    TriggerSource source_ = TriggerSource::Immediate;
    std::optional<double> delay_;
    unsigned samples_ = 1;
    unsigned triggers_ = 1;

    bool initiated_ = false;      // readings belong to the settings in force
    unsigned triggersLeft_ = 0;
    TimePoint nextTriggerAt_{};   // immediate source: when the next trigger comes
    TimePoint busyUntil_{};       // when the readings taken so far are done
    std::vector<Reading> readings_;
};

}  // namespace tarnel::emulator
