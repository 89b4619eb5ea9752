#include "linearity/least_squares.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace tarnel::linearity {

namespace {

// A column whose remaining part is this small against the largest column
// adds nothing the earlier columns did not already give.
constexpr double kRankTolerance = 1e-10;

}  // namespace

std::optional<std::vector<double>> SolveLeastSquares(std::vector<std::vector<double>> a, std::vector<double> b) {
    const std::size_t rows = a.size();
    if (rows == 0 || b.size() != rows) return std::nullopt;
    const std::size_t columns = a.front().size();
    if (columns == 0 || rows < columns) return std::nullopt;
    if (std::any_of(a.begin(), a.end(), [&](const auto& row) { return row.size() != columns; })) return std::nullopt;

    double largestColumn = 0;
    for (std::size_t c = 0; c < columns; ++c) {
        double squares = 0;
        for (std::size_t r = 0; r < rows; ++r) squares += a[r][c] * a[r][c];
        largestColumn = std::max(largestColumn, std::sqrt(squares));
    }
    if (!(largestColumn > 0) || !std::isfinite(largestColumn)) return std::nullopt;

    // Reflect column j below the diagonal onto the diagonal, for each column in turn.
    std::vector<double> v(rows);
    for (std::size_t j = 0; j < columns; ++j) {
        double squares = 0;
        for (std::size_t r = j; r < rows; ++r) squares += a[r][j] * a[r][j];
        const double norm = std::sqrt(squares);
        if (norm <= kRankTolerance * largestColumn) return std::nullopt;
        const double alpha = a[j][j] > 0 ? -norm : norm;   // the sign that avoids cancellation
        for (std::size_t r = j; r < rows; ++r) v[r] = a[r][j];
        v[j] -= alpha;
        double vSquares = 0;
        for (std::size_t r = j; r < rows; ++r) vSquares += v[r] * v[r];
        auto reflect = [&](auto&& element) {
            double dot = 0;
            for (std::size_t r = j; r < rows; ++r) dot += v[r] * element(r);
            const double factor = 2 * dot / vSquares;
            for (std::size_t r = j; r < rows; ++r) element(r) -= factor * v[r];
        };
        for (std::size_t c = j; c < columns; ++c) reflect([&](std::size_t r) -> double& { return a[r][c]; });
        reflect([&](std::size_t r) -> double& { return b[r]; });
    }

    // R·x = (Qᵀ·b), R upper triangular in the first rows.
    std::vector<double> x(columns);
    for (std::size_t j = columns; j-- > 0;) {
        double sum = b[j];
        for (std::size_t c = j + 1; c < columns; ++c) sum -= a[j][c] * x[c];
        x[j] = sum / a[j][j];
    }
    if (!std::all_of(x.begin(), x.end(), [](double value) { return std::isfinite(value); })) return std::nullopt;
    return x;
}

}  // namespace tarnel::linearity
