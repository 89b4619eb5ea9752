// A characterisation's summary: as text ("name  value" lines, as every
// tarnelctl summary) or as one JSON object whose keys tarnelctl --help lists.
#pragma once

#include <QJsonArray>
#include <QJsonObject>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "characterize/characterize_command.h"
#include "characterize/characterize_figures.h"
#include "characterize/characterize_run.h"

namespace tarnel::cli {

// What the run was and how it ended, beside the figures.
struct CharacterizeRunFacts {
    std::string meterResource;   // as messages name it: HOST:PORT, USB0::...::INSTR, ...
    std::string meterIdentity;   // its *IDN?
    // Facts of the meter's connection, such as a GPIB adapter's version: name and value.
    std::vector<std::pair<std::string, std::string>> meterConnection;
    const CharacterizeCommand* command = nullptr;
    std::size_t planned = 0;
    CharacterizeEnd end = CharacterizeEnd::Completed;
    bool firmwareLoaded = false;
    std::optional<std::uint32_t> parkedAt;   // none: the DAC could not be parked
    std::vector<std::string> failedLimits;        // every limit that did not pass, as worded
    std::vector<LimitJudgement> limitJudgements;   // every limit given
};

std::string CharacterizeText(const CharacterizeRunFacts& facts, const CharacterizeFigures& figures);
QJsonObject CharacterizeJson(const CharacterizeRunFacts& facts, const CharacterizeFigures& figures);
// One row of the CSV as a JSON object with the CSV's column names as keys.
QJsonObject CharacterizeRowJson(const CharacterizePoint& point, const PointFigures& figures);

}  // namespace tarnel::cli
