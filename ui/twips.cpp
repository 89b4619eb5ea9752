#include "twips.h"

#include <QGuiApplication>
#include <QScreen>

namespace tarnel::ui {

namespace {

// Used only when no screen is known (no application object yet).
constexpr double kFallbackDotsPerInch = 96.0;

double LogicalDotsPerInchX() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->logicalDotsPerInchX() : kFallbackDotsPerInch;
}

double LogicalDotsPerInchY() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->logicalDotsPerInchY() : kFallbackDotsPerInch;
}

int Convert(int twips, double dotsPerInch) { return qRound(twips * dotsPerInch / kTwipsPerInch); }

}  // namespace

int TwipsToPixelsX(int twips) { return Convert(twips, LogicalDotsPerInchX()); }
int TwipsToPixelsY(int twips) { return Convert(twips, LogicalDotsPerInchY()); }

QPoint TwipPoint(int left, int top) { return {TwipsToPixelsX(left), TwipsToPixelsY(top)}; }
QSize TwipSize(int width, int height) { return {TwipsToPixelsX(width), TwipsToPixelsY(height)}; }
QRect TwipRect(int left, int top, int width, int height) {
    return {TwipPoint(left, top), TwipSize(width, height)};
}

}  // namespace tarnel::ui
