#include "ui/twips.h"

#include <QGuiApplication>
#include <QScreen>

namespace tarnel::ui {

namespace {

// Used only when no screen is known (no application object yet).
constexpr double kFallbackDotsPerInch = 96.0;

// twips along one axis of the primary screen, in pixels.
int Convert(int twips, qreal (QScreen::*dotsPerInch)() const) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen != nullptr ? (screen->*dotsPerInch)() : kFallbackDotsPerInch;
    return qRound(twips * dpi / kTwipsPerInch);
}

}  // namespace

int TwipsToPixelsX(int twips) { return Convert(twips, &QScreen::logicalDotsPerInchX); }
int TwipsToPixelsY(int twips) { return Convert(twips, &QScreen::logicalDotsPerInchY); }

QPoint TwipPoint(int left, int top) { return {TwipsToPixelsX(left), TwipsToPixelsY(top)}; }
QSize TwipSize(int width, int height) { return {TwipsToPixelsX(width), TwipsToPixelsY(height)}; }
QRect TwipRect(int left, int top, int width, int height) {
    return {TwipPoint(left, top), TwipSize(width, height)};
}

}  // namespace tarnel::ui
