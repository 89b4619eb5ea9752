#include "output/chart_page.h"

#include <QApplication>
#include <QCategoryAxis>
#include <QChart>
#include <QGraphicsScene>
#include <QImage>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPdfWriter>
#include <QScatterSeries>
#ifdef TARNEL_PLOT_SVG
#include <QSvgGenerator>
#endif

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "command_line/command_failure.h"
#include "output/axis_ticks.h"
#include "output/plot_file.h"
#include "output/stderr_lines.h"

namespace tarnel::cli {

void RequirePlotSupport() {}

namespace {

// Qt's remarks about the display environment (no runtime folder, a platform
// without window hints) do not concern a picture drawn into a file; only its
// fatal messages pass while the plot is drawn.
void DropRemarks(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) PrintStderrLine("tarnelctl: " + message.toStdString());
}

constexpr int kPageDotsPerInch = kChartDotsPerInch;
constexpr int kHeadingHeight = 56;
// Room around each chart's plot area: the value labels and the axis title on
// the left, the chart's title and legend above, the codes and their title
// below.
constexpr int kPlotLeft = 84;
constexpr int kPlotRight = 48;
constexpr int kPlotTop = 58;
constexpr int kPlotBottom = 56;

// An axis labelled exactly at the scale's ticks, with a grid line at each.
QCategoryAxis* ScaleAxis(const QString& title, const AxisScale& scale) {
    auto* axis = new QCategoryAxis;
    axis->setTitleText(title);
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    // A label sits at its category's end, so the first one ends a sliver
    // below the axis's start.
    const double sliver = (scale.high - scale.low) * 1e-9;
    axis->setRange(scale.low, scale.high);
    axis->setStartValue(scale.low - sliver);
    for (const AxisTick& tick : scale.ticks) axis->append(QString::fromStdString(tick.label), tick.value);
    return axis;
}

void HideFromLegend(QChart& chart, QAbstractSeries* series) {
    for (QLegendMarker* marker : chart.legend()->markers(series)) marker->setVisible(false);
}

QLineSeries* AcrossLine(double y, const AxisScale& x) {
    auto* line = new QLineSeries;
    line->append(x.low, y);
    line->append(x.high, y);
    return line;
}

// One chart, code on x over codes, the series and limits on y.
QChart* Chart(const CodeChart& content, const AxisScale& codes) {
    auto* chart = new QChart;
    chart->setTitle(content.title);
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins(4, 2, 4, 2));
    // The legend above the plot area, off the data.
    chart->legend()->setAlignment(Qt::AlignTop);

    std::vector<double> values;
    for (const CodeSeries& data : content.series) {
        for (const QPointF& point : data.points) values.push_back(point.y());
    }
    if (content.limit) {
        // A little room beyond the limits, so that their lines stay off the frame.
        values.push_back(*content.limit * 1.1);
        values.push_back(-*content.limit * 1.1);
    }
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    const AxisScale scale = values.empty() ? ValueScale(0, 0) : ValueScale(*low, *high);
    QCategoryAxis* x = ScaleAxis("DAC code (data word)", codes);
    QCategoryAxis* y = ScaleAxis(content.yTitle, scale);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    const auto add = [&](QXYSeries* series) {
        chart->addSeries(series);
        series->attachAxis(x);
        series->attachAxis(y);
    };

    if (scale.low < 0 && scale.high > 0) {
        // Zero marked across the chart, darker than the grid.
        QLineSeries* zero = AcrossLine(0, codes);
        zero->setPen(QPen(QColor(90, 90, 90), 1));
        add(zero);
        HideFromLegend(*chart, zero);
    }
    for (const CodeSeries& data : content.series) {
        QXYSeries* one = nullptr;
        if (data.style == CodeSeries::Style::Line) {
            one = new QLineSeries;
        } else {
            auto* points = new QScatterSeries;
            points->setMarkerSize(7);
            points->setBorderColor(Qt::transparent);
            one = points;
        }
        one->setName(data.name);
        one->append(QList<QPointF>(data.points.begin(), data.points.end()));
        add(one);
        if (data.style == CodeSeries::Style::Line) one->setPen(QPen(one->color(), 1.5));
    }
    if (content.limit) {
        const QPen dashed(QColor(200, 0, 0), 1.2, Qt::DashLine);
        QLineSeries* upper = AcrossLine(*content.limit, codes);
        upper->setName(QString("limit ±%1 %2").arg(*content.limit).arg(content.limitUnit));
        upper->setPen(dashed);
        add(upper);
        QLineSeries* lower = AcrossLine(-*content.limit, codes);
        lower->setPen(dashed);
        add(lower);
        HideFromLegend(*chart, lower);
    }
    return chart;
}

// The charts laid out one above the other in a place, each in a scene of its
// own so that it paints onto any device.
class ChartStack {
public:
    ChartStack(const std::vector<CodeChart>& charts, const AxisScale& codes, const QRectF& place) {
        int stretches = 0;
        for (const CodeChart& chart : charts) stretches += std::max(chart.stretch, 1);
        double top = place.top();
        for (const CodeChart& content : charts) {
            auto scene = std::make_unique<QGraphicsScene>();
            QChart* chart = Chart(content, codes);
            scene->addItem(chart);
            const QRectF one(place.left(), top, place.width(), place.height() * std::max(content.stretch, 1) / stretches);
            chart->setGeometry(0, 0, one.width(), one.height());
            // The same plot area in every chart, so that their codes line up.
            chart->setPlotArea(QRectF(kPlotLeft, kPlotTop, one.width() - kPlotLeft - kPlotRight,
                                      one.height() - kPlotTop - kPlotBottom));
            scene->setSceneRect(0, 0, one.width(), one.height());
            top += one.height();
            placed_.push_back({std::move(scene), one});
        }
        // The charts lay themselves out as events.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

    void Paint(QPainter& painter) const {
        for (const Placed& one : placed_) one.scene->render(&painter, one.place, one.scene->sceneRect());
    }

private:
    struct Placed {
        std::unique_ptr<QGraphicsScene> scene;
        QRectF place;
    };
    std::vector<Placed> placed_;
};

// The charts on a page of kPlotWidth x kPlotHeight under the heading.
class ChartPage {
public:
    ChartPage(const PlotCaption& heading, const std::vector<CodeChart>& charts, const AxisScale& codes)
        : heading_(heading), charts_(charts, codes, QRectF(0, kHeadingHeight, kPlotWidth, kPlotHeight - kHeadingHeight)) {}

    void Paint(QPainter& painter) const {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.fillRect(QRectF(0, 0, kPlotWidth, kPlotHeight), Qt::white);
        QFont titleFont = painter.font();
        titleFont.setPointSizeF(13);
        titleFont.setBold(true);
        painter.setFont(titleFont);
        painter.setPen(Qt::black);
        painter.drawText(QRectF(16, 6, kPlotWidth - 32, 26), Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(heading_.title));
        QFont factsFont = titleFont;
        factsFont.setPointSizeF(10);
        factsFont.setBold(false);
        painter.setFont(factsFont);
        painter.drawText(QRectF(16, 30, kPlotWidth - 32, 22), Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(heading_.facts));
        charts_.Paint(painter);
    }

private:
    PlotCaption heading_;
    ChartStack charts_;
};

[[noreturn]] void CannotWrite(const std::string& path) {
    throw CommandFailure(ExitStatus::Failed, "cannot write the plot " + path +
                                                 " — give a --plot path ending in .png, .svg or .pdf in a folder you can write to");
}

void WritePng(const ChartPage& page, const std::string& path) {
    QImage picture(kPlotWidth, kPlotHeight, QImage::Format_RGB32);
    picture.setDotsPerMeterX(static_cast<int>(kPageDotsPerInch / 0.0254));
    picture.setDotsPerMeterY(static_cast<int>(kPageDotsPerInch / 0.0254));
    {
        QPainter painter(&picture);
        page.Paint(painter);
    }
    if (!picture.save(QString::fromStdString(path), "PNG")) CannotWrite(path);
}

void WriteSvg([[maybe_unused]] const ChartPage& page, const std::string& path) {
#ifdef TARNEL_PLOT_SVG
    QSvgGenerator svg;
    svg.setFileName(QString::fromStdString(path));
    svg.setSize(QSize(kPlotWidth, kPlotHeight));
    svg.setViewBox(QRect(0, 0, kPlotWidth, kPlotHeight));
    svg.setResolution(kPageDotsPerInch);
    svg.setTitle("tarnelctl plot");
    QPainter painter;
    if (!painter.begin(&svg)) CannotWrite(path);
    page.Paint(painter);
    if (!painter.end()) CannotWrite(path);
#else
    CannotWrite(path);   // refused before the run by CheckPlotPath
#endif
}

void WritePdf(const ChartPage& page, const std::string& path) {
    QPdfWriter pdf(QString::fromStdString(path));
    pdf.setResolution(kPageDotsPerInch);
    pdf.setPageSize(QPageSize(QSizeF(kPlotWidth * 72.0 / kPageDotsPerInch, kPlotHeight * 72.0 / kPageDotsPerInch),
                              QPageSize::Point));
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    pdf.setCreator("tarnelctl");
    pdf.setTitle("tarnelctl plot");
    QPainter painter;
    if (!painter.begin(&pdf)) CannotWrite(path);
    page.Paint(painter);
    if (!painter.end()) CannotWrite(path);
}

}  // namespace

ChartApplication::ChartApplication() : previousHandler_(qInstallMessageHandler(DropRemarks)) {
    if (QCoreApplication::instance() != nullptr) return;
    // Drawing into a file needs no display.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    application_ = std::make_unique<QApplication>(argc_, argv_);
}

ChartApplication::~ChartApplication() {
    application_.reset();
    qInstallMessageHandler(previousHandler_);
}

void PaintCodeCharts(QPainter& painter, const QRectF& place, const std::vector<CodeChart>& charts,
                     std::uint32_t firstCode, std::uint32_t lastCode, std::uint32_t fullScale) {
    const ChartStack stack(charts, CodeScale(firstCode, lastCode, fullScale), place);
    stack.Paint(painter);
}

void SaveCodeCharts(const PlotCaption& heading, const std::vector<CodeChart>& charts, std::uint32_t firstCode,
                    std::uint32_t lastCode, std::uint32_t fullScale, const std::string& path) {
    const ChartApplication application;
    const ChartPage page(heading, charts, CodeScale(firstCode, lastCode, fullScale));
    switch (PlotFormatOf(path)) {
        case PlotFormat::Png: WritePng(page, path); break;
        case PlotFormat::Svg: WriteSvg(page, path); break;
        case PlotFormat::Pdf: WritePdf(page, path); break;
        case PlotFormat::Unknown: CannotWrite(path);
    }
}

}  // namespace tarnel::cli
