#include "characterize/characterize_report.h"

#include <cctype>
#include <cstdio>

#include "output/number_format.h"

namespace tarnel::cli {

namespace {

constexpr double kIdealLsbUv = protocol::kFullScaleVolts / protocol::kDacCodes * 1e6;

std::string Signed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%+.*f", decimals, value);
    return text;
}

std::string Line(const std::string& name, const std::string& value) {
    std::string padded = name;
    padded.resize(std::max<std::size_t>(16, name.size() + 2), ' ');
    return padded + value + "\n";
}

std::string WorstText(const WorstAtCode& worst) {
    return Signed(worst.value, 3) + " LSB at code " + WordText(worst.code);
}

const char* EndName(CharacterizeEnd end) {
    switch (end) {
    case CharacterizeEnd::Completed: return "completed";
    case CharacterizeEnd::Stopped: return "interrupted";
    case CharacterizeEnd::BoardFailed: return "transfer failed";
    case CharacterizeEnd::MeterFailed: return "meter failed";
    }
    return "completed";
}

QJsonValue Optional(const std::optional<double>& value) { return value ? QJsonValue(*value) : QJsonValue(); }
QJsonValue Optional(const std::optional<std::string>& value) {
    return value ? QJsonValue(QString::fromStdString(*value)) : QJsonValue();
}
QJsonValue Worst(const WorstAtCode& worst) {
    return QJsonObject{{"worst", worst.value}, {"code", static_cast<int>(worst.code)}};
}
QJsonValue Worst(const std::optional<WorstAtCode>& worst) { return worst ? Worst(*worst) : QJsonValue(); }

QJsonValue LimitsJson(const LinearityLimits& limits, const std::vector<std::string>& failed) {
    if (!limits.Any()) return QJsonValue();
    QJsonArray names;
    for (const std::string& one : failed) names.append(QString::fromStdString(one));
    return QJsonObject{{"inl", Optional(limits.inlLsb)},
                       {"dnl", Optional(limits.dnlLsb)},
                       {"offset_mv", Optional(limits.offsetMv)},
                       {"gain_pct", Optional(limits.gainPercent)},
                       {"passed", failed.empty()},
                       {"failed", names}};
}

// "GPIB adapter" -> "gpib_adapter", as the JSON keys are written.
std::string KeyName(const std::string& name) {
    std::string key;
    for (const char c : name) {
        key += c == ' ' || c == '-' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return key;
}

}  // namespace

std::string CharacterizeText(const CharacterizeRunFacts& facts, const CharacterizeFigures& figures) {
    const CharacterizeCommand& command = *facts.command;
    std::string text = Line("meter", facts.meterIdentity + " at " + facts.meterResource);
    for (const auto& [name, value] : facts.meterConnection) text += Line(name, value);
    text += Line("settings", "NPLC " + FixedText(command.nplc, 2) + ", " + std::to_string(command.averaged) +
                                 " reading(s) a code, settle " + FixedText(command.settleMs, 1) + " ms");
    text += Line("codes", command.codes.text + ": " + std::to_string(figures.points) + " of " +
                              std::to_string(facts.planned) + " measured (" + EndName(facts.end) + ")");
    if (figures.offsetUv) {
        text += Line("offset", FixedText(*figures.offsetUv, 2) + " uV (" + Signed(*figures.offsetLsb, 3) + " LSB)");
    }
    if (figures.gainPpm) {
        text += Line("end points", "codes " + WordText(figures.endPointCodes.first) + " and " +
                                       WordText(figures.endPointCodes.second));
        text += Line("gain error", Signed(*figures.gainPpm, 2) + " ppm (" + Signed(*figures.gainPercentFsr, 5) +
                                       " % FSR)");
        text += Line("measured LSB", FixedText(*figures.measuredLsbUv, 5) + " uV (ideal " + FixedText(kIdealLsbUv, 5) +
                                         " uV)");
    }
    if (figures.inlEndPointLsb) text += Line("INL end-point", WorstText(*figures.inlEndPointLsb));
    if (figures.inlBestFitLsb) text += Line("INL best-fit", WorstText(*figures.inlBestFitLsb));
    if (figures.dnlLsb) text += Line("DNL", WorstText(*figures.dnlLsb));
    if (figures.monotonic) text += Line("monotonic", *figures.monotonic ? "yes" : "no");
    if (figures.noiseUv) text += Line("noise", FixedText(*figures.noiseUv, 3) + " uV rms");
    if (figures.bits) {
        const BitsPrediction& bits = *figures.bits;
        for (std::size_t i = 0; i < bits.weightLsb.size(); ++i) {
            const double ideal = static_cast<double>(1u << i);
            text += Line("bit " + std::to_string(i) + " weight",
                         FixedText(bits.weightLsb[i], 4) + " LSB (" + Signed(bits.weightLsb[i] - ideal, 4) + ")");
        }
        text += Line("predicted INL", WorstText(bits.inlLsb) + " (end-point, all codes)");
        for (const WorstAtCode& carry : bits.carryDnlLsb) {
            text += Line("carry DNL " + WordText(carry.code), Signed(carry.value, 3) + " LSB (predicted)");
        }
        if (bits.superpositionLsb) {
            text += Line("superposition", WorstText(*bits.superpositionLsb) + " (measured - predicted, check codes)");
        }
    }
    if (command.limits.Any()) {
        std::string failed;
        for (const std::string& one : facts.failedLimits) failed += (failed.empty() ? "" : "; ") + one;
        text += Line("limits", facts.failedLimits.empty() ? "passed" : "FAILED: " + failed);
    }
    text += Line("parked", facts.parkedAt ? "DAC at " + WordText(*facts.parkedAt) : std::string("no"));
    return text;
}

QJsonObject CharacterizeJson(const CharacterizeRunFacts& facts, const CharacterizeFigures& figures) {
    const CharacterizeCommand& command = *facts.command;
    QJsonObject meter{{"resource", QString::fromStdString(facts.meterResource)},
                      {"identity", QString::fromStdString(facts.meterIdentity)},
                      {"nplc", command.nplc},
                      {"readings_per_code", static_cast<int>(command.averaged)}};
    for (const auto& [name, value] : facts.meterConnection) meter[QString::fromStdString(KeyName(name))] = QString::fromStdString(value);
    QJsonObject object{
        {"meter", meter},
        {"codes", QString::fromStdString(command.codes.text)},
        {"planned", static_cast<int>(facts.planned)},
        {"points", static_cast<int>(figures.points)},
        {"completed", facts.end == CharacterizeEnd::Completed},
        {"stopped", facts.end == CharacterizeEnd::Completed ? QJsonValue() : QJsonValue(EndName(facts.end))},
        {"settle_ms", command.settleMs},
        {"csv", command.output.rows == OutputChoice::Rows::CsvFile ? QJsonValue(QString::fromStdString(command.output.csvFile))
                                                                   : QJsonValue()},
        {"plot", Optional(command.output.plotFile)},
        {"report", Optional(command.reportFile)},
        {"firmware_loaded", facts.firmwareLoaded},
        {"parked", facts.parkedAt ? QJsonValue(QString::fromStdString(WordText(*facts.parkedAt))) : QJsonValue()},
        {"ideal_lsb_uv", kIdealLsbUv},
        {"offset_uv", Optional(figures.offsetUv)},
        {"offset_lsb", Optional(figures.offsetLsb)},
        {"gain_error_ppm", Optional(figures.gainPpm)},
        {"gain_error_pct_fsr", Optional(figures.gainPercentFsr)},
        {"measured_lsb_uv", Optional(figures.measuredLsbUv)},
        {"end_point_codes", figures.measuredLsbUv ? QJsonValue(QJsonArray{static_cast<int>(figures.endPointCodes.first),
                                                                         static_cast<int>(figures.endPointCodes.second)})
                                                  : QJsonValue()},
        {"inl_ep_lsb", Worst(figures.inlEndPointLsb)},
        {"inl_bf_lsb", Worst(figures.inlBestFitLsb)},
        {"dnl_lsb", Worst(figures.dnlLsb)},
        {"monotonic", figures.monotonic ? QJsonValue(*figures.monotonic) : QJsonValue()},
        {"noise_uv", Optional(figures.noiseUv)},
        {"limits", LimitsJson(command.limits, facts.failedLimits)},
    };
    if (figures.bits) {
        const BitsPrediction& bits = *figures.bits;
        QJsonArray weights;
        for (const double weight : bits.weightLsb) weights.append(weight);
        QJsonArray carries;
        for (const WorstAtCode& carry : bits.carryDnlLsb) {
            carries.append(QJsonObject{{"code", static_cast<int>(carry.code)}, {"dnl", carry.value}});
        }
        object["bits"] = QJsonObject{{"weights_lsb", weights},
                                     {"predicted_inl_lsb", Worst(bits.inlLsb)},
                                     {"carry_dnl_lsb", carries},
                                     {"superposition_lsb", Worst(bits.superpositionLsb)}};
    } else {
        object["bits"] = QJsonValue();
    }
    return object;
}

QJsonObject CharacterizeRowJson(const CharacterizePoint& point, const PointFigures& figures) {
    return QJsonObject{{"code", static_cast<int>(point.code)},
                       {"input_word", QString::fromStdString(InputWordText(point.inputWord))},
                       {"ideal_volts", point.idealVolts},
                       {"meter_volts", point.meterVolts},
                       {"meter_std_uv", Optional(point.meterStdUv)},
                       {"readings", static_cast<int>(point.readings)},
                       {"inl_ep_lsb", Optional(figures.inlEndPointLsb)},
                       {"inl_bf_lsb", Optional(figures.inlBestFitLsb)},
                       {"dnl_lsb", Optional(figures.dnlLsb)},
                       {"read_code", point.readCode},
                       {"seconds", point.seconds}};
}

}  // namespace tarnel::cli
