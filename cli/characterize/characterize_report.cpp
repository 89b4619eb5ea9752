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

// ", u 0.027 LSB" where the uncertainty is known.
std::string UText(const std::optional<double>& u, int decimals, const std::string& unit) {
    return u ? ", u " + FixedText(*u, decimals) + (unit.empty() ? "" : " " + unit) : "";
}

std::string WorstText(const WorstAtCode& worst) {
    return Signed(worst.value, 3) + " LSB at code " + WordText(worst.code) + UText(worst.u, 3, "LSB");
}

std::string SettingsText(const CharacterizeCommand& command, const CharacterizeFigures& figures) {
    std::string text = "NPLC " + FixedText(command.nplc, 2) + ", " + std::to_string(command.averaged) + " reading(s) a code, ";
    if (!command.settle.automatic) return text + "settle " + FixedText(command.settleMs, 1) + " ms";
    return text + "settle auto (longest " + FixedText(figures.settling.longestMs, 1) + " ms, at most " +
           FixedText(command.settle.maxMs, 0) + " ms)";
}

std::string CodesText(const std::vector<std::uint32_t>& codes) {
    std::string text;
    for (const std::uint32_t code : codes) text += (text.empty() ? "" : " ") + WordText(code);
    return text;
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
// The uncertainty of a worst figure's value, beside its object.
QJsonValue WorstU(const std::optional<WorstAtCode>& worst) { return worst ? Optional(worst->u) : QJsonValue(); }
QJsonArray Numbers(const std::vector<double>& values) {
    QJsonArray array;
    for (const double value : values) array.append(value);
    return array;
}
QJsonArray Codes(const std::vector<std::uint32_t>& codes) {
    QJsonArray array;
    for (const std::uint32_t code : codes) array.append(static_cast<int>(code));
    return array;
}

QJsonValue DriftJson(const std::optional<DriftFound>& drift, const DriftChoice& choice) {
    if (!drift) return QJsonValue();
    return QJsonObject{{"every", static_cast<double>(choice.every)},
                       {"codes", QJsonArray{static_cast<int>(choice.lowCode), static_cast<int>(choice.highCode)}},
                       {"references", static_cast<int>(drift->references)},
                       {"minutes", drift->spanMinutes},
                       {"offset_uv_per_min", drift->offsetUvPerMinute},
                       {"offset_uv_per_min_u", Optional(drift->offsetUvPerMinuteU)},
                       {"gain_ppm_per_min", drift->gainPpmPerMinute},
                       {"gain_ppm_per_min_u", Optional(drift->gainPpmPerMinuteU)},
                       {"largest_correction_uv", drift->largestCorrectionUv}};
}

QJsonValue RepeatsJson(const std::vector<RepeatedFigure>& repeats, unsigned passes) {
    if (passes < 2) return QJsonValue();
    QJsonObject object{{"passes", static_cast<int>(passes)}};
    for (const RepeatedFigure& figure : repeats) {
        object[QString::fromStdString(figure.name)] =
            QJsonObject{{"mean", figure.mean}, {"sd", figure.spread}, {"passes", static_cast<int>(figure.passes)}};
    }
    return object;
}

std::string VerdictKey(LimitVerdict verdict) {
    switch (verdict) {
    case LimitVerdict::Pass: return "pass";
    case LimitVerdict::Fail: return "fail";
    case LimitVerdict::TooClose: return "too close to call";
    }
    return "fail";
}

QJsonValue LimitsJson(const LinearityLimits& limits, const std::vector<std::string>& failed,
                      const std::vector<LimitJudgement>& judged) {
    if (!limits.Any()) return QJsonValue();
    QJsonArray names, tooClose;
    for (const std::string& one : failed) names.append(QString::fromStdString(one));
    QJsonObject verdicts;
    for (const LimitJudgement& one : judged) {
        verdicts[QString::fromStdString(one.name)] = QString::fromStdString(VerdictKey(one.verdict));
        if (one.verdict == LimitVerdict::TooClose) tooClose.append(QString::fromStdString(one.name));
    }
    return QJsonObject{{"inl", Optional(limits.inlLsb)},
                       {"dnl", Optional(limits.dnlLsb)},
                       {"offset_mv", Optional(limits.offsetMv)},
                       {"gain_pct", Optional(limits.gainPercent)},
                       {"passed", failed.empty()},
                       {"failed", names},
                       {"too_close", tooClose},
                       {"verdicts", verdicts}};
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
    text += Line("settings", SettingsText(command, figures));
    text += Line("codes", command.codes.text + ": " + std::to_string(figures.points) + " of " +
                              std::to_string(facts.planned) + " measured (" + EndName(facts.end) + ")" +
                              (command.repeats >= 2 ? ", " + std::to_string(command.repeats) + " passes" : ""));
    if (!figures.settling.unsettledCodes.empty()) {
        text += Line("not settled", std::to_string(figures.settling.unsettledCodes.size()) + " code(s) in " +
                                        FixedText(command.settle.maxMs, 0) + " ms: " +
                                        CodesText(figures.settling.unsettledCodes));
    }
    if (figures.drift) {
        const DriftFound& drift = *figures.drift;
        const auto rate = [](double value, const std::optional<double>& u, int decimals, const std::string& unit) {
            return Signed(value, decimals) + " " + unit + (u ? " (u " + FixedText(*u, decimals) + ")" : "");
        };
        text += Line("drift", "offset " + rate(drift.offsetUvPerMinute, drift.offsetUvPerMinuteU, 3, "uV/min") +
                                  ", gain " + rate(drift.gainPpmPerMinute, drift.gainPpmPerMinuteU, 4, "ppm/min") +
                                  " (" + std::to_string(drift.references) +
                                  " reference pairs over " + FixedText(drift.spanMinutes, 2) + " min, largest correction " +
                                  FixedText(drift.largestCorrectionUv, 2) + " uV)");
    }
    if (!figures.driftProblem.empty()) text += Line("drift", figures.driftProblem);
    if (figures.offsetUv) {
        text += Line("offset", FixedText(*figures.offsetUv, 2) + " uV (" + Signed(*figures.offsetLsb, 3) + " LSB)" +
                                   UText(figures.offsetUvU, 2, "uV"));
    }
    if (figures.gainPpm) {
        text += Line("end points", "codes " + WordText(figures.endPointCodes.first) + " and " +
                                       WordText(figures.endPointCodes.second));
        text += Line("gain error", Signed(*figures.gainPpm, 2) + " ppm (" + Signed(*figures.gainPercentFsr, 5) +
                                       " % FSR)" + UText(figures.gainPpmU, 2, "ppm"));
        text += Line("measured LSB", FixedText(*figures.measuredLsbUv, 5) + " uV (ideal " + FixedText(kIdealLsbUv, 5) +
                                         " uV)" + UText(figures.measuredLsbUvU, 7, "uV"));
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
                         FixedText(bits.weightLsb[i], 4) + " LSB (" + Signed(bits.weightLsb[i] - ideal, 4) + ")" +
                             (i < bits.weightLsbU.size() ? UText(bits.weightLsbU[i], 4, "") : ""));
        }
        text += Line("predicted INL", WorstText(bits.inlLsb) + " (end-point, all codes)");
        for (const WorstAtCode& carry : bits.carryDnlLsb) {
            text += Line("carry DNL " + WordText(carry.code), Signed(carry.value, 3) + " LSB (predicted)" +
                                                                  UText(carry.u, 3, "LSB"));
        }
        if (bits.superpositionLsb) {
            text += Line("superposition", WorstText(*bits.superpositionLsb) + " (measured - predicted, check codes)");
        }
    }
    for (const RepeatedFigure& figure : figures.repeats) {
        text += Line("repeat " + figure.name, "mean " + Signed(figure.mean, 3) + " " + figure.unit + ", sd " +
                                                  FixedText(figure.spread, 3) + " " + figure.unit + " over " +
                                                  std::to_string(figure.passes) + " passes");
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
        {"settle_ms", command.settle.automatic ? figures.settling.longestMs : command.settleMs},
        {"settle", command.settle.automatic ? "auto" : "fixed"},
        {"settle_max_ms", command.settle.automatic ? QJsonValue(command.settle.maxMs) : QJsonValue()},
        {"unsettled_codes", Codes(figures.settling.unsettledCodes)},
        {"repeat", static_cast<int>(command.repeats)},
        {"drift", DriftJson(figures.drift, command.drift)},
        {"drift_problem", figures.driftProblem.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(figures.driftProblem))},
        {"repeats", RepeatsJson(figures.repeats, command.repeats)},
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
        {"offset_uv_u", Optional(figures.offsetUvU)},
        {"offset_lsb_u", figures.offsetUvU ? QJsonValue(*figures.offsetUvU / kIdealLsbUv) : QJsonValue()},
        {"gain_error_ppm_u", Optional(figures.gainPpmU)},
        {"gain_error_pct_fsr_u", figures.gainPpmU ? QJsonValue(*figures.gainPpmU / 1e4) : QJsonValue()},
        {"measured_lsb_uv_u", Optional(figures.measuredLsbUvU)},
        {"inl_ep_lsb_u", WorstU(figures.inlEndPointLsb)},
        {"inl_bf_lsb_u", WorstU(figures.inlBestFitLsb)},
        {"dnl_lsb_u", WorstU(figures.dnlLsb)},
        {"end_point_codes", figures.measuredLsbUv ? QJsonValue(QJsonArray{static_cast<int>(figures.endPointCodes.first),
                                                                         static_cast<int>(figures.endPointCodes.second)})
                                                  : QJsonValue()},
        {"inl_ep_lsb", Worst(figures.inlEndPointLsb)},
        {"inl_bf_lsb", Worst(figures.inlBestFitLsb)},
        {"dnl_lsb", Worst(figures.dnlLsb)},
        {"monotonic", figures.monotonic ? QJsonValue(*figures.monotonic) : QJsonValue()},
        {"noise_uv", Optional(figures.noiseUv)},
        {"limits", LimitsJson(command.limits, facts.failedLimits, facts.limitJudgements)},
    };
    if (figures.bits) {
        const BitsPrediction& bits = *figures.bits;
        QJsonArray weights;
        for (const double weight : bits.weightLsb) weights.append(weight);
        QJsonArray carries;
        QJsonArray carriesU;
        for (const WorstAtCode& carry : bits.carryDnlLsb) {
            carries.append(QJsonObject{{"code", static_cast<int>(carry.code)}, {"dnl", carry.value}});
            carriesU.append(Optional(carry.u));
        }
        object["bits"] = QJsonObject{{"weights_lsb", weights},
                                     {"weights_lsb_u", bits.weightLsbU.empty() ? QJsonValue() : QJsonValue(Numbers(bits.weightLsbU))},
                                     {"predicted_inl_lsb", Worst(bits.inlLsb)},
                                     {"predicted_inl_lsb_u", Optional(bits.inlLsb.u)},
                                     {"carry_dnl_lsb", carries},
                                     {"carry_dnl_lsb_u", carriesU},
                                     {"superposition_lsb", Worst(bits.superpositionLsb)},
                                     {"superposition_lsb_u", WorstU(bits.superpositionLsb)}};
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
                       {"seconds", point.seconds},
                       {"settle_ms", point.settleMs},
                       {"settled", point.settled ? QJsonValue(*point.settled) : QJsonValue()},
                       {"drift_uv", Optional(figures.driftUv)},
                       {"inl_ep_u", Optional(figures.inlEndPointLsbU)},
                       {"dnl_u", Optional(figures.dnlLsbU)},
                       {"repeat", static_cast<int>(point.repeat + 1)}};
}

}  // namespace tarnel::cli
