// The words and options that follow a command's name, and the readers every
// command uses for their values, so that each value is read one way and each
// refusal is worded one way: one usage line that says what is wrong
// (CommandFailure(Usage)).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <tarnel/board_protocol.h>

#include "output/output_choice.h"

namespace tarnel::cli {

inline constexpr double kLongestSettleMs = 3600e3;   // an hour

// "'text'", as refusals quote what was typed.
std::string Quoted(const std::string& text);
[[noreturn]] void Usage(const std::string& what);

// A whole number from least to most; `option` names it in the refusal.
std::uint64_t CountIn(const std::string& option, const std::string& text, std::uint64_t least, std::uint64_t most);
// A data word in hex ("20000", "0x3FFFF"), before its range is checked.
std::uint64_t WordIn(const std::string& what, const std::string& text);
// A decimal from least to most; `what` says what is needed ("milliseconds from 0 to 3600000").
double DecimalIn(const std::string& option, const std::string& text, double least, double most, const std::string& what);
protocol::PowerDown ModeIn(const std::string& text);

class OptionReader {
public:
    OptionReader(std::string command, std::vector<std::string> words, std::map<std::string, std::string> options);

    const std::string& Command() const { return command_; }
    const std::vector<std::string>& Words() const { return words_; }
    const std::map<std::string, std::string>& Options() const { return options_; }

    // Refuses an option not in `known` ("code has no option --avg").
    void AllowOptions(const std::set<std::string>& known) const;
    // Refuses fewer or more words than `count`; `wordName` says what is missing.
    void ExpectWords(std::size_t count, const std::string& wordName) const;

    // The option's value; none when it was not given.
    const std::string* Find(const std::string& option) const;
    bool Has(const std::string& option) const { return Find(option) != nullptr; }

    // --avg N (1 by default), --mode MODE (normal by default), --settle MS (0
    // by default), and the output choice of --csv and --plot with --json.
    unsigned Averaged() const;
    protocol::PowerDown Mode() const;
    double SettleMs(double byDefault) const;
    OutputChoice Output(bool json) const;

private:
    std::string command_;
    std::vector<std::string> words_;
    std::map<std::string, std::string> options_;
};

}  // namespace tarnel::cli
