// The About dialog: program title, running version, the maker's notice.
// Created for each opening and destroyed when it closes.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace tarnel::ui {

class frmAbout final : public QDialog {
    Q_OBJECT

public:
    explicit frmAbout(QWidget* parent = nullptr);

    // Sets the version line from the running build's version record.
    void Form_Load();
    // OK, Enter (default button), Esc (cancel button): closes the dialog.
    void cmdOK_Click();

    QLabel* picIcon;
    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblDescription;
    QLabel* Label1;
    QPushButton* cmdOK;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace tarnel::ui
