// The facts a plot's title names beside what it shows: the board, the meter's
// model and the date of the run.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "command_line/command_line.h"

namespace tarnel::cli {

// A plot page's heading: what it shows, and the facts of the run on a line
// below ("board 0, newer library  ·  meter 34465A  ·  2026-12-07").
struct PlotCaption {
    std::string title;
    std::string facts;
};

// The facts joined into the heading's second line, empty ones left out.
std::string FactsLine(const std::vector<std::string>& facts);

// The board as --board and --library chose it: "board 0, newer library".
std::string BoardFacts(LibraryChoice library, unsigned board);

// The date a plot is dated with, "2026-12-07" (UTC): SOURCE_DATE_EPOCH's when
// that holds a whole number of seconds, so that pictures made again are the
// same, otherwise today's.
std::string PlotDate(const char* sourceDateEpoch, std::time_t now);
std::string PlotDate();

// The model field of a *IDN? answer ("MAKER,MODEL,SERIAL,FIRMWARE"); the
// whole answer when it has no such field, nothing when it is empty.
std::optional<std::string> MeterModel(const std::string& identity);

}  // namespace tarnel::cli
