// A sweep's results for people and scripts: each point and the summary as
// JSON (--json; the keys tarnelctl --help lists), the read-back linearity as
// "name  value" text.
#pragma once

#include <QJsonObject>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "output/output_choice.h"
#include "sweep/readback_linearity.h"
#include "sweep/sweep.h"

namespace tarnel::cli {

QJsonObject PointJson(const SweepPoint& point);
QJsonObject LinearityJson(const LinearityReport& report);
// A sweep's summary: planned, points, completed, stopped, csv, plot, parked, linearity.
QJsonObject SweepJson(std::size_t planned, const SweepOutcome& outcome, const OutputChoice& output,
                      std::optional<std::uint32_t> park, const LinearityReport& linearity);
// The linearity summary, one line per figure.
std::string LinearityText(const LinearityReport& report);

}  // namespace tarnel::cli
