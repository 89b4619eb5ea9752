// Answers the modal windows a test opens: each modal window that becomes
// active is recorded, then answered (by default with OK or its close box).
// The answerer polls from the event loop, so it also runs inside exec().
#pragma once

#include <functional>
#include <vector>

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

namespace tarnel::testing {

struct ModalSeen {
    QString objectName;
    QString title;
    QString text;                        // a message box's text
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

class ModalAnswerer : public QObject {
public:
    using Answer = std::function<void(QWidget* modal)>;

    // Starts polling; every modal window is answered with `answer`.
    explicit ModalAnswerer(Answer answer = CloseIt);

    void SetAnswer(Answer answer) { answer_ = std::move(answer); }
    // Called with each modal window before it is answered.
    void SetInspector(Answer inspector) { inspector_ = std::move(inspector); }
    void Clear() { seen_.clear(); }
    const std::vector<ModalSeen>& Seen() const { return seen_; }

    // Clicks a message box's OK button, or closes any other window.
    static void CloseIt(QWidget* modal);

private:
    void Poll();

    Answer answer_;
    Answer inspector_;
    std::vector<ModalSeen> seen_;
    QPointer<QWidget> answered_;
    QTimer timer_;
    int waitedForActivation_ = 0;
};

}  // namespace tarnel::testing
