// Ends the program the way an operator does, in a process of its own since
// the end is immediate: "menu-keys" presses Alt+F then X, "close-box" closes
// the main window. Exits 0 only through the program's own end, else 3.
#include <cstdio>
#include <string_view>

#include <QApplication>
#include <QMenu>
#include <QTest>

#include "core/main_sequence.h"
#include "link/board_library.h"
#include "link/newer_library_binding.h"
#include "ui/application_identity.h"
#include "ui/main_form.h"

namespace {
constexpr int kEndDeadlineMs = 5000;
}  // namespace

int main(int argc, char** argv) {
    const std::string_view route = argc == 2 ? argv[1] : "";
    if (route != "menu-keys" && route != "close-box") {
        std::fprintf(stderr, "usage: ui_program_end_driver menu-keys|close-box\n");
        return 2;
    }
    QApplication application(argc, argv);
    tarnel::ui::ApplyApplicationIdentity(application);
    tarnel::link::NewerLibraryBinding binding(TARNEL_NEWER_DOUBLE);
    tarnel::link::SetActiveBoardLibrary(&binding);
    tarnel::ui::MainForm form;
    tarnel::Main(form);
    if (QTest::qWaitForWindowActive(&form) && route == "close-box") form.close();
    if (QApplication::activeWindow() == &form && route == "menu-keys") {
        QTest::keyClick(&form, Qt::Key_F, Qt::AltModifier);
        if (QTest::qWaitFor([&] { return QApplication::activePopupWidget() == form.MnuFile; })) {
            QTest::keyClick(form.MnuFile, Qt::Key_X);
        }
        // The program ends while events are handled here; coming back from the wait is the failure.
        QTest::qWait(kEndDeadlineMs);
    }
    std::fprintf(stderr, "the program did not end by the %s; see the messages above\n", argv[1]);
    return 3;
}
