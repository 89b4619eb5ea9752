// Ends the program the way an operator does, in a process of its own, since
// the end is immediate: "menu-keys" presses Alt+F then X, "close-box" closes
// the main window. Exits 0 only through the program's own end; 3 when the
// program failed to end.
#include <cstdio>
#include <cstring>

#include <QApplication>
#include <QTest>
#include <QTimer>

#include "core/main_sequence.h"
#include "double_control.h"
#include "link/board_library.h"
#include "link/newer_library_binding.h"
#include "ui/application_identity.h"
#include "ui/main_form.h"

namespace {

constexpr int kGiveUpMilliseconds = 10000;

void PressMenuKeys() {
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_F, Qt::AltModifier);
    QTimer::singleShot(100, [] { QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_X); });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || (std::strcmp(argv[1], "menu-keys") != 0 && std::strcmp(argv[1], "close-box") != 0)) {
        std::fprintf(stderr, "usage: ui_program_end_driver menu-keys|close-box\n");
        return 2;
    }
    const bool byMenu = std::strcmp(argv[1], "menu-keys") == 0;
    QApplication application(argc, argv);
    tarnel::ui::ApplyApplicationIdentity(application);
    tarnel::testing::DoubleLibrary board(TARNEL_NEWER_DOUBLE);
    tarnel::link::NewerLibraryBinding binding(TARNEL_NEWER_DOUBLE);
    tarnel::link::SetActiveBoardLibrary(&binding);

    tarnel::ui::MainForm form;
    tarnel::Main(form);
    if (!QTest::qWaitForWindowActive(&form)) {
        std::fprintf(stderr, "the main window did not become active\n");
        return 3;
    }
    if (byMenu) {
        PressMenuKeys();
    } else {
        QTimer::singleShot(0, &form, [&form] { form.close(); });
    }
    QTimer::singleShot(kGiveUpMilliseconds, [] {
        std::fprintf(stderr, "the program did not end\n");
        QCoreApplication::exit(3);
    });
    QApplication::exec();
    std::fprintf(stderr, "the event loop returned instead of the program ending\n");
    return 3;
}
