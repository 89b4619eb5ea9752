#include "cli/characterize_analysis.h"

#include "cli/code_list_file.h"
#include "cli/command_failure.h"
#include "cli/output_limits.h"

namespace tarnel::cli {

std::vector<std::uint32_t> CharacterizeCodes(const CodeSetChoice& choice) {
    switch (choice.kind) {
    case CodeSetKind::File: return ReadCodeListFile(choice.file);
    case CodeSetKind::All: {
        // Both ends inside the DAC's range before a single code is listed.
        AllowedDataWord(choice.from, protocol::PowerDown::Normal, std::nullopt);
        AllowedDataWord(choice.to, protocol::PowerDown::Normal, std::nullopt);
        std::vector<std::uint32_t> codes;
        const auto from = static_cast<std::int64_t>(choice.from);
        const auto to = static_cast<std::int64_t>(choice.to);
        const std::int64_t step = to >= from ? 1 : -1;
        for (std::int64_t code = from;; code += step) {
            codes.push_back(static_cast<std::uint32_t>(code));
            if (code == to) break;
        }
        return codes;
    }
    default:
        throw CommandFailure(ExitStatus::Failed, "--codes " + choice.text + " waits for the linearity library");
    }
}

CharacterizeFigures AnalyseCharacterization(const std::vector<CharacterizePoint>& points, CodeSetKind) {
    CharacterizeFigures figures;
    figures.points = points.size();
    figures.perPoint.resize(points.size());
    return figures;
}

}  // namespace tarnel::cli
