#include "sweep/sweep_csv.h"

#include "output/number_format.h"

namespace tarnel::cli {

std::string SweepCsvRow(const SweepPoint& point) {
    return std::to_string(point.code) + "," + InputWordText(point.inputWord) + "," + FixedText(point.setVolts, 6) + "," +
           CodeText(point.readCode) + "," + VoltsText(point.readVolts) + "," + FixedText(point.errorMv, 3) + "," +
           FixedText(point.seconds, 6) + "," + FixedText(point.readStd, 3) + "," + CodeText(point.readMin) + "," +
           CodeText(point.readMax);
}

SweepCsv::SweepCsv(const std::string& path) : file_(path, kSweepCsvHeader) {}

void SweepCsv::Append(const SweepPoint& point) { file_.WriteLine(SweepCsvRow(point)); }

}  // namespace tarnel::cli
