// Saves main_window.png, after the word 20000 has been programmed and read
// back, and about_dialog.png into the folder given.
#include <cstdio>

#include <QApplication>
#include <QDir>
#include <QLineEdit>

#include "core/main_sequence.h"
#include "double_control.h"
#include "link/board_library.h"
#include "link/comms_functions.h"
#include "link/newer_library_binding.h"
#include "ui/about_form.h"
#include "ui/application_identity.h"
#include "ui/main_form.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    QApplication application(argc, argv);
    tarnel::ui::ApplyApplicationIdentity(application);
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
    tarnel::ui::frmAbout about;
    about.show();
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral(".")) || !form.grab().save(folder.filePath(QStringLiteral("main_window.png"))) ||
        !about.grab().save(folder.filePath(QStringLiteral("about_dialog.png")))) {
        std::fprintf(stderr, "cannot write the pictures into %s; check that the folder is writable\n", argv[1]);
        return 1;
    }
    return 0;
}
