// What the program is called on screen and the icon its windows carry.
#pragma once

#include <QIcon>
#include <QString>

class QApplication;

namespace tarnel::ui {

// The main window's caption; also the title of message boxes that have no
// caption of their own.
QString ApplicationTitle();

// The 32 x 32 icon of the main window and the About dialog.
QIcon ApplicationIcon();

// Names the application after the running build and gives it its title and
// icon.
void ApplyApplicationIdentity(QApplication& application);

}  // namespace tarnel::ui
