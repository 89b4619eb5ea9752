// The sweep's rows as CSV, each row written and flushed as soon as its point
// is done, so that the file is valid with every finished row whenever the
// sweep stops. Columns:
//   code        data word written, decimal
//   input_word  24-bit input word sent, hex (0x080000)
//   set_volts   the output the word sets, V (0 powered down)
//   read_code   read-back code (the mean when averaged)
//   read_volts  read-back in V, rounded as the window shows it
//   error_mv    read-back minus set output, mV, unrounded
//   seconds     since the sweep started
//   read_code_std, read_code_min, read_code_max
//               standard deviation, smallest and largest of the codes read
#pragma once

#include <string>

#include "output/csv_file.h"
#include "sweep/sweep.h"

namespace tarnel::cli {

inline constexpr const char* kSweepCsvHeader = "code,input_word,set_volts,read_code,read_volts,error_mv,seconds,read_code_std,read_code_min,read_code_max";

// One row, without the line end.
std::string SweepCsvRow(const SweepPoint& point);

class SweepCsv {
public:
    // Creates (or empties) the file at path and writes the header; "-" means
    // stdout. A file that cannot be written throws CommandFailure(Failed).
    explicit SweepCsv(const std::string& path);

    void Append(const SweepPoint& point);

private:
    CsvFile file_;
};

}  // namespace tarnel::cli
