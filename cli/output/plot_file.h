// The plot file every command draws into (--plot): its size, the check of
// its path before the first write, and whether this tarnelctl can draw at all.
#pragma once

#include <string>

namespace tarnel::cli {

inline constexpr int kPlotWidth = 1200;
inline constexpr int kPlotHeight = 900;

// Throws CommandFailure(Failed), naming the package to build with, when this
// tarnelctl was built without Qt Charts and so cannot draw.
void RequirePlotSupport();

// Throws CommandFailure(Failed) when path cannot be written as the plot: a
// missing folder, no permission, a folder of that name.
void CheckPlotPath(const std::string& path);

}  // namespace tarnel::cli
