// The bold sans-serif font of the windows' controls. Where "MS Sans Serif" is
// not installed, the first installed of a list of sans fonts with close
// metrics (Arial/Helvetica widths) stands in for it.
#pragma once

#include <QFont>

namespace tarnel::ui {

QFont ControlFont(qreal pointSize);

}  // namespace tarnel::ui
