#include "dac_errors_file.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

namespace tarnel::emulator {

namespace {

// Larger figures describe no DAC and would only overflow the arithmetic.
constexpr double kLargestMagnitude = 1e9;
constexpr const char* kNames =
    "offset_uv, gain_ppm, bow_lsb, noise_uv, seed, bit0_lsb … bit17_lsb, settle_tau_us, drift_uv_per_min, "
    "drift_ppm_per_min";

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::optional<double> ParseNumber(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (!std::isfinite(value) || std::fabs(value) > kLargestMagnitude) return std::nullopt;
    return value;
}

// The field a name sets, or nullptr for an unknown name (seed is handled apart).
double* Field(DacErrors& errors, std::string_view name) {
    if (name == "offset_uv") return &errors.offsetUv;
    if (name == "gain_ppm") return &errors.gainPpm;
    if (name == "bow_lsb") return &errors.bowLsb;
    if (name == "noise_uv") return &errors.noiseUv;
    if (name == "settle_tau_us") return &errors.settleTauUs;
    if (name == "drift_uv_per_min") return &errors.driftUvPerMin;
    if (name == "drift_ppm_per_min") return &errors.driftPpmPerMin;
    if (name.starts_with("bit") && name.ends_with("_lsb")) {
        const std::string_view digits = name.substr(3, name.size() - 7);
        unsigned bit = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), bit);
        const bool canonical = !digits.empty() && (digits.size() == 1 || digits.front() != '0');
        if (canonical && error == std::errc() && end == digits.data() + digits.size() && bit < errors.bitLsb.size()) {
            return &errors.bitLsb[bit];
        }
    }
    return nullptr;
}

DacErrorsProblem At(std::size_t line, std::string message) { return {line, std::move(message)}; }

}  // namespace

ParsedDacErrors ParseDacErrors(std::string_view text) {
    DacErrors errors;
    std::map<std::string, std::size_t, std::less<>> seen;   // name, line that set it
    std::size_t lineNumber = 0;
    while (!text.empty() || lineNumber == 0) {
        ++lineNumber;
        const auto newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        line = Trimmed(line.substr(0, line.find('#')));
        if (line.empty()) continue;

        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            return At(lineNumber, "'" + std::string(line) + "' is not 'name = value' — write for instance 'offset_uv = 50'");
        }
        const std::string_view name = Trimmed(line.substr(0, equals));
        const std::string_view valueText = Trimmed(line.substr(equals + 1));
        if (const auto earlier = seen.find(name); earlier != seen.end()) {
            return At(lineNumber, std::string(name) + " is already set on line " + std::to_string(earlier->second) +
                                      " — give each name once");
        }
        if (name == "seed") {
            std::uint32_t seed = 0;
            const auto [end, error] = std::from_chars(valueText.data(), valueText.data() + valueText.size(), seed);
            if (valueText.empty() || error != std::errc() || end != valueText.data() + valueText.size()) {
                return At(lineNumber, "seed needs a whole number from 0 to 4294967295, not '" + std::string(valueText) + "'");
            }
            errors.seed = seed;
        } else if (double* field = Field(errors, name)) {
            const auto value = ParseNumber(valueText);
            if (!value) {
                return At(lineNumber, std::string(name) + " needs a number such as 2.5 (at most 1e9 in size), not '" +
                                          std::string(valueText) + "'");
            }
            if (name == "noise_uv" && *value < 0) {
                return At(lineNumber, "noise_uv is a standard deviation and cannot be negative, not '" +
                                          std::string(valueText) + "'");
            }
            if (name == "settle_tau_us" && *value < 0) {
                return At(lineNumber, "settle_tau_us is a time constant and cannot be negative, not '" +
                                          std::string(valueText) + "' — write 0 for a DAC that settles at once");
            }
            *field = *value;
        } else {
            return At(lineNumber, "unknown name '" + std::string(name) + "' — the names are " + kNames);
        }
        seen.emplace(std::string(name), lineNumber);
    }
    return errors;
}

ParsedDacErrors ReadDacErrorsFile(const std::string& path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) return At(0, "it is a folder — give the path of a text file");
    std::ifstream file(path, std::ios::binary);
    if (!file) return At(0, std::string("cannot read it: ") + std::strerror(errno) + " — give a readable text file");
    std::ostringstream contents;
    contents << file.rdbuf();
    if (file.bad()) return At(0, "cannot read it — give a readable text file");
    return ParseDacErrors(contents.str());
}

}  // namespace tarnel::emulator
