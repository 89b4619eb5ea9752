#include "line_frames.h"

#include <cmath>
#include <vector>

namespace tarnel::emulator {

namespace {

// The line level bit by bit as the sender drives it (true: mark, the idle level).
std::vector<bool> LineLevels(std::string_view bytes, const LineFrame& frame) {
    std::vector<bool> levels;
    levels.reserve(bytes.size() * frame.BitsPerByte());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        levels.push_back(false);   // start bit
        unsigned ones = 0;
        for (unsigned bit = 0; bit < frame.dataBits; ++bit) {
            const bool one = ((byte >> bit) & 1U) != 0;
            ones += one ? 1 : 0;
            levels.push_back(one);
        }
        if (frame.parity == 'E') levels.push_back(ones % 2 == 1);
        if (frame.parity == 'O') levels.push_back(ones % 2 == 0);
        for (unsigned bit = 0; bit < frame.stopBits; ++bit) levels.push_back(true);
    }
    return levels;
}

}  // namespace

std::string LineFrame::Text() const {
    return std::to_string(baud) + "," + std::to_string(dataBits) + parity + std::to_string(stopBits);
}

std::string Resampled(std::string_view bytes, const LineFrame& sent, const LineFrame& heard) {
    if (sent == heard) return std::string(bytes);
    if (sent.baud == 0 || heard.baud == 0) return {};   // a line hung up (B0) carries nothing
    const std::vector<bool> levels = LineLevels(bytes, sent);
    const double sentBit = 1.0 / sent.baud;
    const double heardBit = 1.0 / heard.baud;
    // The level at time t; the line idles at mark before and after.
    const auto levelAt = [&](double t) {
        const double index = std::floor(t / sentBit);
        if (index < 0 || index >= static_cast<double>(levels.size())) return true;
        return static_cast<bool>(levels[static_cast<std::size_t>(index)]);
    };
    std::string received;
    std::size_t edge = 0;   // the sender's bit where the receiver looks for a start from
    while (true) {
        // The next falling edge: a space bit after a mark bit (or after the idle line).
        while (edge < levels.size() && (levels[edge] || (edge > 0 && !levels[edge - 1]))) ++edge;
        if (edge >= levels.size()) break;
        const double start = static_cast<double>(edge) * sentBit;
        if (levelAt(start + heardBit / 2)) {   // a glitch, not a start bit
            ++edge;
            continue;
        }
        unsigned value = 0;
        for (unsigned bit = 0; bit < heard.dataBits; ++bit) {
            if (levelAt(start + (1.5 + bit) * heardBit)) value |= 1U << bit;
        }
        const unsigned afterData = 1 + heard.dataBits + (heard.parity == 'N' ? 0 : 1);
        const double stopAt = start + (afterData + 0.5) * heardBit;
        received += levelAt(stopAt) ? static_cast<char>(value) : '\0';
        // The receiver looks for the next start once its stop bit is sampled.
        edge = static_cast<std::size_t>(std::ceil(stopAt / sentBit));
    }
    return received;
}

}  // namespace tarnel::emulator
