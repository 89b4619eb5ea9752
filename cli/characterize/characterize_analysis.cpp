#include "characterize/characterize_analysis.h"

#include <algorithm>
#include <cmath>

#include "board/dac_levels.h"
#include "characterize/code_list_file.h"
#include "characterize/repeat_statistics.h"
#include "linearity/bit_weights.h"
#include "linearity/code_sets.h"
#include "linearity/drift_correction.h"
#include "linearity/transfer_figures.h"

namespace tarnel::cli {

namespace {

// The DAC as the linearity maths sees it: 18 bits of full scale / 2^18.
linearity::Scale DacScale() {
    return linearity::Scale{protocol::kFullScaleVolts / protocol::kDacCodes, protocol::kDacResolutionBits};
}

WorstAtCode Worst(const linearity::Worst& worst, std::optional<double> u = std::nullopt) {
    return WorstAtCode{worst.value, worst.code, u};
}

BitsPrediction Prediction(const linearity::BitsFigures& bits, double idealLsbVolts) {
    BitsPrediction prediction;
    for (std::size_t i = 0; i < prediction.weightLsb.size() && i < bits.weightsVolts.size(); ++i) {
        prediction.weightLsb[i] = bits.weightsVolts[i] / idealLsbVolts;
    }
    prediction.weightLsbU = bits.weightsLsbU;
    prediction.inlLsb = Worst(bits.predictedInlEndPointLsb, bits.predictedInlEndPointLsbU);
    for (const linearity::CarryDnl& carry : bits.carryDnl) {
        prediction.carryDnlLsb.push_back({carry.dnlLsb, carry.code, carry.dnlLsbU});
    }
    if (bits.superpositionCheckLsb) {
        prediction.superpositionLsb = Worst(*bits.superpositionCheckLsb, bits.superpositionCheckLsbU);
    }
    prediction.predictedInlLsb = linearity::PredictedInlEndPointLsb(bits);
    return prediction;
}

// The figures of one set of points (every pass, or one), drift already corrected.
CharacterizeFigures FiguresOf(const std::vector<linearity::MeasuredPoint>& measured, CodeSetKind kind) {
    const linearity::Scale scale = DacScale();
    CharacterizeFigures figures;
    figures.points = measured.size();
    figures.perPoint.resize(measured.size());
    const auto transfer = linearity::AnalyseTransfer(measured, scale);
    if (transfer) {
        figures.offsetUv = transfer->offsetUv;
        figures.offsetLsb = transfer->offsetLsb;
        figures.offsetUvU = transfer->offsetUvU;
        figures.gainPpm = transfer->gainErrorPpm;
        figures.gainPercentFsr = transfer->gainErrorPercentFsr;
        figures.gainPpmU = transfer->gainErrorPpmU;
        figures.measuredLsbUv = transfer->measuredLsbVolts * 1e6;
        if (transfer->measuredLsbVoltsU) figures.measuredLsbUvU = *transfer->measuredLsbVoltsU * 1e6;
        figures.endPointCodes = {transfer->lowCode, transfer->highCode};
        figures.inlEndPointLsb = Worst(transfer->inlEndPointLsb, transfer->inlEndPointLsbU);
        figures.inlBestFitLsb = Worst(transfer->inlBestFitLsb, transfer->inlBestFitLsbU);
        if (transfer->dnlLsb) figures.dnlLsb = Worst(*transfer->dnlLsb, transfer->dnlLsbU);
        figures.monotonic = transfer->monotonic;
        figures.noiseUv = transfer->noiseUvRms;
        for (std::size_t i = 0; i < measured.size(); ++i) {
            const linearity::PointFigures& each = transfer->perPoint[i];
            PointFigures& point = figures.perPoint[i];
            point.inlEndPointLsb = each.inlEndPointLsb;
            point.inlBestFitLsb = each.inlBestFitLsb;
            point.dnlLsb = each.dnlLsb;
            point.inlEndPointLsbU = each.inlEndPointLsbU;
            point.inlBestFitLsbU = each.inlBestFitLsbU;
            point.dnlLsbU = each.dnlLsbU;
        }
    }
    if (kind == CodeSetKind::Bits) {
        if (const auto bits = linearity::AnalyseBits(measured, scale)) figures.bits = Prediction(*bits, scale.lsbVolts);
    }
    return figures;
}

std::optional<linearity::DriftCorrection> Correction(const std::vector<ReferencePoint>& references) {
    std::vector<linearity::ReferenceReading> readings;
    for (const ReferencePoint& one : references) {
        readings.push_back({one.seconds, one.lowVolts, one.highVolts, one.lowU.value_or(0), one.highU.value_or(0)});
    }
    return linearity::DriftCorrection::From(std::move(readings));
}

}  // namespace

std::vector<std::uint32_t> CharacterizeCodes(const CodeSetChoice& choice) {
    switch (choice.kind) {
    case CodeSetKind::Bits: return linearity::BitsCodes(protocol::kDacResolutionBits);
    case CodeSetKind::Carries: return linearity::CarryCodes(protocol::kDacResolutionBits);
    case CodeSetKind::Grid: return linearity::GridCodes(0, protocol::kDataMask, choice.gridPoints);
    case CodeSetKind::File: return ReadCodeListFile(choice.file);
    case CodeSetKind::All: break;
    }
    // Both ends inside the DAC's range before a single code is listed.
    const std::uint32_t from = AllowedDataWord(choice.from, protocol::PowerDown::Normal, std::nullopt);
    const std::uint32_t to = AllowedDataWord(choice.to, protocol::PowerDown::Normal, std::nullopt);
    return linearity::GridCodes(from, to, std::uint64_t{from > to ? from - to : to - from} + 1);
}

CharacterizeFigures AnalyseCharacterization(const std::vector<CharacterizePoint>& points, CodeSetKind kind,
                                            const std::vector<ReferencePoint>& references, unsigned repeats) {
    // Each reading corrected for the drift at its time, its uncertainty widened by the correction's.
    const auto correction = Correction(references);
    std::vector<linearity::MeasuredPoint> measured;
    std::vector<std::optional<double>> driftUv;
    measured.reserve(points.size());
    for (const CharacterizePoint& point : points) {
        linearity::MeasuredPoint one{point.code, point.meterVolts, point.readings, point.meterStdUv.value_or(0) * 1e-6};
        std::optional<double> u = one.Uncertainty();
        if (correction) {
            one.volts = correction->Corrected(point.meterVolts, point.readingSeconds);
            driftUv.push_back((one.volts - point.meterVolts) * 1e6);
            if (u) u = std::hypot(*u, correction->CorrectionU(point.meterVolts, point.readingSeconds));
        } else {
            driftUv.push_back(std::nullopt);
        }
        one.uVolts = u;
        measured.push_back(one);
    }

    CharacterizeFigures figures = FiguresOf(measured, kind);
    for (std::size_t i = 0; i < points.size(); ++i) figures.perPoint[i].driftUv = driftUv[i];

    if (correction) {
        const linearity::DriftRates rates = correction->Rates();
        DriftFound drift{rates.offsetUvPerMinute, rates.gainPpmPerMinute, rates.offsetUvPerMinuteU,
                         rates.gainPpmPerMinuteU, references.size(), rates.spanMinutes, 0};
        for (const auto& one : driftUv) drift.largestCorrectionUv = std::max(drift.largestCorrectionUv, std::fabs(*one));
        figures.drift = drift;
    } else if (!references.empty()) {
        figures.driftProblem = "the high reference code did not read above the low one: readings not corrected "
                               "(check the DAC output and --drift-codes)";
    }
    for (const CharacterizePoint& point : points) {
        figures.settling.longestMs = std::max(figures.settling.longestMs, point.settleMs);
        if (point.settled == false) figures.settling.unsettledCodes.push_back(point.code);
    }
    if (repeats >= 2) {
        std::vector<CharacterizeFigures> passes;
        for (unsigned repeat = 0; repeat < repeats; ++repeat) {
            std::vector<linearity::MeasuredPoint> pass;
            for (std::size_t i = 0; i < points.size(); ++i) {
                if (points[i].repeat == repeat) pass.push_back(measured[i]);
            }
            if (!pass.empty()) passes.push_back(FiguresOf(pass, kind));
        }
        figures.repeats = RepeatStatistics(passes);
    }
    return figures;
}

}  // namespace tarnel::cli
