#include "modal_answerer.h"

#include <QAbstractButton>
#include <QApplication>

namespace tarnel::testing {

namespace {
constexpr int kPollMilliseconds = 5;
constexpr int kActivationPolls = 100;   // answer an inactive modal after half a second
}  // namespace

ModalAnswerer::ModalAnswerer(Answer answer) : answer_(std::move(answer)) {
    connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::Poll);
    timer_.start(kPollMilliseconds);
}

void ModalAnswerer::CloseIt(QWidget* modal) {
    if (auto* box = qobject_cast<QMessageBox*>(modal); box != nullptr && box->button(QMessageBox::Ok) != nullptr) {
        box->button(QMessageBox::Ok)->click();
        return;
    }
    modal->close();
}

void ModalAnswerer::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == answered_.data() || !modal->isVisible()) {
        waitedForActivation_ = 0;
        return;
    }
    if (QApplication::activeWindow() != modal && ++waitedForActivation_ < kActivationPolls) return;
    waitedForActivation_ = 0;

    ModalSeen seen;
    seen.objectName = modal->objectName();
    seen.title = modal->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
    }
    seen_.push_back(seen);
    answered_ = modal;
    if (inspector_) inspector_(modal);
    answer_(modal);
}

}  // namespace tarnel::testing
