// The two windows as the operator meets them, written down once: for each
// control its name, container, caption, rectangle in twips, font and colours,
// and for each window its caption, client size, border, buttons, focus and
// tab order. Built once per program, each time with that program's own
// version record, so the About dialog shows the real build's version line.
#include <QtTest>
#include <QtWidgets>

#include "core/main_sequence.h"
#include "core/version_record.h"
#include "link/board_library.h"
#include "link/newer_library_binding.h"
#include "ui/about_form.h"
#include "ui/application_identity.h"
#include "ui/main_form.h"

using namespace tarnel;
using namespace tarnel::ui;

namespace {

// At the offscreen screen's 96 dots per inch a pixel is 15 twips; a twip
// value is met when it rounds to the pixel the control has.
constexpr int kTwipsPerPixel = 15;
constexpr int kHalfPixelTwips = kTwipsPerPixel / 2;

struct Twips { int left, top, width, height; };

constexpr qreal kDrawsNoText = -1;
const QColor kSystem;   // the system's colour for that kind of control
const QColor kPureBlue(0, 0, 255);
const QColor kDarkBlue(0, 0, 192);
const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);

struct Control {
    const char* name;
    const char* container;
    QString caption;   // the text the operator reads
    Twips box;
    qreal points;      // 0: the system's font, not bold; kDrawsNoText: no font to check
    QColor background, text;
};

struct Build { const char* program; const char* versionLine; const char* fileVersion; };
constexpr Build kBuilds[] = {{"Tarnel(version2)", "Version 1.0.8", "1.00.0008"},
                             {"Tarnel", "Version 1.0.5", "1.00.0005"}};

const Build& BuildUnderTest() {
    for (const Build& build : kBuilds) {
        if (qstrcmp(build.program, TARNEL_PROGRAM_UNDER_TEST) == 0) return build;
    }
    qFatal("no version line is known for the program %s", TARNEL_PROGRAM_UNDER_TEST);
}

const Control kMainFormControls[] = {
    {"Frame2", "ClientArea", "Enter Data Word", {120, 240, 5175, 1455}, 9.75, kPureBlue, kWhite},
    {"DacText", "Frame2", "00000", {360, 600, 1095, 375}, 12, kSystem, kDarkBlue},
    {"Label4", "Frame2", "HEX", {1560, 720, 495, 255}, 9.75, kPureBlue, kWhite},
    {"Command2", "Frame2", "&Program DAC", {3120, 480, 1695, 615}, 9.75, kSystem, kSystem},
    {"Frame3", "ClientArea", "Read Back Output Voltage", {120, 1920, 5175, 1575}, 9.75, kPureBlue, kWhite},
    {"NumLED1", "Frame3", "", {240, 480, 2775, 735}, kDrawsNoText, kBlack, QColor(255, 40, 40)},
    {"Command1", "Frame3", "&Read Voltage", {3360, 600, 1695, 615}, 9.75, kSystem, kSystem},
    {"Frame1", "ClientArea", "Choose Power Down Option", {1200, 4920, 3135, 1935}, 9.75, kPureBlue, kWhite},
    {"Option1", "Frame1", "Normal Operation", {240, 360, 1815, 255}, 8.25, kPureBlue, kWhite},
    {"Option2", "Frame1", "Power Down - 1K to Gnd", {240, 720, 2535, 255}, 8.25, kPureBlue, kWhite},
    {"Option3", "Frame1", "Power Down - 100 K to Gnd", {240, 1080, 2775, 255}, 8.25, kPureBlue, kWhite},
    {"Option4", "Frame1", "Power Down - Three State", {240, 1440, 2655, 255}, 8.25, kPureBlue, kWhite},
};

QList<Control> AboutControls() {
    return {
        {"picIcon", "frmAbout", "", {240, 240, 540, 540}, kDrawsNoText, kSystem, kSystem},
        {"lblTitle", "frmAbout", "Tarnel Evaluation Board Control Software", {1050, 240, 3885, 480}, 8.25, kSystem,
         kBlack},
        {"lblVersion", "frmAbout", BuildUnderTest().versionLine, {1050, 780, 3885, 225}, 8.25, kSystem, kSystem},
        {"lblDescription", "frmAbout", "Hardware and Software  Developed by the  Ostrel group",
         {1050, 1125, 3885, 450}, 8.25, kSystem, kBlack},
        {"Label1", "frmAbout",
         "The latest version of all Velorn software is available from our website https://www.velorn.example",
         {1080, 1680, 3885, 690}, 8.25, kSystem, kBlack},
        {"cmdOK", "frmAbout", "OK", {4245, 2625, 1260, 345}, 0, kSystem, kSystem},
    };
}

// The etched separator: two lines of the control array Line1.
struct Line { int index, fromLeft, toLeft, top, penPixels; QColor colour; };
const Line kAboutLines[] = {{1, 90, 5654, 2445, 1, QColor(128, 128, 128)}, {0, 105, 5654, 2460, 2, kWhite}};

struct MenuEntry { const char* name; const char* caption; const char* under; };
const MenuEntry kMenus[] = {
    {"MnuFile", "&File", "menu bar"}, {"MnuExit", "E&xit", "MnuFile"},
    {"MnuHelp", "&Help", "menu bar"}, {"MnuABout", "&About", "MnuHelp"}};

QString CaptionOf(const QWidget* widget) {
    QString caption;
    if (const auto* frame = qobject_cast<const QGroupBox*>(widget)) caption = frame->title();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) caption = button->text();
    if (const auto* label = qobject_cast<const QLabel*>(widget)) caption = label->text();
    if (const auto* field = qobject_cast<const QLineEdit*>(widget)) caption = field->text();
    // Word joiners only steer where a label wraps; the operator reads the text without them.
    return caption.remove(QChar(0x2060));
}

// The palette roles a control paints its background and its text with.
std::pair<QPalette::ColorRole, QPalette::ColorRole> ColourRoles(const QWidget* widget) {
    if (qobject_cast<const QLineEdit*>(widget)) return {QPalette::Base, QPalette::Text};
    if (qobject_cast<const QPushButton*>(widget)) return {QPalette::Button, QPalette::ButtonText};
    return {QPalette::Window, QPalette::WindowText};
}

void CheckColour(const QWidget* widget, QPalette::ColorRole role, const QColor& wanted) {
    const QColor expected = wanted.isValid() ? wanted : QApplication::palette(widget).color(role);
    QCOMPARE(widget->palette().color(role), expected);
}

void CheckTwips(const QRect& pixels, const Twips& box) {
    const int shown[] = {pixels.x(), pixels.y(), pixels.width(), pixels.height()};
    const int wanted[] = {box.left, box.top, box.width, box.height};
    for (int edge = 0; edge < 4; ++edge) {
        QVERIFY2(qAbs(shown[edge] * kTwipsPerPixel - wanted[edge]) <= kHalfPixelTwips,
                 qPrintable(QStringLiteral("pixels %1,%2 %3x%4 for twips %5,%6 %7x%8")
                                .arg(pixels.x()).arg(pixels.y()).arg(pixels.width()).arg(pixels.height())
                                .arg(box.left).arg(box.top).arg(box.width).arg(box.height)));
    }
}

void CheckControl(const QWidget* window, const Control& control) {
    const auto* widget = window->findChild<QWidget*>(QString::fromLatin1(control.name));
    QVERIFY2(widget != nullptr, control.name);
    QCOMPARE(widget->parentWidget()->objectName(), QString::fromLatin1(control.container));
    QCOMPARE(CaptionOf(widget), control.caption);
    CheckTwips(widget->geometry(), control.box);
    const QFont font = widget->font();
    if (control.points > 0) {
        QCOMPARE(font.families().value(0), QStringLiteral("MS Sans Serif"));
        QCOMPARE(font.pointSizeF(), control.points);
        QVERIFY(font.bold());
    } else if (control.points == 0) {
        QCOMPARE(font, QApplication::font(widget));
    }
    const auto [backgroundRole, textRole] = ColourRoles(widget);
    CheckColour(widget, backgroundRole, control.background);
    CheckColour(widget, textRole, control.text);
}

void CheckWindow(const QWidget* window, const QWidget* clientArea, const char* caption, const Twips& client,
                 bool minimiseButton) {
    QCOMPARE(window->windowTitle(), QString::fromLatin1(caption));
    QVERIFY(!window->windowIcon().isNull());
    const Qt::WindowFlags flags = window->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint) && !flags.testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(flags.testFlag(Qt::WindowMinimizeButtonHint), minimiseButton);
    QCOMPARE(window->minimumSize(), window->maximumSize());   // not resizable
    CheckTwips(clientArea->rect(), client);
}

// The label's text in the lines a word-wrapping label breaks it into.
QStringList WrappedLines(const QLabel* label, qreal* height) {
    QTextLayout layout(label->text(), label->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    QStringList lines;
    *height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(label->contentsRect().width());
        lines << label->text().mid(line.textStart(), line.textLength());
        *height += line.height();
    }
    layout.endLayout();
    return lines;
}

}  // namespace

class WindowContractTest : public QObject {
    Q_OBJECT

    link::NewerLibraryBinding binding_{TARNEL_NEWER_DOUBLE};
    std::unique_ptr<MainForm> form_;
    std::unique_ptr<frmAbout> about_;

private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::primaryScreen()->logicalDotsPerInch(), 96.0);
        ApplyApplicationIdentity(*qApp);
        link::SetActiveBoardLibrary(&binding_);
        form_ = std::make_unique<MainForm>();
        Main(*form_);
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    }

    void cleanupTestCase() {
        about_.reset();
        form_.reset();
    }

    void mainWindowControls_data() {
        QTest::addColumn<int>("row");
        for (int row = 0; row < int(std::size(kMainFormControls)); ++row) {
            QTest::newRow(kMainFormControls[row].name) << row;
        }
    }

    void mainWindowControls() {
        QFETCH(int, row);
        CheckControl(form_.get(), kMainFormControls[row]);
    }

    void mainWindow() {
        CheckWindow(form_.get(), form_->centralWidget(), "Tarnel Evaluation Software", {0, 0, 5475, 3690}, true);
        CheckColour(form_->centralWidget(), QPalette::Window, kPureBlue);
        QCOMPARE(form_->DacText->maxLength(), 5);
        for (const QPushButton* command : {form_->Command1, form_->Command2}) {
            QVERIFY(!command->isDefault() && !command->autoDefault());
        }
        // Each menu holds exactly the table's entries, in its order: no separators.
        QHash<QString, QList<QAction*>> expected;
        for (const MenuEntry& entry : kMenus) {
            const QString name = QString::fromLatin1(entry.name);
            const auto* menu = form_->findChild<QMenu*>(name);
            QAction* action = menu != nullptr ? menu->menuAction() : form_->findChild<QAction*>(name);
            QVERIFY2(action != nullptr, entry.name);
            QCOMPARE(action->text(), QString::fromLatin1(entry.caption));
            QVERIFY(action->shortcut().isEmpty());
            expected[QString::fromLatin1(entry.under)] << action;
        }
        QCOMPARE(form_->menuBar()->actions(), expected.take(QStringLiteral("menu bar")));
        for (const auto& [under, actions] : expected.asKeyValueRange()) {
            QCOMPARE(form_->findChild<QMenu*>(under)->actions(), actions);
        }

        // The unseen first option holds the focus; Tab goes round the tab order.
        QCOMPARE(QApplication::focusWidget(), form_->Option1);
        const QList<QWidget*> tabOrder{form_->DacText, form_->Command2, form_->Command1, form_->Option1};
        for (const QWidget* next : tabOrder) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void aboutDialogControls_data() {
        QTest::addColumn<int>("row");
        const QList<Control> controls = AboutControls();
        for (int row = 0; row < controls.size(); ++row) QTest::newRow(controls[row].name) << row;
    }

    void aboutDialogControls() {
        QFETCH(int, row);
        CheckControl(OpenAbout(), AboutControls()[row]);
    }

    void aboutDialog() {
        frmAbout* about = OpenAbout();
        CheckWindow(about, about, "About Tarnel Evaluation Software", {0, 0, 5730, 3090}, false);
        QVERIFY(about->isModal());
        QVERIFY(about->cmdOK->isDefault());
        QCOMPARE(QApplication::focusWidget(), about->cmdOK);
        QCOMPARE(about->picIcon->pixmap().size(), QSize(32, 32));
        QCOMPARE(about->picIcon->frameStyle(), QFrame::Panel | QFrame::Sunken);
        QCOMPARE(QApplication::applicationName(), QString::fromLatin1(BuildUnderTest().program));
        QCOMPARE(QApplication::applicationVersion(), QString::fromLatin1(BuildUnderTest().fileVersion));

        QList<QWidget*> lines = about->findChildren<QWidget*>(QStringLiteral("Line1"));
        QCOMPARE(lines.size(), int(std::size(kAboutLines)));
        for (const Line& wanted : kAboutLines) {
            const auto line = std::find_if(lines.begin(), lines.end(),
                                           [&](QWidget* each) { return each->property("Index") == wanted.index; });
            QVERIFY(line != lines.end());
            const QRect shown = (*line)->geometry();
            // The pen width is in pixels; the one-pixel row of the line's top edge is in twips.
            CheckTwips(QRect(shown.topLeft(), QSize(shown.width(), 1)),
                       {wanted.fromLeft, wanted.top, wanted.toLeft - wanted.fromLeft, kTwipsPerPixel});
            QCOMPARE(shown.height(), wanted.penPixels);
            CheckColour(*line, QPalette::Window, wanted.colour);
        }
    }

    void aboutLabelsWrapBetweenWordsAndFit() {
        for (const QLabel* label : OpenAbout()->findChildren<QLabel*>()) {
            if (label->text().isEmpty()) continue;   // the icon
            QVERIFY(label->wordWrap());
            qreal height = 0;
            const QStringList lines = WrappedLines(label, &height);
            for (qsizetype line = 0; line + 1 < lines.size(); ++line) {
                QVERIFY2(lines[line].endsWith(QLatin1Char(' ')), qPrintable(lines.join(QLatin1Char('|'))));
            }
            QVERIFY2(height <= label->height(), qPrintable(label->objectName() + " is cut off"));
        }
    }

private:
    frmAbout* OpenAbout() {
        if (!about_) {
            about_ = std::make_unique<frmAbout>();
            about_->show();
            if (!QTest::qWaitForWindowActive(about_.get())) qFatal("the About dialog did not become active");
        }
        return about_.get();
    }
};

QTEST_MAIN(WindowContractTest)
#include "window_contract_tests.moc"
