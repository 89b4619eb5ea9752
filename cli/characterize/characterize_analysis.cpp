#include "characterize/characterize_analysis.h"

#include "board/dac_levels.h"
#include "characterize/code_list_file.h"
#include "linearity/bit_weights.h"
#include "linearity/code_sets.h"
#include "linearity/transfer_figures.h"

namespace tarnel::cli {

namespace {

// The DAC as the linearity maths sees it: 18 bits of full scale / 2^18.
linearity::Scale DacScale() {
    return linearity::Scale{protocol::kFullScaleVolts / protocol::kDacCodes, protocol::kDacResolutionBits};
}

WorstAtCode Worst(const linearity::Worst& worst) { return WorstAtCode{worst.value, worst.code}; }

BitsPrediction Prediction(const linearity::BitsFigures& bits, double idealLsbVolts) {
    BitsPrediction prediction;
    for (std::size_t i = 0; i < prediction.weightLsb.size() && i < bits.weightsVolts.size(); ++i) {
        prediction.weightLsb[i] = bits.weightsVolts[i] / idealLsbVolts;
    }
    prediction.inlLsb = Worst(bits.predictedInlEndPointLsb);
    for (const linearity::CarryDnl& carry : bits.carryDnl) prediction.carryDnlLsb.push_back({carry.dnlLsb, carry.code});
    if (bits.superpositionCheckLsb) prediction.superpositionLsb = Worst(*bits.superpositionCheckLsb);
    prediction.predictedInlLsb = linearity::PredictedInlEndPointLsb(bits);
    return prediction;
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

CharacterizeFigures AnalyseCharacterization(const std::vector<CharacterizePoint>& points, CodeSetKind kind) {
    const linearity::Scale scale = DacScale();
    std::vector<linearity::MeasuredPoint> measured;
    measured.reserve(points.size());
    for (const CharacterizePoint& point : points) {
        measured.push_back({point.code, point.meterVolts, point.readings, point.meterStdUv.value_or(0) * 1e-6});
    }
    CharacterizeFigures figures;
    figures.points = points.size();
    figures.perPoint.resize(points.size());
    const auto transfer = linearity::AnalyseTransfer(measured, scale);
    if (transfer) {
        figures.offsetUv = transfer->offsetUv;
        figures.offsetLsb = transfer->offsetLsb;
        figures.gainPpm = transfer->gainErrorPpm;
        figures.gainPercentFsr = transfer->gainErrorPercentFsr;
        figures.measuredLsbUv = transfer->measuredLsbVolts * 1e6;
        figures.endPointCodes = {transfer->lowCode, transfer->highCode};
        figures.inlEndPointLsb = Worst(transfer->inlEndPointLsb);
        figures.inlBestFitLsb = Worst(transfer->inlBestFitLsb);
        if (transfer->dnlLsb) figures.dnlLsb = Worst(*transfer->dnlLsb);
        figures.monotonic = transfer->monotonic;
        figures.noiseUv = transfer->noiseUvRms;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const linearity::PointFigures& each = transfer->perPoint[i];
            figures.perPoint[i] = PointFigures{each.inlEndPointLsb, each.inlBestFitLsb, each.dnlLsb};
        }
    }
    if (kind == CodeSetKind::Bits) {
        if (const auto bits = linearity::AnalyseBits(measured, scale)) figures.bits = Prediction(*bits, scale.lsbVolts);
    }
    return figures;
}

}  // namespace tarnel::cli
