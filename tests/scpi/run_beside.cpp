#include "run_beside.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

namespace tarnel::scpi {

void EnsureApplication() {
    static int argc = 1;
    static char name[] = "scpi_server_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

bool RunBeside(const std::function<void()>& driver) {
    EnsureApplication();
    std::atomic<bool> done = false;
    std::thread thread([&] {
        driver();
        done = true;
        QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [] { QCoreApplication::quit(); });
    bound.start(std::chrono::minutes(1));
    QCoreApplication::exec();
    const bool finished = done;
    thread.join();
    return finished;
}

}  // namespace tarnel::scpi
