// Charts against the DAC code (the sweep's, characterize's) drawn with Qt
// Charts into a PNG, one above the other on a white page of kPlotWidth x
// kPlotHeight pixels. It needs no display: without a platform chosen
// (QT_QPA_PLATFORM) it draws offscreen.
// Built only with Qt Charts.
#pragma once

#include <QPointF>
#include <QString>

#include <string>
#include <vector>

namespace tarnel::cli {

struct CodeSeries {
    QString name;
    enum class Style { Line, Points } style = Style::Line;
    std::vector<QPointF> points;   // (code, value)
};

struct CodeChart {
    QString title;
    QString yTitle;
    std::vector<CodeSeries> series;
    int stretch = 1;   // share of the page's height
};

// Draws the charts, code on x from firstCode to lastCode, and saves the PNG;
// a file that cannot be written throws CommandFailure(Failed).
void SaveCodeCharts(const std::vector<CodeChart>& charts, double firstCode, double lastCode, const std::string& path);

}  // namespace tarnel::cli
