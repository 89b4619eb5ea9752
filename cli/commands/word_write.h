// What code and volts share: the word written in its mode, then reported as
// "word 20000  mode normal  set_volts 2.465000" or as JSON with `extra` keys.
#pragma once

#include <QJsonObject>

#include <cstdint>

#include <tarnel/board_protocol.h>

#include "command_line/command_line.h"

namespace tarnel::cli {

void WriteWord(const GlobalOptions& options, std::uint32_t data, protocol::PowerDown mode, const QJsonObject& extra);

}  // namespace tarnel::cli
