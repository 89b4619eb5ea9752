#include "meter_model.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "meter_figures.h"

namespace tarnel::emulator {

namespace {

using Kind = MeterRefusal::Kind;

std::string Volts(double volts) {
    char text[48];
    std::snprintf(text, sizeof text, "%g V", volts);
    return text;
}

// The fastest standard integration time whose resolution on range is volts or finer.
double NplcForResolution(double range, double volts) {
    // A resolution typed as the table gives it must select that entry.
    constexpr double kTolerance = 1e-9;
    if (volts > 0) {
        for (const double nplc : kStandardNplc) {
            if (ResolutionVolts(range, nplc) <= volts * (1 + kTolerance)) return nplc;
        }
    }
    throw MeterRefusal(Kind::OutOfRange, "a resolution of " + Volts(volts) + " is finer than the " +
                                             Volts(ResolutionVolts(range, kMostNplc)) + " the " + Volts(range) +
                                             " range gives");
}

double CheckedRange(double volts) {
    const std::optional<double> range = RangeFor(volts);
    if (!range || std::isnan(volts)) {
        throw MeterRefusal(Kind::OutOfRange, Volts(volts) + " is beyond the " + Volts(kMeterRanges.back()) + " range");
    }
    return *range;
}

unsigned CheckedCount(unsigned count, const char* what) {
    if (count < 1 || count > kMostSamples) {
        throw MeterRefusal(Kind::OutOfRange, std::string(what) + " " + std::to_string(count) + " is outside 1 to " +
                                                 std::to_string(kMostSamples));
    }
    return count;
}

}  // namespace

MeterModel::MeterModel(Setup setup) : setup_(std::move(setup)), noise_(setup_.noiseSeed) {
    if (!(setup_.speed > 0)) setup_.speed = 1;
}

void MeterModel::Reset() {
    range_ = 10;
    autoRange_ = true;
    nplc_ = kDefaultNplc;
    autoZero_ = AutoZero::On;
    zeroPending_ = false;
    source_ = TriggerSource::Immediate;
    delay_.reset();
    samples_ = triggers_ = 1;
    Changed();
}

void MeterModel::Configure(std::optional<double> range, std::optional<double> resolution) {
    const double newRange = range ? CheckedRange(*range) : range_;
    const double newNplc = resolution ? NplcForResolution(newRange, *resolution) : kDefaultNplc;
    range_ = newRange;
    autoRange_ = !range;
    nplc_ = newNplc;
    source_ = TriggerSource::Immediate;
    delay_.reset();
    samples_ = triggers_ = 1;
    Changed();
}

void MeterModel::SetRange(double volts) {
    range_ = CheckedRange(volts);
    autoRange_ = false;
    Changed();
}

void MeterModel::SetAutoRange(bool on) {
    autoRange_ = on;
    Changed();
}

void MeterModel::SetNplc(double nplc) {
    if (!(nplc >= kLeastNplc && nplc <= kMostNplc)) {
        char text[96];
        std::snprintf(text, sizeof text, "NPLC %g is outside %g to %g", nplc, kLeastNplc, kMostNplc);
        throw MeterRefusal(Kind::OutOfRange, text);
    }
    nplc_ = nplc;
    Changed();
}

double MeterModel::Resolution() const { return ResolutionVolts(range_, nplc_); }

void MeterModel::SetResolution(double volts) {
    nplc_ = NplcForResolution(range_, volts);
    Changed();
}

void MeterModel::SetAutoZero(AutoZero mode) {
    zeroPending_ = mode == AutoZero::Once;
    autoZero_ = zeroPending_ ? AutoZero::Off : mode;
    Changed();
}

void MeterModel::SetSource(TriggerSource source) {
    source_ = source;
    Changed();
}

double MeterModel::EffectiveDelay() const { return delay_ ? *delay_ : AutoDelaySeconds(nplc_); }

void MeterModel::SetDelay(std::optional<double> seconds) {
    if (seconds && !(*seconds >= 0 && *seconds <= kLongestDelay)) {
        char text[96];
        std::snprintf(text, sizeof text, "a delay of %g s is outside 0 to %g s", *seconds, kLongestDelay);
        throw MeterRefusal(Kind::OutOfRange, text);
    }
    delay_ = seconds;
    Changed();
}

void MeterModel::SetSampleCount(unsigned count) {
    samples_ = CheckedCount(count, "sample count");
    Changed();
}

void MeterModel::SetTriggerCount(unsigned count) {
    triggers_ = CheckedCount(count, "trigger count");
    Changed();
}

void MeterModel::Initiate(TimePoint now) {
    if (Measuring(now)) throw MeterRefusal(Kind::InitIgnored, "a measurement is still running");
    if (static_cast<unsigned long long>(samples_) * triggers_ > kReadingMemory) {
        throw MeterRefusal(Kind::TooMuchData, std::to_string(samples_) + " samples x " + std::to_string(triggers_) +
                                                  " triggers is more than the " + std::to_string(kReadingMemory) +
                                                  " readings the meter keeps");
    }
    readings_.clear();
    initiated_ = true;
    triggersLeft_ = triggers_;
    nextTriggerAt_ = busyUntil_ = now;
    TakeTriggersDue(now);
}

void MeterModel::Trigger(TimePoint now) {
    TakeTriggersDue(now);
    if (!initiated_ || source_ != TriggerSource::Bus || triggersLeft_ == 0) {
        throw MeterRefusal(Kind::TriggerIgnored, "no measurement awaits a bus trigger");
    }
    if (now < busyUntil_) throw MeterRefusal(Kind::TriggerIgnored, "the readings of the last trigger are not done");
    TakeTrigger(now);
}

MeterModel::Progress MeterModel::ReadingsAt(TimePoint now) {
    TakeTriggersDue(now);
    if (!initiated_) throw MeterRefusal(Kind::DataStale, "no readings: send INIT or READ? first");
    if (triggersLeft_ > 0) {
        if (source_ == TriggerSource::Bus) {
            throw MeterRefusal(Kind::TriggerDeadlock, "the readings wait for a bus trigger: send *TRG first");
        }
        return {Progress::State::Pending, nextTriggerAt_};
    }
    if (busyUntil_ > now) return {Progress::State::Pending, busyUntil_};
    return {Progress::State::Ready, {}};
}

bool MeterModel::Measuring(TimePoint now) {
    TakeTriggersDue(now);
    return initiated_ && (triggersLeft_ > 0 || busyUntil_ > now);
}

std::optional<MeterModel::TimePoint> MeterModel::BusyUntil(TimePoint now) {
    TakeTriggersDue(now);
    if (!initiated_) return std::nullopt;
    if (busyUntil_ > now) return busyUntil_;
    if (triggersLeft_ > 0 && source_ == TriggerSource::Immediate) return nextTriggerAt_;
    return std::nullopt;
}

std::vector<double> MeterModel::Readings() const {
    std::vector<double> values;
    values.reserve(readings_.size());
    for (const Reading& reading : readings_) values.push_back(reading.volts);
    return values;
}

void MeterModel::Changed() {
    initiated_ = false;
    triggersLeft_ = 0;
    readings_.clear();
}

void MeterModel::TakeTriggersDue(TimePoint now) {
    if (source_ != TriggerSource::Immediate) return;
    while (triggersLeft_ > 0 && nextTriggerAt_ <= now) {
        TakeTrigger(nextTriggerAt_);
        nextTriggerAt_ = busyUntil_;
    }
}

void MeterModel::TakeTrigger(TimePoint at) {
    TimePoint readyAt = at;
    for (unsigned sample = 0; sample < samples_; ++sample) {
        const bool zeroing = autoZero_ == AutoZero::On || zeroPending_;
        zeroPending_ = false;
        const TimePoint integrationStart = readyAt + MeterTime(EffectiveDelay());
        readyAt = integrationStart + MeterTime(ReadingSeconds(nplc_, zeroing));
        readings_.push_back({OneReading({integrationStart, readyAt}), readyAt});
    }
    busyUntil_ = readyAt;
    --triggersLeft_;
}

double MeterModel::OneReading(const Aperture& aperture) {
    const double volts = setup_.input ? setup_.input(aperture) : 0.0;
    if (autoRange_) range_ = RangeFor(volts).value_or(kMeterRanges.back());
    std::normal_distribution<double> unit(0.0, 1.0);
    const double reading = volts + unit(noise_) * NoiseVolts(range_, nplc_);
    if (std::isnan(reading)) return kOverRangeReading;
    if (std::fabs(reading) > range_ * kOverRangeShare) return std::copysign(kOverRangeReading, reading);
    return reading;
}

std::chrono::nanoseconds MeterModel::MeterTime(double seconds) const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds / setup_.speed));
}

}  // namespace tarnel::emulator
