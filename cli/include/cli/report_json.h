// tarnelctl's results as JSON (--json): one object per command on stdout,
// a list for scan. The keys are documented in tarnelctl --help.
#pragma once

#include <QJsonArray>
#include <QJsonObject>

#include <cstddef>
#include <optional>
#include <string>

#include "cli/board_connection.h"
#include "cli/linearity.h"
#include "cli/sweep.h"
#include "cli/sweep_output.h"

namespace tarnel::cli {

QJsonArray ScanJson(const ScanResult& scan);
// A written word: code, word, input_word, mode, set_volts.
QJsonObject WrittenJson(std::uint32_t data, std::uint32_t inputWord, protocol::PowerDown mode);
// A reading: code (the mean when averaged), volts, reads, code_std, code_min, code_max.
QJsonObject ReadingJson(const Reading& reading);
QJsonObject PointJson(const SweepPoint& point);
QJsonObject LinearityJson(const LinearityReport& report);
// A sweep's summary: planned, points, completed, stopped, csv, plot, parked, linearity.
QJsonObject SweepJson(std::size_t planned, const SweepOutcome& outcome, const SweepOutput& output,
                      std::optional<std::uint32_t> park, const LinearityReport& linearity);

// Writes the value compactly on one line of stdout.
void PrintJson(const QJsonValue& value);

}  // namespace tarnel::cli
