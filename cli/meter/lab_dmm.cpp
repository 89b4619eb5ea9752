#include "meter/lab_dmm.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "command_line/command_failure.h"
#include "meter/meter_failure.h"

namespace tarnel::cli {

namespace {

constexpr auto kConnectTimeout = std::chrono::seconds(3);
// *RST on a bench DMM takes up to a second or so.
constexpr auto kSetupTimeout = std::chrono::seconds(5);
// SCPI's over-range reading is 9.9E+37.
constexpr double kOverRange = 9.0e37;
constexpr double kLineFrequencyHz = 50;   // the slower mains: the longer reading

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::chrono::milliseconds ReadingTimeout(const MeterSettings& settings) {
    const double integrationSeconds = 2 * settings.samples * settings.nplc / kLineFrequencyHz;
    return std::chrono::milliseconds(2000 + std::llround(3 * integrationSeconds * 1000));
}

LabDmm::LabDmm(const scpi::client::InstrumentResource& resource,
                       const scpi::client::ConnectionOptions& connection, const MeterSettings& settings)
    : settings_(settings) {
    try {
        instrument_ = std::make_unique<scpi::client::Instrument>(resource, connection, kConnectTimeout);
        Configure();
    } catch (const scpi::client::InstrumentFailure& failure) {
        ThrowMeterFailure(failure);
    }
}

void LabDmm::Configure() {
    instrument_->Write("*RST");
    instrument_->Write("*CLS");
    identity_ = Trimmed(instrument_->Query("*IDN?", kSetupTimeout));
    char nplc[48];
    std::snprintf(nplc, sizeof nplc, "VOLT:DC:NPLC %g", settings_.nplc);
    for (const std::string& line : {std::string("CONF:VOLT:DC ") + std::to_string(static_cast<int>(kMeterRangeVolts)),
                                    std::string(nplc), std::string("VOLT:DC:ZERO:AUTO ONCE"),
                                    std::string("TRIG:SOUR IMM"), std::string("TRIG:COUN 1"),
                                    "SAMP:COUN " + std::to_string(settings_.samples)}) {
        instrument_->Write(line);
    }
    std::string errors;
    for (const std::string& entry : instrument_->ReadErrorQueue(kSetupTimeout)) {
        errors += (errors.empty() ? "" : "; ") + entry;
    }
    if (!errors.empty()) {
        throw CommandFailure(ExitStatus::Unreachable,
                             "the meter at " + instrument_->Describe() + " refused its configuration: " + errors +
                                 " — check --nplc and that it is a DMM taking SCPI (CONF:VOLT:DC, VOLT:DC:NPLC, "
                                 "VOLT:DC:ZERO:AUTO ONCE, TRIG:SOUR IMM, SAMP:COUN)");
    }
}

void LabDmm::Trigger() {
    try {
        instrument_->Write("READ?");
    } catch (const scpi::client::InstrumentFailure& failure) {
        ThrowMeterFailure(failure);
    }
}

MeterReading LabDmm::Fetch() {
    std::string reply;
    try {
        reply = instrument_->Read(ReadingTimeout(settings_), "READ?");
    } catch (const scpi::client::InstrumentFailure& failure) {
        ThrowMeterFailure(failure);
    }
    // Named only when a failure needs it: this runs once per code.
    const auto where = [this] { return "the meter at " + instrument_->Describe(); };
    std::vector<double> values;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = reply.find(',', start);
        const std::string field = Trimmed(reply.substr(start, comma - start));
        char* end = nullptr;
        const double value = std::strtod(field.c_str(), &end);
        if (field.empty() || *end != '\0' || !std::isfinite(value)) {
            throw MeterFailure(where() + " answered READ? with '" + reply.substr(0, 80) +
                               "', not readings — check that it is a DMM set for DC volts");
        }
        if (std::fabs(value) >= kOverRange) {
            throw MeterFailure(where() + " reads over range on its 10 V range — check that the DAC output, and nothing "
                                       "else, is on its input");
        }
        values.push_back(value);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (values.size() != settings_.samples) {
        throw MeterFailure(where() + " answered READ? with " + std::to_string(values.size()) + " reading(s), not " +
                           std::to_string(settings_.samples) + " — check that it takes SAMP:COUN");
    }
    MeterReading reading;
    reading.count = static_cast<unsigned>(values.size());
    double sum = 0;
    for (const double value : values) sum += value;
    reading.meanVolts = sum / reading.count;
    if (reading.count >= 2) {
        double squares = 0;
        for (const double value : values) squares += (value - reading.meanVolts) * (value - reading.meanVolts);
        reading.stdVolts = std::sqrt(squares / (reading.count - 1));
    }
    reading.values = std::move(values);
    return reading;
}

}  // namespace tarnel::cli
