#include "ui/hex_entry.h"

#include <algorithm>

#include "state/run_time_error.h"

namespace tarnel::ui {

namespace {

constexpr int kMaxSignificantDigits = 8;   // 32 bits
constexpr int kFieldDigits = 5;

int HexDigitValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') return u - u'0';
    if (u >= u'a' && u <= u'f') return u - u'a' + 10;
    if (u >= u'A' && u <= u'F') return u - u'A' + 10;
    return -1;
}

}  // namespace

std::int32_t HexLiteralValue(const QString& digits) {
    if (digits.isEmpty()) {
        throw RunTimeError("Not a hexadecimal number: the data word is empty; type up to 5 hex digits");
    }
    std::uint32_t value = 0;
    int significant = 0;
    for (const QChar c : digits) {
        const int digit = HexDigitValue(c);
        if (digit < 0) {
            throw RunTimeError("Not a hexadecimal number: \"" + digits.toStdString() +
                               "\"; use only the digits 0-9 and A-F");
        }
        if (significant == 0 && digit == 0) continue;
        if (++significant > kMaxSignificantDigits) {
            throw RunTimeError("Overflow: \"" + digits.toStdString() +
                               "\" needs more than 32 bits; use at most 8 significant hex digits");
        }
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    // Eight digits with the top bit set read as a negative two's complement value.
    return static_cast<std::int32_t>(value);
}

std::int32_t LimitToResolution(std::int32_t value, std::int16_t resolution) {
    const int bits = std::clamp<int>(resolution, 0, 32);
    const std::int64_t limit = (std::int64_t{1} << bits) - 1;
    if (value > limit) return static_cast<std::int32_t>(limit);
    if (value < 0) return 0;
    return value;
}

QString PaddedHexText(std::int32_t value) {
    const QString hex = QString::number(static_cast<std::uint32_t>(value), 16).toUpper();
    return hex.rightJustified(kFieldDigits, u'0');
}

DataWordEntry DataWordFromField(const QString& fieldText, std::int16_t resolution) {
    const std::int32_t value = LimitToResolution(HexLiteralValue(fieldText), resolution);
    return {value, PaddedHexText(value)};
}

}  // namespace tarnel::ui
