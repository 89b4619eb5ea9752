// The data word typed into the main window's data field: the text read as a
// hexadecimal literal, limited to the DAC's range, and the five-digit text the
// field shows afterwards.
#pragma once

#include <cstdint>

#include <QString>

namespace tarnel::ui {

struct DataWordEntry {
    std::int32_t value;   // the data word, 0 .. 2^resolution - 1
    QString text;         // what the field shows, e.g. "00ABC"
};

// The value of the hexadecimal literal "&H" + digits as a 32-bit signed
// integer. Digits 0-9, a-f and A-F; leading zeros do not count, up to eight
// significant digits; eight digits with the top bit set give a negative value
// (two's complement). Any other character, spaces included (before, between
// or after the digits), and an empty text raise RunTimeError (conversion);
// more than eight significant digits raise RunTimeError (overflow).
std::int32_t HexLiteralValue(const QString& digits);

// value limited to 0 .. 2^resolution - 1.
std::int32_t LimitToResolution(std::int32_t value, std::int16_t resolution);

// Upper-case hexadecimal without leading zeros, then zeros in front up to five
// characters; five or more characters stay as they are ("7" -> "00007").
QString PaddedHexText(std::int32_t value);

// The field's text read, limited and rewritten. Raises RunTimeError as
// HexLiteralValue does.
DataWordEntry DataWordFromField(const QString& fieldText, std::int16_t resolution);

}  // namespace tarnel::ui
