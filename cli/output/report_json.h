// The board's records as JSON (--json): boards scanned, a word written, a
// reading; one object per command on stdout, a list for scan. The keys are documented in tarnelctl --help.
#pragma once

#include <QJsonArray>
#include <QJsonObject>

#include <cstdint>

#include "board/board_connection.h"

namespace tarnel::cli {

QJsonArray ScanJson(const ScanResult& scan);
// A written word: code, word, input_word, mode, set_volts.
QJsonObject WrittenJson(std::uint32_t data, std::uint32_t inputWord, protocol::PowerDown mode);
// A reading: code (the mean when averaged), volts, reads, code_std, code_min, code_max.
QJsonObject ReadingJson(const Reading& reading);

// Writes the value compactly on one line of stdout.
void PrintJson(const QJsonValue& value);

}  // namespace tarnel::cli
