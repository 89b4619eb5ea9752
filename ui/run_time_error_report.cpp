#include "ui/run_time_error_report.h"

#include <cstdio>

#include <QApplication>

#include "state/program_end.h"
#include "ui/message_box.h"

namespace tarnel::ui {

void ReportRunTimeErrorAndEnd(const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    std::fflush(stderr);
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        ShowMessageBox(QMessageBox::Critical, QString::fromUtf8(error.what()));
    }
    EndProgram(kExitRunTimeError);
}

}  // namespace tarnel::ui
