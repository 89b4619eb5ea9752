// Charts against the DAC code (the sweep's, characterize's) drawn with Qt
// Charts one above the other under a heading, on a white page of kPlotWidth x
// kPlotHeight pixels, written as PNG, SVG or PDF by the file's extension (SVG
// and PDF as vectors). It needs no display: without a platform chosen
// (QT_QPA_PLATFORM) it draws offscreen.
// Built only with Qt Charts.
#pragma once

#include <QPointF>
#include <QRectF>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "output/plot_title.h"

class QApplication;
class QPainter;

namespace tarnel::cli {

// The logical resolution charts are laid out in: the offscreen screen's, so
// that text sized in points takes the room in SVG and PDF that the charts'
// layout gave it.
inline constexpr int kChartDotsPerInch = 96;

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

// The Qt application charts need, made for as long as this lives when the
// process has none (offscreen unless QT_QPA_PLATFORM says otherwise), with
// Qt's remarks about the display environment kept off stderr.
class ChartApplication {
public:
    ChartApplication();
    ~ChartApplication();
    ChartApplication(const ChartApplication&) = delete;
    ChartApplication& operator=(const ChartApplication&) = delete;

private:
    QtMessageHandler previousHandler_;
    int argc_ = 1;
    char name_[10] = "tarnelctl";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

// Paints the charts one above the other into place (in the painter's logical
// units, kChartDotsPerInch to the inch), each its share of the height by its
// stretch, code on x from firstCode to lastCode. The plot page and the
// characterisation report both draw their charts with it; a ChartApplication
// must live while it runs.
void PaintCodeCharts(QPainter& painter, const QRectF& place, const std::vector<CodeChart>& charts,
                     std::uint32_t firstCode, std::uint32_t lastCode, std::uint32_t fullScale);

// Draws the charts, code on x from firstCode to lastCode (of a DAC whose full
// scale is fullScale), and writes the file; a file that cannot be written
// throws CommandFailure(Failed).
void SaveCodeCharts(const PlotCaption& heading, const std::vector<CodeChart>& charts, std::uint32_t firstCode,
                    std::uint32_t lastCode, std::uint32_t fullScale, const std::string& path);

}  // namespace tarnel::cli
