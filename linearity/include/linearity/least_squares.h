// Linear least squares by Householder QR, for the handful of unknowns of a
// linearity fit: the x that minimises |A·x − b|. Orthogonal transformations
// keep the conditioning of A itself (normal equations would square it).
#pragma once

#include <optional>
#include <vector>

namespace tarnel::linearity {

// A has one row per measurement, each with the same number of columns (the
// unknowns), at least as many rows as columns. Empty when A is not of full
// column rank (some unknown is not determined by the rows) or its sizes do not fit.
std::optional<std::vector<double>> SolveLeastSquares(std::vector<std::vector<double>> a, std::vector<double> b);

}  // namespace tarnel::linearity
