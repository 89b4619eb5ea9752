// Window geometry is laid out in twips (1/1440 inch). These functions turn
// twips into device-independent pixels with the screen's logical DPI, so the
// windows keep their physical proportions on every screen (15 twips per pixel
// at 96 DPI).
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace tarnel::ui {

inline constexpr int kTwipsPerInch = 1440;

int TwipsToPixelsX(int twips);
int TwipsToPixelsY(int twips);

QPoint TwipPoint(int left, int top);
QSize TwipSize(int width, int height);
QRect TwipRect(int left, int top, int width, int height);

}  // namespace tarnel::ui
