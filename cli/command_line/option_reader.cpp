#include "command_line/option_reader.h"

#include <optional>

#include "command_line/usage_failure.h"
#include "command_line/value_parsing.h"
#include "core/read_counts.h"

namespace tarnel::cli {

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

void Usage(const std::string& what) { UsageFailure(what); }

std::uint64_t CountIn(const std::string& option, const std::string& text, std::uint64_t least, std::uint64_t most) {
    const auto value = ParseCount(text);
    if (!value || *value < least || *value > most) {
        Usage(option + " needs a whole number from " + std::to_string(least) + " to " + std::to_string(most) +
              ", not " + Quoted(text));
    }
    return *value;
}

std::uint64_t WordIn(const std::string& what, const std::string& text) {
    const auto word = ParseHexWord(text);
    if (!word) Usage(what + " needs a data word in hex such as 20000 or 0x3FFFF, not " + Quoted(text));
    return *word;
}

double DecimalIn(const std::string& option, const std::string& text, double least, double most, const std::string& what) {
    const auto value = ParseDecimal(text);
    if (!value || *value < least || *value > most) Usage(option + " needs " + what + ", not " + Quoted(text));
    return *value;
}

protocol::PowerDown ModeIn(const std::string& text) {
    const auto mode = ParseMode(text);
    if (!mode) Usage("--mode needs normal, 1k, 100k or hiz, not " + Quoted(text));
    return *mode;
}

OptionReader::OptionReader(std::string command, std::vector<std::string> words,
                           std::map<std::string, std::string> options)
    : command_(std::move(command)), words_(std::move(words)), options_(std::move(options)) {}

void OptionReader::AllowOptions(const std::set<std::string>& known) const {
    for (const auto& [option, value] : options_) {
        if (!known.contains(option)) Usage(command_ + " has no option " + option);
    }
}

void OptionReader::ExpectWords(std::size_t count, const std::string& wordName) const {
    if (words_.size() < count) Usage(command_ + " needs " + wordName);
    if (words_.size() > count) Usage(command_ + " does not take " + Quoted(words_[count]));
}

const std::string* OptionReader::Find(const std::string& option) const {
    const auto found = options_.find(option);
    return found == options_.end() ? nullptr : &found->second;
}

unsigned OptionReader::Averaged() const {
    const std::string* text = Find("--avg");
    return text ? static_cast<unsigned>(CountIn("--avg", *text, 1, kMostReadsPerReading)) : 1;
}

protocol::PowerDown OptionReader::Mode() const {
    const std::string* text = Find("--mode");
    return text ? ModeIn(*text) : protocol::PowerDown::Normal;
}

double OptionReader::SettleMs(double byDefault) const {
    const std::string* text = Find("--settle");
    return text ? DecimalIn("--settle", *text, 0, kLongestSettleMs, "milliseconds from 0 to 3600000") : byDefault;
}

OutputChoice OptionReader::Output(bool json) const {
    const std::string* csv = Find("--csv");
    const std::string* plot = Find("--plot");
    return ChooseOutput(json, csv ? std::optional<std::string>(*csv) : std::nullopt,
                        plot ? std::optional<std::string>(*plot) : std::nullopt);
}

}  // namespace tarnel::cli
