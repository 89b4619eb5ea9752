#include "cli/sweep_csv.h"

#include <cerrno>
#include <cstring>

#include "cli/command_failure.h"
#include "cli/number_text.h"

namespace tarnel::cli {

std::string SweepCsvRow(const SweepPoint& point) {
    return std::to_string(point.code) + "," + InputWordText(point.inputWord) + "," + FixedText(point.setVolts, 6) + "," +
           CodeText(point.readCode) + "," + VoltsText(point.readVolts) + "," + FixedText(point.errorMv, 3) + "," +
           FixedText(point.seconds, 6) + "," + FixedText(point.readStd, 3) + "," + CodeText(point.readMin) + "," +
           CodeText(point.readMax);
}

SweepCsv::SweepCsv(const std::string& path) : path_(path) {
    if (path == "-") {
        file_ = stdout;
    } else {
        file_ = std::fopen(path.c_str(), "w");
        if (file_ == nullptr) {
            throw CommandFailure(ExitStatus::Failed, "cannot write " + path + ": " + std::strerror(errno) +
                                                         " — give a --csv path in a folder you can write to");
        }
    }
    try {
        WriteLine(kSweepCsvHeader);
    } catch (...) {
        Close();   // no destructor runs for an object that was never made
        throw;
    }
}

SweepCsv::~SweepCsv() { Close(); }

void SweepCsv::Close() {
    if (file_ != stdout) std::fclose(file_);
}

void SweepCsv::Append(const SweepPoint& point) { WriteLine(SweepCsvRow(point)); }

void SweepCsv::WriteLine(const std::string& line) {
    // One write per line: a row is either in the file whole or not at all.
    const std::string text = line + "\n";
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0) {
        throw CommandFailure(ExitStatus::Failed, "cannot write " + (file_ != stdout ? path_ : std::string("stdout")) + ": " +
                                                     std::strerror(errno) + " — free some space or pick another --csv path");
    }
}

}  // namespace tarnel::cli
