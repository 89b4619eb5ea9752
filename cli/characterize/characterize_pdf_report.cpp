#include "characterize/characterize_pdf_report.h"

#include <QFont>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <cstdio>
#include <optional>

#include "characterize/characterize_plot.h"
#include "command_line/command_failure.h"
#include "output/chart_page.h"
#include "output/number_format.h"

namespace tarnel::cli {

namespace {

// A4 in the charts' logical units (kChartDotsPerInch): 794 x 1123.
constexpr double kPageWidth = 210 / 25.4 * kChartDotsPerInch;
constexpr double kPageHeight = 297 / 25.4 * kChartDotsPerInch;
constexpr double kMargin = 40;
constexpr double kLineHeight = 14;
constexpr double kBodyPoints = 8;
// The figures table's columns: the figure, its value, its limit, the verdict.
constexpr double kValueColumn = 150;
constexpr double kLimitColumn = 500;
constexpr double kResultColumn = 630;

std::string Signed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%+.*f", decimals, value);
    return text;
}

// ", u 0.027 LSB" where the uncertainty is known.
std::string UText(const std::optional<double>& u, int decimals, const std::string& unit) {
    return u ? ", u " + FixedText(*u, decimals) + " " + unit : "";
}

std::string WorstText(const std::optional<WorstAtCode>& worst) {
    if (!worst) return "not measured";
    return Signed(worst->value, 3) + " LSB at code " + WordText(worst->code) + UText(worst->u, 3, "LSB");
}

std::string EndText(CharacterizeEnd end) {
    switch (end) {
    case CharacterizeEnd::Completed: return "completed";
    case CharacterizeEnd::Stopped: return "interrupted";
    case CharacterizeEnd::BoardFailed: return "board lost (transfer failed)";
    case CharacterizeEnd::MeterFailed: return "meter failed";
    }
    return "completed";
}

// A limit's cell and its verdict: PASS, FAIL or TOO CLOSE (within twice the
// figure's uncertainty of the limit).
struct LimitCells {
    std::string limit;
    std::string result;
};

LimitCells LimitOf(const std::optional<double>& limit, const std::string& name, const std::string& unit,
                   const std::vector<LimitJudgement>& judged) {
    if (!limit) return {};
    LimitVerdict verdict = LimitVerdict::Fail;
    for (const LimitJudgement& one : judged) {
        if (one.name == name) verdict = one.verdict;
    }
    return {name + " " + FixedText(*limit, 4) + " " + unit, VerdictName(verdict)};
}

// Lines of text down the page, from the top margin.
class PageText {
public:
    explicit PageText(QPainter& painter) : painter_(painter) {}

    double Top() const { return top_; }
    void Skip(double height) { top_ += height; }

    void Title(const std::string& text, double points) {
        SetFont(points, true);
        const double height = points * 2;
        painter_.drawText(QRectF(kMargin, top_, kPageWidth - 2 * kMargin, height), Qt::AlignLeft | Qt::AlignVCenter,
                          QString::fromStdString(text));
        top_ += height;
    }

    // A row of cells at the given columns, in bold when a heading.
    void Row(const std::vector<std::pair<double, std::string>>& cells, bool bold = false) {
        SetFont(kBodyPoints, bold);
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const double left = kMargin + cells[i].first;
            const double right = i + 1 < cells.size() ? kMargin + cells[i + 1].first : kPageWidth - kMargin;
            painter_.drawText(QRectF(left, top_, right - left - 6, kLineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                              QString::fromStdString(cells[i].second));
        }
        top_ += kLineHeight;
    }

    void Fact(const std::string& name, const std::string& value) { Row({{0, name}, {kValueColumn - 50, value}}); }

    void Rule() {
        painter_.setPen(QPen(QColor(150, 150, 150), 0.8));
        painter_.drawLine(QPointF(kMargin, top_ + 3), QPointF(kPageWidth - kMargin, top_ + 3));
        painter_.setPen(Qt::black);
        top_ += 8;
    }

private:
    void SetFont(double points, bool bold) {
        QFont font = painter_.font();
        font.setPointSizeF(points);
        font.setBold(bold);
        painter_.setFont(font);
    }

    QPainter& painter_;
    double top_ = kMargin;
};

void RunFacts(PageText& page, const ReportHeading& heading, const CharacterizeRunFacts& facts,
              const CharacterizeFigures& figures) {
    const CharacterizeCommand& command = *facts.command;
    page.Fact("DAC board", heading.board + ", firmware " + (facts.firmwareLoaded ? "loaded by this run" : "already running"));
    page.Fact("program", std::string("tarnelctl ") + TARNEL_CLI_VERSION);
    page.Fact("meter", facts.meterIdentity.empty() ? "identity unknown" : facts.meterIdentity);
    page.Fact("meter resource", facts.meterResource);
    for (const auto& [name, value] : facts.meterConnection) page.Fact(name, value);
    const std::string settle =
        command.settle.automatic ? "settle auto (longest " + FixedText(figures.settling.longestMs, 1) + " ms, at most " +
                                       FixedText(command.settle.maxMs, 0) + " ms)"
                                 : "settle " + FixedText(command.settleMs, 1) + " ms";
    page.Fact("meter settings", "NPLC " + FixedText(command.nplc, 2) + ", " + std::to_string(command.averaged) +
                                    " reading(s) a code, " + settle);
    page.Fact("codes", command.codes.text + ": " + std::to_string(figures.points) + " of " +
                           std::to_string(facts.planned) + " measured" +
                           (command.repeats >= 2 ? ", " + std::to_string(command.repeats) + " passes" : ""));
    if (!figures.settling.unsettledCodes.empty()) {
        std::string codes;
        for (const std::uint32_t code : figures.settling.unsettledCodes) codes += (codes.empty() ? "" : " ") + WordText(code);
        page.Fact("not settled", codes);
    }
    if (figures.drift) {
        const DriftFound& drift = *figures.drift;
        page.Fact("drift", Signed(drift.offsetUvPerMinute, 3) + " uV/min, gain " + Signed(drift.gainPpmPerMinute, 4) +
                               " ppm/min (" + std::to_string(drift.references) + " reference pairs over " +
                               FixedText(drift.spanMinutes, 2) + " min)");
    }
    page.Fact("run", EndText(facts.end) + (heading.endReason.empty() ? "" : ": " + heading.endReason));
    page.Fact("parked", facts.parkedAt ? "DAC at " + WordText(*facts.parkedAt) : std::string("no"));
}

void FiguresTable(PageText& page, const CharacterizeRunFacts& facts, const CharacterizeFigures& figures) {
    const LinearityLimits& limits = facts.command->limits;
    const std::vector<std::string>& failed = facts.failedLimits;
    const std::vector<LimitJudgement>& judged = facts.limitJudgements;
    const auto row = [&](const std::string& name, const std::string& value, const LimitCells& limit = {}) {
        page.Row({{0, name}, {kValueColumn, value}, {kLimitColumn, limit.limit}, {kResultColumn, limit.result}});
    };
    page.Row({{0, "figure"}, {kValueColumn, "value"}, {kLimitColumn, "limit"}, {kResultColumn, "result"}}, true);
    row("offset",
        figures.offsetUv ? FixedText(*figures.offsetUv, 2) + " uV (" + Signed(*figures.offsetLsb, 3) + " LSB)" +
                               UText(figures.offsetUvU, 2, "uV")
                         : "not measured",
        LimitOf(limits.offsetMv, "offset_mv", "mV", judged));
    row("gain error",
        figures.gainPpm ? Signed(*figures.gainPpm, 2) + " ppm (" + Signed(*figures.gainPercentFsr, 5) + " % FSR)" +
                              UText(figures.gainPpmU, 2, "ppm")
                        : "not measured",
        LimitOf(limits.gainPercent, "gain_pct", "% FSR", judged));
    if (figures.measuredLsbUv) {
        row("measured LSB", FixedText(*figures.measuredLsbUv, 5) + " uV, end points " +
                                WordText(figures.endPointCodes.first) + " and " + WordText(figures.endPointCodes.second));
    }
    row("INL end-point", WorstText(figures.inlEndPointLsb), LimitOf(limits.inlLsb, "inl", "LSB", judged));
    row("INL best-fit", WorstText(figures.inlBestFitLsb));
    row("DNL", WorstText(figures.dnlLsb), LimitOf(limits.dnlLsb, "dnl", "LSB", judged));
    row("monotonic", figures.monotonic ? (*figures.monotonic ? "yes" : "no") : "not measured");
    row("noise", figures.noiseUv ? FixedText(*figures.noiseUv, 3) + " uV rms" : "not measured (--avg 2 or more)");
    if (figures.bits) {
        row("predicted INL", WorstText(figures.bits->inlLsb) + " (end-point, all codes)");
        row("superposition", WorstText(figures.bits->superpositionLsb) + " (measured - predicted)");
    }
    if (limits.Any()) {
        std::string list;
        for (const std::string& one : failed) list += (list.empty() ? "" : "; ") + one;
        page.Row({{0, "limits"}, {kValueColumn, failed.empty() ? "PASS" : "FAIL: " + list}}, true);
    }
}

// Six to a row: "bit 0  1.0001".
void BitWeights(PageText& page, const BitsPrediction& bits) {
    page.Row({{0, "bit weights (LSB)"}}, true);
    constexpr std::size_t kPerRow = 6;
    constexpr double kCellWidth = (kPageWidth - 2 * kMargin) / kPerRow;
    for (std::size_t first = 0; first < bits.weightLsb.size(); first += kPerRow) {
        std::vector<std::pair<double, std::string>> cells;
        for (std::size_t i = first; i < std::min(first + kPerRow, bits.weightLsb.size()); ++i) {
            cells.emplace_back((i - first) * kCellWidth, "bit " + std::to_string(i) + "  " + FixedText(bits.weightLsb[i], 4));
        }
        page.Row(cells);
    }
}

[[noreturn]] void CannotWrite(const std::string& path) {
    throw CommandFailure(ExitStatus::Failed,
                         "cannot write the report " + path + " — give a --report path ending in .pdf in a folder you can write to");
}

}  // namespace

void WriteCharacterizeReport(const ReportHeading& heading, const CharacterizeRunFacts& facts,
                             const CharacterizeFigures& figures, const std::vector<CharacterizePoint>& points,
                             const std::string& path) {
    const ChartApplication application;
    QPdfWriter pdf(QString::fromStdString(path));
    pdf.setResolution(kChartDotsPerInch);
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    pdf.setCreator("tarnelctl");
    pdf.setTitle("DAC characterisation report");
    QPainter painter;
    if (!painter.begin(&pdf)) CannotWrite(path);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(Qt::black);

    PageText page(painter);
    page.Title("DAC characterisation report", 14);
    page.Row({{0, heading.date}});
    page.Rule();
    RunFacts(page, heading, facts, figures);
    page.Rule();
    FiguresTable(page, facts, figures);
    if (figures.bits) {
        page.Skip(4);
        BitWeights(page, *figures.bits);
    }
    page.Rule();
    if (points.empty()) {
        page.Row({{0, "No code was measured: nothing to plot."}});
    } else {
        const CharacterizeCharts charts = ChartsOfCharacterization(points, figures, facts.command->limits);
        const QRectF place(kMargin - 20, page.Top(), kPageWidth - 2 * kMargin + 40, kPageHeight - kMargin / 2 - page.Top());
        PaintCodeCharts(painter, place, charts.charts, charts.firstCode, charts.lastCode, protocol::kDataMask);
    }
    if (!painter.end()) CannotWrite(path);
}

}  // namespace tarnel::cli
