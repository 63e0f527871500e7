// The wizard's windows, moves, start-up and settings, driven through real widgets.
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "app/export_window.h"
#include "app/korvane_application.h"
#include "app/period_window.h"
#include "app/server_settings_window.h"
#include "app/welcome_window.h"
#include "core/shared_state.h"
#include "ui_export_window.h"
#include "ui_period_window.h"
#include "ui_server_settings_window.h"
#include "ui_welcome_window.h"
#include "wizard_harness.h"

using namespace korvane;
using namespace korvane::test;

Q_DECLARE_METATYPE(korvane::BoxAnswer)

namespace {

void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key(key), mods);
}

// Shows the period window the way the user gets there.
void ToPeriod(WizardHarness& h) {
    Click(h.wizard->Welcome().Form().btnNext);
    QVERIFY(WaitActive(h.wizard->Period()));
}

}  // namespace

class WizardTest : public QObject {
    Q_OBJECT
private slots:
    void startUpWithoutSettingsFile();
    void startUpReadsTheWorkingDirectorysFile();
    void arrivalsReloadServerSettings();
    void invalidPortInSettingsFile_data();
    void invalidPortInSettingsFile();
    void exitConfirmation_data();
    void exitConfirmation();
    void closeBoxes_data();
    void closeBoxes();
    void welcomeEnterAndFocusMemory();
    void dateCheckOnLeavingField_data();
    void dateCheckOnLeavingField();
    void invalidDateRefusesClickButNotAccessKey();
    void nextRefusesEmptyFields_data();
    void nextRefusesEmptyFields();
    void nextStoresOnlyWhatChanged();
    void settingsSaveByKeyboard();
    void settingsSaveRefusesBadPort_data();
    void settingsSaveRefusesBadPort();
    void settingsCancelKeepsTypedValues();
    void unwritableSettingsFile();
    void escapedExceptionShowsBoxAndGoesOn();
    void screenshots();
};

void WizardTest::startUpWithoutSettingsFile() {
    WizardHarness h;
    h.Start();
    Wizard& w = *h.wizard;
    QCOMPARE(h.VisibleWindow(), &w.Welcome());
    for (QWidget* window : std::initializer_list<QWidget*>{&w.Welcome(), &w.Period(), &w.Export(),
                                                           &w.ServerSettings()}) {
        QCOMPARE(window->windowTitle(), QString(AppTitle));
        QCOMPARE(window->size(), QSize(492, 316));
        QCOMPARE(window->minimumSize(), window->maximumSize());
    }
    QCOMPARE(QFileInfo(Text(w.State().appDir)).canonicalFilePath(),
             QFileInfo(h.Dir()).canonicalFilePath());
    QCOMPARE(w.ServerSettings().Form().edtServerPort->text(), QString("9000"));
    QCOMPARE(w.ServerSettings().Form().edtServerAddress->text(), QString("127.0.0.1"));
    QCOMPARE(w.State().serverPortText, std::string("9000"));
    QCOMPARE(w.State().serverAddressText, std::string("127.0.0.1"));
    // The default output file is a full path in the home folder.
    QCOMPARE(w.Period().Form().edtFileName->text(), h.Dir() + "/BranchData.dat");
    QVERIFY(w.Period().Form().edtFromDate->text().isEmpty());
    QVERIFY(w.Period().Form().edtToDate->text().isEmpty());
    QVERIFY(!QFileInfo::exists(h.IniPath()));
    QVERIFY(h.dialogs.Shown().empty());
    QVERIFY(h.control.terminations.empty());
    QCOMPARE(QApplication::focusWidget(), w.Welcome().Form().btnNext);
}

void WizardTest::startUpReadsTheWorkingDirectorysFile() {
    WizardHarness h("[Tally]\nServerPort=9123\nServerAddress=tally.branch\n"
                    "[Configuration]\nOutputFileName=/srv/out/branch.dat\nSVFROMDATE=1-4-2024\n"
                    "SVTODATE=\n");
    h.Start();
    Wizard& w = *h.wizard;
    QCOMPARE(w.State().serverPortText, std::string("9123"));
    QCOMPARE(w.State().serverAddressText, std::string("tally.branch"));
    QCOMPARE(w.ServerSettings().Form().edtServerAddress->text(), QString("tally.branch"));
    QCOMPARE(w.Period().Form().edtFileName->text(), QString("/srv/out/branch.dat"));
    QCOMPARE(w.Period().Form().edtFromDate->text(), QString("1-4-2024"));
    QVERIFY(w.Period().Form().edtToDate->text().isEmpty());
}

void WizardTest::arrivalsReloadServerSettings() {
    WizardHarness h;
    h.Start();
    Wizard& w = *h.wizard;
    h.WriteIni("[Tally]\nServerPort=9100\nServerAddress=10.0.0.5\n");
    // A box over the welcome window and a move away are no arrivals.
    h.dialogs.SetNextAnswer(BoxAnswer::No);
    Click(w.Welcome().Form().btnExit);
    ToPeriod(h);
    QCOMPARE(w.State().serverPortText, std::string("9000"));
    // Previous is one.
    Click(w.Period().Form().btnPrevious);
    QVERIFY(WaitActive(w.Welcome()));
    QCOMPARE(h.VisibleWindow(), &w.Welcome());
    QCOMPARE(w.State().serverPortText, std::string("9100"));
    QCOMPARE(w.State().serverAddressText, std::string("10.0.0.5"));
    QCOMPARE(w.ServerSettings().Form().edtServerPort->text(), QString("9100"));
    QVERIFY(h.control.terminations.empty());
}

void WizardTest::invalidPortInSettingsFile_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("refused");
    QTest::newRow("letters") << "abc" << true;
    QTest::newRow("digits then letters") << "90a0" << true;
    QTest::newRow("beyond 32 bits") << "4294967296" << true;
    QTest::newRow("leading blank") << " 9000" << false;
    QTest::newRow("hexadecimal") << "$2328" << false;
}

void WizardTest::invalidPortInSettingsFile() {
    QFETCH(QString, port);
    QFETCH(bool, refused);
    WizardHarness h("[Tally]\nServerPort=" + port.toStdString() + "\n");
    h.Start();
    if (!refused) {
        QVERIFY(h.dialogs.Shown().empty());
        QVERIFY(h.control.terminations.empty());
        return;
    }
    QCOMPARE(h.dialogs.Shown().size(), size_t(1));
    QCOMPARE(h.dialogs.Shown()[0].kind, BoxKind::Error);
    QCOMPARE(Text(h.dialogs.Shown()[0].text),
             QString("Invalid Port specified in the INI file\rCorrect the Port value in the INI "
                     "file and then retry\r\rTerminating Application"));
    // The program ends, as a failure, once the handler returns.
    QCOMPARE(h.control.terminations, std::vector<int>{1});
    QVERIFY(!h.control.halted);
}

void WizardTest::exitConfirmation_data() {
    QTest::addColumn<int>("window");  // 0 welcome, 1 period, 2 export
    QTest::addColumn<QString>("how");
    QTest::addColumn<korvane::BoxAnswer>("answer");
    QTest::addColumn<bool>("ends");
    const char* names[] = {"welcome", "period", "export"};
    for (int window = 0; window < 3; ++window) {
        for (const char* how : {"button", "Esc", "Alt+X"}) {
            QTest::addRow("%s %s Yes", names[window], how) << window << how << BoxAnswer::Yes << true;
            QTest::addRow("%s %s No", names[window], how) << window << how << BoxAnswer::No << false;
        }
    }
}

void WizardTest::exitConfirmation() {
    QFETCH(int, window);
    QFETCH(QString, how);
    QFETCH(BoxAnswer, answer);
    QFETCH(bool, ends);
    WizardHarness h;
    h.Start();
    Wizard& w = *h.wizard;
    WizardWindow* windows[] = {&w.Welcome(), &w.Period(), &w.Export()};
    QPushButton* exits[] = {w.Welcome().Form().btnExit, w.Period().Form().btnExit,
                            w.Export().Form().btnExit};
    if (window > 0) {
        w.Move(w.Welcome(), *windows[window]);
        QVERIFY(WaitActive(*windows[window]));
    }
    QWidget* focused = QApplication::focusWidget();
    h.dialogs.SetNextAnswer(answer);
    if (how == "button") Click(exits[window]);
    if (how == "Esc") Key(Qt::Key_Escape);
    if (how == "Alt+X") Key(Qt::Key_X, Qt::AltModifier);
    QCOMPARE(h.dialogs.Shown().size(), size_t(1));
    QCOMPARE(h.dialogs.Shown()[0].kind, BoxKind::Confirmation);
    QCOMPARE(Text(h.dialogs.Shown()[0].text), QString("Are you sure you want to Quit ?"));
    QCOMPARE(h.control.terminations, ends ? std::vector<int>{0} : std::vector<int>{});
    QCOMPARE(h.VisibleWindow(), windows[window]);
    if (how != "button") QCOMPARE(QApplication::focusWidget(), focused);
}

void WizardTest::closeBoxes_data() {
    QTest::addColumn<int>("window");  // 0 welcome, 1 period, 2 export, 3 server settings
    QTest::addColumn<korvane::BoxAnswer>("answer");
    QTest::addColumn<QString>("question");
    QTest::addColumn<bool>("ends");
    QTest::newRow("welcome: at once") << 0 << BoxAnswer::No << "" << true;
    QTest::newRow("period Yes") << 1 << BoxAnswer::Yes << "Are you sure you want to Quit ?" << true;
    QTest::newRow("period No") << 1 << BoxAnswer::No << "Are you sure you want to Quit ?" << false;
    QTest::newRow("export Yes") << 2 << BoxAnswer::Yes << "Are you sure you want to Quit ?" << true;
    QTest::newRow("export No") << 2 << BoxAnswer::No << "Are you sure you want to Quit ?" << false;
    QTest::newRow("settings Yes") << 3 << BoxAnswer::Yes << "Are you sure you want to Quit ? " << true;
    QTest::newRow("settings No") << 3 << BoxAnswer::No << "Are you sure you want to Quit ? " << false;
    QTest::newRow("settings box closed")
        << 3 << BoxAnswer::Closed << "Are you sure you want to Quit ? " << true;
}

void WizardTest::closeBoxes() {
    QFETCH(int, window);
    QFETCH(BoxAnswer, answer);
    QFETCH(QString, question);
    QFETCH(bool, ends);
    WizardHarness h;
    h.Start();
    Wizard& w = *h.wizard;
    WizardWindow* windows[] = {&w.Welcome(), &w.Period(), &w.Export(), &w.ServerSettings()};
    if (window > 0) {
        w.Move(w.Welcome(), *windows[window]);
        QVERIFY(WaitActive(*windows[window]));
    }
    h.dialogs.SetNextAnswer(answer);
    windows[window]->close();
    QCOMPARE(Boxes(h.dialogs), question.isEmpty() ? QStringList{} : QStringList{question});
    QCOMPARE(h.control.terminations, ends ? std::vector<int>{0} : std::vector<int>{});
    if (!ends) QVERIFY(windows[window]->isVisible());
}

void WizardTest::welcomeEnterAndFocusMemory() {
    WizardHarness h;
    h.Start();
    Wizard& w = *h.wizard;
    // The user moves the welcome window away from the centre.
    w.Welcome().move(10, 20);
    QTRY_COMPARE(w.Welcome().pos(), QPoint(10, 20));
    const QPoint firstPlace = w.Welcome().pos();
    // Enter presses Next, the default button.
    Key(Qt::Key_Return);
    QVERIFY(WaitActive(w.Period()));
    // A window shown for the first time comes up centred on the screen (within the frame's
    // margins, unknown before the first show).
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    QVERIFY((w.Period().frameGeometry().center() - centre).manhattanLength() <= 10);
    QCOMPARE(h.VisibleWindow(), &w.Period());
    QCOMPARE(QApplication::focusWidget(), w.Period().Form().edtFromDate);
    // The period window remembers its focused control; the welcome window its place.
    w.Period().Form().edtFileName->setFocus();
    Key(Qt::Key_P, Qt::AltModifier);  // Previous, leaving the focus in the field
    QVERIFY(WaitActive(w.Welcome()));
    QCOMPARE(w.Welcome().pos(), firstPlace);
    // With the focus on Exit, Enter presses Exit, not Next.
    w.Welcome().Form().btnExit->setFocus();
    h.dialogs.SetNextAnswer(BoxAnswer::No);
    Key(Qt::Key_Return);
    QCOMPARE(Boxes(h.dialogs), QStringList{"Are you sure you want to Quit ?"});
    QCOMPARE(h.VisibleWindow(), &w.Welcome());
    Key(Qt::Key_N, Qt::AltModifier);
    QVERIFY(WaitActive(w.Period()));
    QCOMPARE(QApplication::focusWidget(), w.Period().Form().edtFileName);
}

void WizardTest::dateCheckOnLeavingField_data() {
    QTest::addColumn<QString>("date");
    QTest::addColumn<bool>("valid");
    QTest::newRow("empty: no check") << "" << true;
    QTest::newRow("slashes") << "1/4/2024" << true;
    QTest::newRow("dashes") << "1-4-2024" << true;
    QTest::newRow("dots") << "1.4.2024" << true;
    QTest::newRow("leap day") << "29/2/2024" << true;
    QTest::newRow("no leap day") << "29/2/2023" << false;
    QTest::newRow("31 April") << "31/4/2024" << false;
    QTest::newRow("month 13") << "1/13/2024" << false;
    QTest::newRow("day and month") << "1/2" << true;
    QTest::newRow("slash without year") << "1/2/" << false;
    QTest::newRow("trailing slash after year") << "1/2/2024/" << true;
    QTest::newRow("spaces around") << " 1 / 2 / 2024 " << true;
    QTest::newRow("year first") << "2024/02/01" << false;
    QTest::newRow("five-digit year") << "1/1/20245" << false;
    QTest::newRow("year 0") << "1/1/000" << false;
    QTest::newRow("spaces only") << "   " << false;
    QTest::newRow("time of day") << "1/4/2024 10:00" << false;
}

void WizardTest::dateCheckOnLeavingField() {
    QFETCH(QString, date);
    QFETCH(bool, valid);
    WizardHarness h;
    h.Start();
    ToPeriod(h);
    auto& form = h.wizard->Period().Form();
    for (QLineEdit* field : {form.edtFromDate, form.edtToDate}) {
        h.dialogs.ClearShown();
        field->setFocus();
        field->setText(date);
        Key(Qt::Key_Tab);
        QCOMPARE(Boxes(h.dialogs), valid ? QStringList{} : QStringList{"Invalid Date"});
        QCOMPARE(QApplication::focusWidget() == field, !valid);
        QCOMPARE(field->text(), date);  // kept as typed, separators included
        field->clear();
    }
}

void WizardTest::invalidDateRefusesClickButNotAccessKey() {
    WizardHarness h;
    h.Start();
    ToPeriod(h);
    Wizard& w = *h.wizard;
    auto& form = w.Period().Form();
    form.edtToDate->setText("31/4/2025");
    form.edtFromDate->setFocus();
    form.edtFromDate->setText("31/4/2024");
    // Tab to the other date field, which holds a bad date too: one message, and the focus
    // goes back into the field the user left without checking the field it was put in.
    Key(Qt::Key_Tab);
    QCOMPARE(Boxes(h.dialogs), QStringList{"Invalid Date"});
    QCOMPARE(QApplication::focusWidget(), form.edtFromDate);
    h.dialogs.ClearShown();
    form.edtToDate->setText("30/4/2024");
    // The click that leaves the field fails the check and has no effect.
    Click(form.btnNext);
    QCOMPARE(Boxes(h.dialogs), QStringList{"Invalid Date"});
    QCOMPARE(QApplication::focusWidget(), form.edtFromDate);
    QCOMPARE(h.VisibleWindow(), &w.Period());
    // The access key does not move the focus, so no check runs and Next goes through.
    Key(Qt::Key_N, Qt::AltModifier);
    QVERIFY(WaitActive(w.Export()));
    QCOMPARE(Boxes(h.dialogs), QStringList{"Invalid Date"});
    QVERIFY(h.IniText().find("SVFROMDATE=31/4/2024") != std::string::npos);
}

void WizardTest::nextRefusesEmptyFields_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");
    QTest::newRow("file name") << "" << "" << "" << "Output File-name not specified" << "btnNext";
    QTest::newRow("from date") << "x.dat" << "" << "1/4/2024" << "FROM-date cannot be empty."
                               << "edtFromDate";
    QTest::newRow("to date") << "x.dat" << "1/4/2024" << "" << "TO-date cannot be empty."
                             << "edtToDate";
    QTest::newRow("blanks are not empty") << " " << " 1/4" << "2/4 " << "" << "";
}

void WizardTest::nextRefusesEmptyFields() {
    QFETCH(QString, file);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    WizardHarness h;
    h.Start();
    ToPeriod(h);
    Wizard& w = *h.wizard;
    auto& form = w.Period().Form();
    form.edtFileName->setText(file);
    form.edtFromDate->setText(from);
    form.edtToDate->setText(to);
    form.btnNext->setFocus();
    Key(Qt::Key_Space);
    if (message.isEmpty()) {
        QVERIFY(h.dialogs.Shown().empty());
        QVERIFY(WaitActive(w.Export()));
        return;
    }
    QCOMPARE(Boxes(h.dialogs), QStringList{message});
    QCOMPARE(h.dialogs.Shown()[0].kind, BoxKind::Information);
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
    QCOMPARE(h.VisibleWindow(), &w.Period());
    QVERIFY(!QFileInfo::exists(h.IniPath()));
}

void WizardTest::nextStoresOnlyWhatChanged() {
    WizardHarness h;
    h.Start();
    ToPeriod(h);
    Wizard& w = *h.wizard;
    auto& form = w.Period().Form();
    form.edtFromDate->setText("1-4-2024");
    form.edtToDate->setText("31.3.2025");
    Click(form.btnNext);
    QVERIFY(WaitActive(w.Export()));
    // The unchanged default file name is not stored; the dates are, as typed.
    std::string ini = h.IniText();
    QVERIFY(ini.find("SVFROMDATE=1-4-2024") != std::string::npos);
    QVERIFY(ini.find("SVTODATE=31.3.2025") != std::string::npos);
    QVERIFY(ini.find("OutputFileName") == std::string::npos);

    // The comparison is with what the window remembers, in any letter case: a hand edit of
    // the file is not overwritten by an unchanged field, and a case change stores nothing.
    h.WriteIni("[Configuration]\nSVFROMDATE=edited by hand\n");
    Click(w.Export().Form().btnPrevious);
    QVERIFY(WaitActive(w.Period()));
    form.edtFileName->setText(h.Dir().toUpper() + "/BRANCHDATA.DAT");
    form.edtFromDate->setText("1-4-2024");
    Click(form.btnNext);
    QVERIFY(WaitActive(w.Export()));
    QCOMPARE(Text(h.IniText()), QString("[Configuration]\nSVFROMDATE=edited by hand\n"));

    Click(w.Export().Form().btnPrevious);
    QVERIFY(WaitActive(w.Period()));
    form.edtToDate->setText("30/6/2024");
    Click(form.btnNext);
    ini = h.IniText();
    QVERIFY(ini.find("SVFROMDATE=edited by hand") != std::string::npos);
    QVERIFY(ini.find("SVTODATE=30/6/2024") != std::string::npos);
    QVERIFY(ini.find("OutputFileName") == std::string::npos);
}

void WizardTest::settingsSaveByKeyboard() {
    WizardHarness h;
    h.Start();
    ToPeriod(h);
    Wizard& w = *h.wizard;
    Key(Qt::Key_S, Qt::AltModifier);
    QVERIFY(WaitActive(w.ServerSettings()));
    auto& form = w.ServerSettings().Form();
    QCOMPARE(QApplication::focusWidget(), form.edtServerAddress);
    form.edtServerAddress->selectAll();
    QTest::keyClicks(form.edtServerAddress, "192.168.7.20");
    Key(Qt::Key_Return);  // to the port field
    QCOMPARE(QApplication::focusWidget(), form.edtServerPort);
    form.edtServerPort->selectAll();
    QTest::keyClicks(form.edtServerPort, "9999");
    Key(Qt::Key_Return);  // to Save, without pressing it
    QCOMPARE(QApplication::focusWidget(), form.btnSave);
    QVERIFY(h.dialogs.Shown().empty());
    Key(Qt::Key_Return);  // presses Save
    QCOMPARE(Boxes(h.dialogs), QStringList{"Settings saved successfully"});
    QCOMPARE(h.dialogs.Shown()[0].kind, BoxKind::Information);
    QVERIFY(WaitActive(w.Period()));
    QCOMPARE(w.State().serverPortText, std::string("9999"));
    QCOMPARE(w.State().serverAddressText, std::string("192.168.7.20"));
    const std::string ini = h.IniText();
    QVERIFY(ini.find("[Tally]") != std::string::npos);
    QVERIFY(ini.find("ServerPort=9999") != std::string::npos);
    QVERIFY(ini.find("ServerAddress=192.168.7.20") != std::string::npos);
    QCOMPARE(form.Bevel2->geometry(), QRect(0, 265, 492, 1));
}

void WizardTest::settingsSaveRefusesBadPort_data() {
    QTest::addColumn<QString>("port");
    QTest::newRow("empty") << "";
    QTest::newRow("letters") << "abc";
    QTest::newRow("trailing blank") << "9000 ";
    QTest::newRow("zero") << "0";
    QTest::newRow("negative") << "-1";
    QTest::newRow("above 65535") << "65536";
}

void WizardTest::settingsSaveRefusesBadPort() {
    QFETCH(QString, port);
    WizardHarness h;
    h.Start();
    Wizard& w = *h.wizard;
    w.Move(w.Welcome(), w.ServerSettings());
    QVERIFY(WaitActive(w.ServerSettings()));
    auto& form = w.ServerSettings().Form();
    form.edtServerPort->setText(port);
    Click(form.btnSave);
    QCOMPARE(Boxes(h.dialogs),
             QStringList{"The Server Port must be a whole number from 1 to 65535.\r"
                         "Nothing has been saved."});
    QCOMPARE(h.dialogs.Shown()[0].kind, BoxKind::Information);
    QVERIFY(!QFileInfo::exists(h.IniPath()));
    QCOMPARE(w.State().serverPortText, std::string("9000"));
    QCOMPARE(h.VisibleWindow(), &w.ServerSettings());
}

void WizardTest::settingsCancelKeepsTypedValues() {
    WizardHarness h;
    h.Start();
    ToPeriod(h);
    Wizard& w = *h.wizard;
    auto& form = w.ServerSettings().Form();
    Click(w.Period().Form().btnSettings);
    QVERIFY(WaitActive(w.ServerSettings()));
    form.edtServerPort->setText("1234");
    Key(Qt::Key_Escape);  // Cancel
    QVERIFY(WaitActive(w.Period()));
    QVERIFY(h.dialogs.Shown().empty());
    QVERIFY(!QFileInfo::exists(h.IniPath()));
    QCOMPARE(w.State().serverPortText, std::string("9000"));
    // The typed text stays in the hidden window until the next arrival at the welcome window.
    Click(w.Period().Form().btnSettings);
    QVERIFY(WaitActive(w.ServerSettings()));
    QCOMPARE(form.edtServerPort->text(), QString("1234"));
    Click(form.btnCancel);
    QVERIFY(WaitActive(w.Period()));
    Click(w.Period().Form().btnPrevious);
    QVERIFY(WaitActive(w.Welcome()));
    QCOMPARE(form.edtServerPort->text(), QString("9000"));
}

void WizardTest::unwritableSettingsFile() {
    WizardHarness h;
    h.Start();
    Wizard& w = *h.wizard;
    // A folder in the settings file's place makes every write fail, also for root.
    QVERIFY(QDir(h.Dir()).mkdir("korvane.ini"));
    const QString expected = "Unable to write to " + h.IniPath() + ".";

    w.Move(w.Welcome(), w.ServerSettings());
    QVERIFY(WaitActive(w.ServerSettings()));
    w.ServerSettings().Form().edtServerPort->setText("9100");
    Click(w.ServerSettings().Form().btnSave);
    QCOMPARE(Boxes(h.dialogs), QStringList{expected});
    QCOMPARE(h.dialogs.Shown()[0].kind, BoxKind::Exception);
    QCOMPARE(w.State().serverPortText, std::string("9000"));
    QCOMPARE(h.VisibleWindow(), &w.ServerSettings());

    h.dialogs.ClearShown();
    Click(w.ServerSettings().Form().btnCancel);
    QVERIFY(WaitActive(w.Period()));
    w.Period().Form().edtFromDate->setText("1/4/2024");
    w.Period().Form().edtToDate->setText("2/4/2024");
    Click(w.Period().Form().btnNext);
    QCOMPARE(Boxes(h.dialogs), QStringList{expected});
    QCOMPARE(h.VisibleWindow(), &w.Period());
}

void WizardTest::escapedExceptionShowsBoxAndGoesOn() {
    QCOMPARE(ExceptionBoxText("File access denied"), std::string("File access denied."));
    QCOMPARE(ExceptionBoxText("Ends in a dot."), std::string("Ends in a dot."));
    QCOMPARE(ExceptionBoxText("Ends in a comma,"), std::string("Ends in a comma,"));
    QCOMPARE(ExceptionBoxText(""), std::string(""));
}

void WizardTest::screenshots() {
    WizardHarness h("[Configuration]\nSVFROMDATE=1-4-2024\nSVTODATE=31-3-2025\n");
    h.Start();
    Wizard& w = *h.wizard;
    Screenshot(w.Welcome(), "welcome");
    ToPeriod(h);
    Screenshot(w.Period(), "period");
    Click(w.Period().Form().btnSettings);
    QVERIFY(WaitActive(w.ServerSettings()));
    Screenshot(w.ServerSettings(), "server-settings");
    Click(w.ServerSettings().Form().btnCancel);
    QVERIFY(WaitActive(w.Period()));
    Click(w.Period().Form().btnNext);
    QVERIFY(WaitActive(w.Export()));
    Screenshot(w.Export(), "export-before-start");
    // Every label that does not wrap shows its whole text.
    for (QWidget* window : std::initializer_list<QWidget*>{&w.Welcome(), &w.Period(), &w.Export(),
                                                           &w.ServerSettings()}) {
        for (QLabel* label : window->findChildren<QLabel*>()) {
            if (label->wordWrap() || label->text().isEmpty()) continue;
            QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->objectName()));
        }
    }
}

int main(int argc, char** argv) {
    KorvaneApplication app(argc, argv);
    WizardTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "wizard_test.moc"
