// Charts against the DAC code (the sweep's, characterize's) drawn with Qt
// Charts one above the other under a heading, on a white page of kPlotWidth x
// kPlotHeight pixels, written as PNG, SVG or PDF by the file's extension (SVG
// and PDF as vectors). It needs no display: without a platform chosen
// (QT_QPA_PLATFORM) it draws offscreen.
// Built only with Qt Charts.
#pragma once

#include <QPointF>
#include <QString>

#include <optional>
#include <string>
#include <vector>

#include "output/plot_title.h"

namespace tarnel::cli {

struct CodeSeries {
    QString name;
    // Measured values are Points; only what holds at every code between
    // (a prediction, a fit, the ideal) is a Line.
    enum class Style { Line, Points } style = Style::Line;
    std::vector<QPointF> points;   // (code, value)
};

struct CodeChart {
    QString title;
    QString yTitle;
    std::vector<CodeSeries> series;
    std::optional<double> limit;   // drawn as lines at +limit and -limit
    QString limitUnit;             // in the limit's legend entry: "LSB"
    int stretch = 1;               // share of the page's height
};

// Draws the charts, code on x from firstCode to lastCode (of a DAC whose full
// scale is fullScale), and writes the file; a file that cannot be written
// throws CommandFailure(Failed).
void SaveCodeCharts(const PlotCaption& heading, const std::vector<CodeChart>& charts, std::uint32_t firstCode,
                    std::uint32_t lastCode, std::uint32_t fullScale, const std::string& path);

}  // namespace tarnel::cli
