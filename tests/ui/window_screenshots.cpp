// Saves a picture of the main window after a word has been programmed and
// read back, and one of the About dialog, into the folder given.
#include <cstdio>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTimer>

#include "core/main_sequence.h"
#include "double_control.h"
#include "link/board_library.h"
#include "link/comms_functions.h"
#include "link/newer_library_binding.h"
#include "ui/about_form.h"
#include "ui/application_identity.h"
#include "ui/main_form.h"

namespace {

bool Save(QWidget& window, const QDir& folder, const char* name) {
    const QString path = folder.filePath(QString::fromLatin1(name));
    if (window.grab().save(path)) return true;
    std::fprintf(stderr, "cannot write %s; check that the folder is writable\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    QApplication application(argc, argv);
    tarnel::ui::ApplyApplicationIdentity(application);
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "cannot create %s; check the path\n", argv[1]);
        return 1;
    }
    tarnel::testing::DoubleLibrary board(TARNEL_NEWER_DOUBLE);
    tarnel::link::NewerLibraryBinding binding(TARNEL_NEWER_DOUBLE);
    tarnel::link::SetActiveBoardLibrary(&binding);

    tarnel::ui::MainForm form;
    tarnel::Main(form);
    form.DacText->setText(QStringLiteral("20000"));
    form.Command2_Click();
    // The read-back code of 2.465 V, as the board sends it (bit-mirrored bytes).
    board.SetReadBytes(CommsFunctions::ReverseBits(0x08), CommsFunctions::ReverseBits(0x00));
    form.Command1_Click();
    bool saved = Save(form, folder, "main_window.png");

    tarnel::ui::frmAbout about;
    QTimer::singleShot(200, &about, [&] {
        saved = Save(about, folder, "about_dialog.png") && saved;
        about.cmdOK_Click();
    });
    about.exec();
    return saved ? 0 : 1;
}
