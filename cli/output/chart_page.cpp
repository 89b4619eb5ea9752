#include "output/chart_page.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QPixmap>
#include <QScatterSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "command_line/command_failure.h"
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

// The Qt application the charts need, made here when the process has none.
class ChartApplication {
public:
    ChartApplication() : previousHandler_(qInstallMessageHandler(DropRemarks)) {
        if (QCoreApplication::instance() != nullptr) return;
        // Drawing into a file needs no display.
        if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        application_ = std::make_unique<QApplication>(argc_, argv_);
    }
    ~ChartApplication() {
        application_.reset();
        qInstallMessageHandler(previousHandler_);
    }
    ChartApplication(const ChartApplication&) = delete;
    ChartApplication& operator=(const ChartApplication&) = delete;

private:
    QtMessageHandler previousHandler_;
    int argc_ = 1;
    char name_[10] = "tarnelctl";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

QValueAxis* Axis(const QString& title, const char* labelFormat) {
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setLabelFormat(labelFormat);
    return axis;
}

// A chart with code on x, the given series on y, both axes attached.
QChartView* Chart(const CodeChart& content, double firstCode, double lastCode) {
    auto* chart = new QChart;
    chart->setTitle(content.title);
    QValueAxis* x = Axis("DAC code (data word, decimal)", "%d");
    x->setRange(firstCode, lastCode);
    QValueAxis* y = Axis(content.yTitle, "%.3g");
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    double low = 0;
    double high = 0;
    bool first = true;
    for (const CodeSeries& data : content.series) {
        QXYSeries* one = nullptr;
        if (data.style == CodeSeries::Style::Line) {
            one = new QLineSeries;
        } else {
            auto* points = new QScatterSeries;
            points->setMarkerSize(9);
            one = points;
        }
        one->setName(data.name);
        one->append(QList<QPointF>(data.points.begin(), data.points.end()));
        chart->addSeries(one);
        one->attachAxis(x);
        one->attachAxis(y);
        for (const QPointF& point : data.points) {
            low = first ? point.y() : std::min(low, point.y());
            high = first ? point.y() : std::max(high, point.y());
            first = false;
        }
    }
    const double margin = std::max((high - low) * 0.05, 1e-3);
    y->setRange(low - margin, high + margin);
    chart->legend()->setAlignment(Qt::AlignBottom);
    auto* view = new QChartView(chart);
    view->setRenderHint(QPainter::Antialiasing);
    return view;
}

}  // namespace

void SaveCodeCharts(const std::vector<CodeChart>& charts, double firstCode, double lastCode, const std::string& path) {
    const ChartApplication application;
    if (firstCode > lastCode) std::swap(firstCode, lastCode);
    if (firstCode == lastCode) lastCode = firstCode + 1;
    QWidget page;
    page.setAttribute(Qt::WA_DontShowOnScreen);
    page.setStyleSheet("background: white");
    auto* layout = new QVBoxLayout(&page);
    for (const CodeChart& chart : charts) layout->addWidget(Chart(chart, firstCode, lastCode), chart.stretch);
    page.resize(kPlotWidth, kPlotHeight);
    page.show();
    const QPixmap picture = page.grab();
    if (!picture.save(QString::fromStdString(path), "PNG")) {
        throw CommandFailure(ExitStatus::Failed,
                             "cannot write the plot " + path + " — give a --plot path ending in .png in a folder you can write to");
    }
}

}  // namespace tarnel::cli
