// The export window against the stand-in Tally: the whole road of one export by keyboard and
// by mouse, the outcomes of an export and of Test Connection.
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/export_window.h"
#include "app/korvane_application.h"
#include "app/period_window.h"
#include "app/server_settings_window.h"
#include "app/welcome_window.h"
#include "core/export_run.h"
#include "ui_export_window.h"
#include "ui_period_window.h"
#include "ui_server_settings_window.h"
#include "ui_welcome_window.h"
#include "wizard_harness.h"

using namespace korvane;
using namespace korvane::test;

Q_DECLARE_METATYPE(korvane::BoxAnswer)

namespace {

QStringList Lines(ExportWindow& window) {
    QStringList out;
    for (int i = 0; i < window.Form().ListBox1->count(); ++i)
        out << window.Form().ListBox1->item(i)->text();
    return out;
}

void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key(key), mods);
}
void Type(const QString& text) { QTest::keyClicks(static_cast<QWidget*>(nullptr), text); }

// Runs an action that may halt the program; gives the exit code of the halt.
template <class Action>
std::optional<int> HaltOf(Action action) {
    try {
        action();
    } catch (const HaltRequested& halt) {
        return halt.exitCode;
    }
    return std::nullopt;
}

std::string IniFor(const QString& port) {
    return "[Tally]\nServerPort=" + port.toStdString() + "\nServerAddress=127.0.0.1\n";
}

// Straight to the export window with a period and an output file in the working directory.
void ToExport(WizardHarness& h, const QString& file = "out.dat") {
    Wizard& w = *h.wizard;
    w.Period().Form().edtFromDate->setText("1/4/2024");
    w.Period().Form().edtToDate->setText("31/3/2025");
    w.Period().Form().edtFileName->setText(file);
    Click(w.Welcome().Form().btnNext);
    QVERIFY(WaitActive(w.Period()));
    Click(w.Period().Form().btnNext);
    QVERIFY(WaitActive(w.Export()));
    h.dialogs.ClearShown();
}

const char* const NoCompanyQuestion =
    "No Company is open in Tally!!!\rAtleast one company must be open in Tally.\r\rYou must "
    "start Tally Software and open the\rCompany in which data is to be imported.\rWant to retry ?";
const char* const UnreachableQuestion =
    "Could not Connect to Tally.\r\rYou must start Tally Software and open the\rCompany in which "
    "data is to be imported.\rWant to retry ?";

// A port where nothing listens on this machine.
const QString ClosedPort = "1";

// The port of a stand-in Tally started with args, or a port where nothing listens when args is
// empty; an empty text when the stand-in did not start.
QString TallyPort(const QStringList& args, std::optional<StandIn>& tally) {
    if (args.isEmpty()) return ClosedPort;
    tally.emplace(args);
    return tally->Started() ? tally->Port() : QString();
}

}  // namespace

class ExportWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void wholeRoadByKeyboard();
    void wholeRoadByMouse();
    void exportFailuresEndTheProgram_data();
    void exportFailuresEndTheProgram();
    void emptyAnswerWritesNothing();
    void missingAddonMessageWithWindowHidden();
    void portThatIsNoNumber();
    void writeFailuresLeaveTheProgramRunning_data();
    void writeFailuresLeaveTheProgramRunning();
    void testConnection_data();
    void testConnection();
    void startStaysDisabledForGood();
    void windowPaintsAndIgnoresCloseWhileWaiting();
    void testConnectionPaintsAndIgnoresCloseWhileWaiting();
};

void ExportWindowTest::initTestCase() {
#ifndef TALLY_STANDIN_PATH
    QSKIP("the stand-in Tally is not built");
#endif
}

void ExportWindowTest::wholeRoadByKeyboard() {
    StandIn tally({"--vouchers", "7"});
    QVERIFY(tally.Started());
    WizardHarness h(IniFor(tally.Port()));
    h.Start();
    Wizard& w = *h.wizard;
    Key(Qt::Key_Return);  // Next, the default button
    QVERIFY(WaitActive(w.Period()));
    auto& period = w.Period().Form();
    QCOMPARE(QApplication::focusWidget(), period.edtFromDate);
    Type("1-4-2024");
    Key(Qt::Key_Return);  // Enter moves on as Tab
    QCOMPARE(QApplication::focusWidget(), period.edtToDate);
    Key(Qt::Key_Return, Qt::ShiftModifier);  // and back with Shift
    QCOMPARE(QApplication::focusWidget(), period.edtFromDate);
    Key(Qt::Key_Tab);
    Type("31.3.2025");
    Key(Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), period.edtFileName);
    period.edtFileName->selectAll();
    Type("  branch.dat ");
    Key(Qt::Key_Return);  // to Next, without pressing it
    QCOMPARE(QApplication::focusWidget(), period.btnNext);
    QCOMPARE(h.VisibleWindow(), &w.Period());
    Key(Qt::Key_Return);  // presses Next
    QVERIFY(WaitActive(w.Export()));
    QCOMPARE(QApplication::focusWidget(), w.Export().Form().btnStart);
    Key(Qt::Key_Return);  // Start, the default button

    QVERIFY(h.dialogs.Shown().empty());
    // The engine may add a note on characters that the file's code page lacks before the
    // last line.
    const QStringList lines = Lines(w.Export());
    QVERIFY2(lines.size() == 4 || lines.size() == 5, qPrintable(lines.join('|')));
    QVERIFY(lines[0].startsWith("Process started at "));
    QCOMPARE(lines[1], QString("Retrieving data..."));
    // The file name trimmed and in capitals; the file itself under the name as typed.
    QCOMPARE(lines[2], QString("Number of Vouchers exported to file BRANCH.DAT... [7 nos]"));
    QVERIFY(lines.last().startsWith("Process completed at "));
    QVERIFY(QFileInfo(h.Dir() + "/  branch.dat ").size() > 2);
    QVERIFY(!w.Export().Form().btnStart->isEnabled());
    QVERIFY(!w.Export().Form().btnPrevious->isEnabled());
    QVERIFY(w.Export().Form().lblTransferStatus->text().startsWith("Received "));
    QVERIFY(!h.control.halted);
    Screenshot(w.Export(), "export-completed");
}

void ExportWindowTest::wholeRoadByMouse() {
    StandIn tally;
    QVERIFY(tally.Started());
    WizardHarness h;
    h.Start();
    Wizard& w = *h.wizard;
    Click(w.Welcome().Form().btnNext);
    QVERIFY(WaitActive(w.Period()));
    Click(w.Period().Form().btnSettings);
    QVERIFY(WaitActive(w.ServerSettings()));
    auto& settings = w.ServerSettings().Form();
    QTest::mouseClick(settings.edtServerPort, Qt::LeftButton);
    settings.edtServerPort->selectAll();
    Type(tally.Port());
    Click(settings.btnSave);
    QCOMPARE(Boxes(h.dialogs), QStringList{"Settings saved successfully"});
    QVERIFY(WaitActive(w.Period()));
    auto& period = w.Period().Form();
    QTest::mouseClick(period.edtFromDate, Qt::LeftButton);
    Type("1/4/2024");
    QTest::mouseClick(period.edtToDate, Qt::LeftButton);
    Type("31/3/2025");
    period.edtFileName->setText(h.Dir() + "/mouse.dat");
    Click(period.btnNext);
    QVERIFY(WaitActive(w.Export()));
    h.dialogs.ClearShown();
    Click(w.Export().Form().btnTestConnection);
    QCOMPARE(Boxes(h.dialogs), QStringList{"Tally is Running"});
    QCOMPARE(h.dialogs.Shown()[0].kind, BoxKind::Information);
    Click(w.Export().Form().btnStart);
    QVERIFY(Lines(w.Export()).last().startsWith("Process completed at "));
    QVERIFY(QFileInfo(h.Dir() + "/mouse.dat").size() > 2);
    // Previous is gone for good; Exit still asks.
    Click(w.Export().Form().btnPrevious);
    QCOMPARE(h.VisibleWindow(), &w.Export());
}

void ExportWindowTest::exportFailuresEndTheProgram_data() {
    QTest::addColumn<QStringList>("standInArgs");  // empty: no server at all
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("parseErr");
    QTest::newRow("no company") << QStringList{"--fault", "no-company"}
                                << "Error:- Company not Open in Tally.\r" << false;
    QTest::newRow("unreachable") << QStringList{} << "Tally is not Running" << false;
    QTest::newRow("malformed answer") << QStringList{"--fault", "malformed"} << "XML Parse Error."
                                      << true;
}

void ExportWindowTest::exportFailuresEndTheProgram() {
    QFETCH(QStringList, standInArgs);
    QFETCH(QString, message);
    QFETCH(bool, parseErr);
    std::optional<StandIn> tally;
    const QString port = TallyPort(standInArgs, tally);
    QVERIFY(!port.isEmpty());
    WizardHarness h(IniFor(port));
    h.Start();
    ToExport(h, h.Dir() + "/sub/out.dat");
    const auto halt = HaltOf([&] { Click(h.wizard->Export().Form().btnStart); });
    // One message, then the process ends as a failure; no file and no further line.
    QCOMPARE(halt, std::optional<int>(1));
    QCOMPARE(h.dialogs.Shown().size(), size_t(1));
    QCOMPARE(h.dialogs.Shown()[0].kind, BoxKind::Information);
    QVERIFY(Text(h.dialogs.Shown()[0].text).startsWith(message));
    QCOMPARE(Lines(h.wizard->Export()).size(), 2);
    QVERIFY(!QFileInfo::exists(h.Dir() + "/sub/out.dat"));
    QCOMPARE(QFileInfo::exists(h.Dir() + "/Parse.err"), parseErr);
}

void ExportWindowTest::emptyAnswerWritesNothing() {
    StandIn tally({"--fault", "empty"});
    QVERIFY(tally.Started());
    WizardHarness h(IniFor(tally.Port()));
    h.Start();
    ToExport(h);
    Click(h.wizard->Export().Form().btnStart);
    const QStringList lines = Lines(h.wizard->Export());
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[2], QString("No data retrieved from the Tally Company."));
    QVERIFY(h.dialogs.Shown().empty());
    QVERIFY(!QFileInfo::exists(h.Dir() + "/out.dat"));
    QVERIFY(!h.control.halted);
}

void ExportWindowTest::missingAddonMessageWithWindowHidden() {
    StandIn tally({"--fault", "no-addon"});
    QVERIFY(tally.Started());
    WizardHarness h(IniFor(tally.Port()));
    h.Start();
    ToExport(h);
    bool hiddenMeanwhile = false;
    h.dialogs.onShown = [&](const ShownBox&) { hiddenMeanwhile = !h.wizard->Export().isVisible(); };
    Click(h.wizard->Export().Form().btnStart);
    QCOMPARE(h.dialogs.Shown().size(), size_t(1));
    QVERIFY(Text(h.dialogs.Shown()[0].text)
                .startsWith("It appears that the KORVANE TCP is not loaded."));
    QVERIFY(hiddenMeanwhile);
    QVERIFY(h.wizard->Export().isVisible());
    QVERIFY(!h.control.halted);
    // No file then, and a last line that says so.
    const QStringList lines = Lines(h.wizard->Export());
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[2], QString(NothingWrittenLine));
    QVERIFY(!QFileInfo::exists(h.Dir() + "/out.dat"));
}

void ExportWindowTest::portThatIsNoNumber() {
    WizardHarness h;
    h.Start();
    ToExport(h);
    // A port that only a hand-edited setting or an older version could leave in the state.
    h.wizard->State().serverPortText = "abc";
    Click(h.wizard->Export().Form().btnStart);
    QCOMPARE(Boxes(h.dialogs), QStringList{"'abc' is not a valid integer value."});
    QCOMPARE(h.dialogs.Shown()[0].kind, BoxKind::Exception);
    QCOMPARE(Lines(h.wizard->Export()).size(), 2);
    QVERIFY(!h.wizard->Export().Form().btnStart->isEnabled());
    QVERIFY(!h.control.halted);
    // The same error from Test Connection leaves the window as it was.
    h.dialogs.ClearShown();
    Click(h.wizard->Export().Form().btnTestConnection);
    QCOMPARE(Boxes(h.dialogs), QStringList{"'abc' is not a valid integer value."});
    QCOMPARE(h.VisibleWindow(), &h.wizard->Export());
}

void ExportWindowTest::writeFailuresLeaveTheProgramRunning_data() {
    QTest::addColumn<QStringList>("standInArgs");
    QTest::addColumn<QStringList>("boxes");  // the start of each box's text
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("lines");
    QTest::newRow("output folder missing")
        << QStringList{} << QStringList{"Invalid filename."} << "sub/out.dat" << 3;
    QTest::newRow("Parse.err blocked")
        << QStringList{"--fault", "malformed"}
        << QStringList{"XML Parse Error.", "File access denied."} << "out.dat" << 2;
}

void ExportWindowTest::writeFailuresLeaveTheProgramRunning() {
    QFETCH(QStringList, standInArgs);
    QFETCH(QStringList, boxes);
    QFETCH(QString, file);
    QFETCH(int, lines);
    StandIn tally(standInArgs);
    QVERIFY(tally.Started());
    WizardHarness h(IniFor(tally.Port()));
    h.Start();
    // A folder where Parse.err should go makes its write fail.
    QVERIFY(QDir(h.Dir()).mkdir("Parse.err"));
    ToExport(h, h.Dir() + "/" + file);
    const auto halt = HaltOf([&] { Click(h.wizard->Export().Form().btnStart); });
    // The failed write goes to the default exception box and the program goes on, with the
    // lines written so far and Start and Previous disabled.
    QCOMPARE(halt, std::nullopt);
    QCOMPARE(h.dialogs.Shown().size(), size_t(boxes.size()));
    for (int i = 0; i < boxes.size(); ++i) {
        QVERIFY2(Text(h.dialogs.Shown()[i].text).startsWith(boxes[i]),
                 h.dialogs.Shown()[i].text.c_str());
    }
    QCOMPARE(h.dialogs.Shown().back().kind, BoxKind::Exception);
    QCOMPARE(Lines(h.wizard->Export()).size(), lines);
    QVERIFY(!QFileInfo::exists(h.Dir() + "/" + file));
    QVERIFY(!h.wizard->Export().Form().btnStart->isEnabled());
    QVERIFY(!h.wizard->Export().Form().btnPrevious->isEnabled());
    QCOMPARE(h.VisibleWindow(), &h.wizard->Export());
    QVERIFY(h.control.terminations.empty());
}

void ExportWindowTest::testConnection_data() {
    QTest::addColumn<QStringList>("standInArgs");  // empty: no server at all
    QTest::addColumn<korvane::BoxAnswer>("answer");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<bool>("halts");
    QTest::addColumn<bool>("backToWelcome");
    QTest::newRow("running") << QStringList{"--vouchers", "1"} << BoxAnswer::Yes
                             << QStringList{"Tally is Running"} << false << false;
    QTest::newRow("no company, Yes")
        << QStringList{"--fault", "no-company"} << BoxAnswer::Yes
        << QStringList{NoCompanyQuestion, "No Company is open in Tally"} << false << false;
    QTest::newRow("no company, No") << QStringList{"--fault", "no-company"} << BoxAnswer::No
                                    << QStringList{NoCompanyQuestion} << true << false;
    QTest::newRow("unreachable, Yes")
        << QStringList{} << BoxAnswer::Yes << QStringList{UnreachableQuestion} << false << true;
    QTest::newRow("unreachable, box closed")
        << QStringList{} << BoxAnswer::Closed << QStringList{UnreachableQuestion} << true << false;
}

void ExportWindowTest::testConnection() {
    QFETCH(QStringList, standInArgs);
    QFETCH(BoxAnswer, answer);
    QFETCH(QStringList, boxes);
    QFETCH(bool, halts);
    QFETCH(bool, backToWelcome);
    std::optional<StandIn> tally;
    const QString port = TallyPort(standInArgs, tally);
    QVERIFY(!port.isEmpty());
    WizardHarness h(IniFor(port));
    h.Start();
    ToExport(h);
    Wizard& w = *h.wizard;
    h.WriteIni(IniFor("9555"));  // seen only when the test leads back to the welcome window
    h.dialogs.SetNextAnswer(answer);
    const auto halt = HaltOf([&] { Key(Qt::Key_T, Qt::AltModifier); });
    QCOMPARE(Boxes(h.dialogs), boxes);
    // The questions come in the custom Yes/No box, the answers in the information box.
    for (const ShownBox& box : h.dialogs.Shown()) {
        const bool question = Text(box.text).endsWith("Want to retry ?");
        QCOMPARE(box.kind, question ? BoxKind::CustomYesNo : BoxKind::Information);
    }
    QCOMPARE(halt, halts ? std::optional<int>(1) : std::nullopt);
    if (halts) return;
    QWidget* expected = backToWelcome ? static_cast<QWidget*>(&w.Welcome()) : &w.Export();
    QVERIFY(WaitActive(*expected));
    QCOMPARE(h.VisibleWindow(), expected);
    QCOMPARE(w.State().serverPortText, backToWelcome ? std::string("9555") : port.toStdString());
}

void ExportWindowTest::startStaysDisabledForGood() {
    StandIn tally({"--fault", "empty"});
    QVERIFY(tally.Started());
    WizardHarness h(IniFor(tally.Port()));
    h.Start();
    ToExport(h);
    Wizard& w = *h.wizard;
    Click(w.Export().Form().btnStart);
    QCOMPARE(Lines(w.Export()).size(), 3);
    // Back to the welcome window through a failed connection test, and forward again.
    w.State().serverPortText = ClosedPort.toStdString();
    h.dialogs.SetNextAnswer(BoxAnswer::Yes);
    Click(w.Export().Form().btnTestConnection);
    QVERIFY(WaitActive(w.Welcome()));
    Click(w.Welcome().Form().btnNext);
    QVERIFY(WaitActive(w.Period()));
    Click(w.Period().Form().btnNext);
    QVERIFY(WaitActive(w.Export()));
    QVERIFY(!w.Export().Form().btnStart->isEnabled());
    QVERIFY(!w.Export().Form().btnPrevious->isEnabled());
    // Enter no longer starts anything, and the list only grew.
    Key(Qt::Key_Return);
    QCOMPARE(Lines(w.Export()).size(), 3);
}

void ExportWindowTest::windowPaintsAndIgnoresCloseWhileWaiting() {
    StandIn tally({"--fault", "slow", "--delay", "3"});
    QVERIFY(tally.Started());
    WizardHarness h(IniFor(tally.Port()));
    h.Start();
    ToExport(h);
    ExportWindow& window = h.wizard->Export();
    // Timers and paints run while Tally keeps the answer back; a close request meanwhile is
    // not taken.
    QString statusMeanwhile;
    QTimer::singleShot(500, &window, [&] {
        statusMeanwhile = window.Form().lblTransferStatus->text();
        window.close();
    });
    Click(window.Form().btnStart);
    QVERIFY(statusMeanwhile.startsWith("Received "));
    QVERIFY(h.dialogs.Shown().empty());
    QVERIFY(window.isVisible());
    QVERIFY(Lines(window).last().startsWith("Process completed at "));
    QVERIFY(h.control.terminations.empty());
}

void ExportWindowTest::testConnectionPaintsAndIgnoresCloseWhileWaiting() {
    StandIn tally({"--fault", "slow", "--delay", "2"});
    QVERIFY(tally.Started());
    WizardHarness h(IniFor(tally.Port()));
    h.Start();
    ToExport(h);
    ExportWindow& window = h.wizard->Export();
    // Timers and paints run while Tally keeps the answer back; a close request meanwhile is
    // not taken.
    bool ranMeanwhile = false;
    QTimer::singleShot(500, &window, [&] {
        ranMeanwhile = true;
        window.close();
    });
    Click(window.Form().btnTestConnection);
    QVERIFY(ranMeanwhile);
    QCOMPARE(Boxes(h.dialogs), QStringList{"Tally is Running"});
    QVERIFY(window.isVisible());
    QVERIFY(h.control.terminations.empty());
}

int main(int argc, char** argv) {
    KorvaneApplication app(argc, argv);
    ExportWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "export_window_test.moc"
