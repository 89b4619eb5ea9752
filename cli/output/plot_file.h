// The plot file every command draws into (--plot): its size, its format by
// the file's extension, the check of its path before the first write, and
// whether this tarnelctl can draw at all.
#pragma once

#include <string>

namespace tarnel::cli {

inline constexpr int kPlotWidth = 1200;
inline constexpr int kPlotHeight = 900;

enum class PlotFormat { Png, Svg, Pdf, Unknown };

// By the path's extension, in any case: ".png", ".svg", ".pdf".
PlotFormat PlotFormatOf(const std::string& path);

// Throws CommandFailure(Failed), naming the package to build with, when this
// tarnelctl was built without Qt Charts and so cannot draw.
void RequirePlotSupport();

// Throws CommandFailure(Usage) for a path whose extension names no format
// this tarnelctl writes, and CommandFailure(Failed) when the path cannot be
// written: a missing folder, no permission, a folder of that name.
void CheckPlotPath(const std::string& path);

// The same for a report written as PDF only, given with option (--report): CommandFailure(
// Usage) unless the path ends in .pdf, CommandFailure(Failed) when it cannot
// be written.
void CheckPdfPath(const std::string& option, const std::string& path);

}  // namespace tarnel::cli
