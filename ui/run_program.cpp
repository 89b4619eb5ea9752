#include "ui/run_program.h"

#include <exception>

#include <QApplication>

#include "core/main_sequence.h"
#include "ui/application_identity.h"
#include "ui/main_form.h"
#include "ui/run_time_error_report.h"

namespace tarnel::ui {

int RunProgram(int argc, char** argv, link::BoardLibrary& library) {
    QApplication application(argc, argv);
    ApplyApplicationIdentity(application);
    link::SetActiveBoardLibrary(&library);
    MainForm form;
    try {
        Main(form);
    } catch (const std::exception& error) {
        ReportRunTimeErrorAndEnd(error);
    }
    return QApplication::exec();
}

}  // namespace tarnel::ui
