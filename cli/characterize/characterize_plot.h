// A characterisation as a picture: INL against the code (end-point and
// best-fit lines through the measured codes; with the bits set, the curve
// superposition predicts over every code beside them) above, DNL below, both
// in LSB (see SaveCodeCharts for the page).
#pragma once

#include <string>
#include <vector>

#include "characterize/characterize_figures.h"
#include "characterize/characterize_point.h"

namespace tarnel::cli {

// Throws CommandFailure(Failed) when this tarnelctl cannot draw, or the file
// cannot be written.
void DrawCharacterizePlot(const std::vector<CharacterizePoint>& points, const CharacterizeFigures& figures,
                          const std::string& path, const std::string& title);

}  // namespace tarnel::cli
