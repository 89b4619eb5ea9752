#include "ui/about_form.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "ui/application_identity.h"
#include "ui/control_font.h"
#include "core/version_record.h"
#include "ui/twips.h"
#include "ui/version_text.h"

namespace tarnel::ui {

namespace {

constexpr int kClientWidthTwips = 5730;
constexpr int kClientHeightTwips = 3090;
constexpr qreal kLabelPoints = 8.25;
constexpr int kIconPixels = 32;

// A word joiner between each pair of characters: the label may wrap before
// the text, never inside it (a web address would otherwise break after "//").
QString Unbreakable(const QString& text) {
    constexpr QChar kWordJoiner(0x2060);
    QString joined;
    for (const QChar character : text) {
        if (!joined.isEmpty()) joined += kWordJoiner;
        joined += character;
    }
    return joined;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry, bool black) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setFont(ControlFont(kLabelPoints));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (black) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(palette);
    }
    return label;
}

// One line of the etched separator: a horizontal line from (left, top) to
// (right, top), penWidth twips-converted pixels thick. The two lines form the
// control array Line1, told apart by their "Index" property.
void AddLine(QWidget* parent, int index, int leftTwips, int rightTwips, int topTwips, int penPixels,
             const QColor& colour) {
    auto* line = new QWidget(parent);
    line->setObjectName(QStringLiteral("Line1"));
    line->setProperty("Index", index);
    const int left = TwipsToPixelsX(leftTwips);
    line->setGeometry(left, TwipsToPixelsY(topTwips), TwipsToPixelsX(rightTwips) - left, penPixels);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, colour);
    line->setPalette(palette);
    line->setAutoFillBackground(true);
}

}  // namespace

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About ") + ApplicationTitle());
    setWindowIcon(ApplicationIcon());
    // Fixed dialog border: title bar and close box only, not resizable.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(TwipSize(kClientWidthTwips, kClientHeightTwips));
    setModal(true);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(TwipRect(4245, 2625, 1260, 345));
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);

    picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setGeometry(TwipRect(240, 240, 540, 540));
    picIcon->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picIcon->setPixmap(ApplicationIcon().pixmap(kIconPixels, kIconPixels));

    lblTitle = MakeLabel(this, "lblTitle", QStringLiteral("Tarnel Evaluation Board Control Software"),
                         TwipRect(1050, 240, 3885, 480), true);
    lblVersion = MakeLabel(this, "lblVersion", QStringLiteral("Version"), TwipRect(1050, 780, 3885, 225), false);
    lblDescription = MakeLabel(this, "lblDescription",
                               QStringLiteral("Hardware and Software  Developed by the  Ostrel group"),
                               TwipRect(1050, 1125, 3885, 450), true);
    Label1 = MakeLabel(this, "Label1",
                       QStringLiteral("The latest version of all Velorn software is available from our website ") +
                           Unbreakable(QStringLiteral("https://www.velorn.example")),
                       TwipRect(1080, 1680, 3885, 690), true);

    AddLine(this, 1, 90, 5654, 2445, 1, QColor(128, 128, 128));
    AddLine(this, 0, 105, 5654, 2460, 2, Qt::white);

    cmdOK->setFocus();
    Form_Load();
}

void frmAbout::Form_Load() { lblVersion->setText(VersionText(ProgramVersion())); }

void frmAbout::cmdOK_Click() { accept(); }

void frmAbout::keyPressEvent(QKeyEvent* event) {
    // OK is also the cancel button: Esc clicks it.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        cmdOK->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace tarnel::ui
