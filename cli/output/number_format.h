// Numbers as tarnelctl prints them, in text, CSV and messages alike.
#pragma once

#include <cstdint>
#include <string>

namespace tarnel::cli {

// A voltage as the window shows it: at most three decimals, no trailing zeros
// ("2.465", "1.2", "0"), from a value already rounded to thousandths.
std::string VoltsText(float roundedVolts);
// The same value as the decimal it stands for (2.465, not the float's
// 2.4649999...), for JSON.
double ShownVolts(float roundedVolts);

// A read-back code: whole codes as integers ("2048"), a mean with three
// decimals ("2047.500").
std::string CodeText(double code);

// value with `decimals` digits after the point.
std::string FixedText(double value, int decimals);

// A data word as the window shows it: at least five upper-case hex digits ("0C000").
std::string WordText(std::uint64_t word);

// A 24-bit input word: "0x" and six upper-case hex digits ("0x080000").
std::string InputWordText(std::uint32_t inputWord);

}  // namespace tarnel::cli
