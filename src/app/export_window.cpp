#include "app/export_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <exception>

#include "app/dialogs.h"
#include "app/period_window.h"
#include "app/welcome_window.h"
#include "app/wizard.h"
#include "app/wizard_control.h"
#include "core/export_run.h"
#include "core/probe.h"
#include "core/tally_result.h"
#include "ui_export_window.h"

namespace korvane {

namespace {

constexpr const char* TallyIsRunning = "Tally is Running";
constexpr const char* NoCompanyIsOpen = "No Company is open in Tally";

// Lets Qt paint while the engine blocks the GUI thread, but takes no user input: a click or a
// key press must not start anything in the middle of an export.
void PaintNow() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

// Set while a handler waits for Tally, so that a close request meanwhile is not taken.
class BusyFlag {
public:
    explicit BusyFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~BusyFlag() { flag_ = false; }
    BusyFlag(const BusyFlag&) = delete;
    BusyFlag& operator=(const BusyFlag&) = delete;

private:
    bool& flag_;
};

// The export run as the window shows it.
class WindowObserver : public ExportObserver {
public:
    WindowObserver(ExportWindow& window, Dialogs& dialogs) : window_(window), dialogs_(dialogs) {
        clock_.start();
    }

    void ProgressLine(const std::string& line) override { window_.AddProgressLine(line); }

    void BytesReceived(std::uint64_t bytes) noexcept override {
        // Called very often; a few updates a second keep the window alive without slowing
        // the transfer.
        bytes_ = bytes;
        if (shownOnce_ && clock_.elapsed() - lastUpdateMs_ < 100) return;
        shownOnce_ = true;
        lastUpdateMs_ = clock_.elapsed();
        try {
            ShowTransfer();
        } catch (...) {
            // Nothing may leave a callback of the transfer.
        }
    }

    // The figures at the end of the transfer, which the throttle may have skipped.
    void ShowTransfer() {
        window_.ShowTransfer(bytes_, static_cast<double>(clock_.elapsed()) / 1000.0);
    }

    void AddonMessage(const std::string& message) override {
        window_.hide();
        dialogs_.Information(message);
        window_.ShowWizardWindow();
    }

    void FatalStop(const std::string& message) override { dialogs_.Information(message); }

    void ParseErrorReport(const std::string& message) override { dialogs_.Information(message); }

private:
    ExportWindow& window_;
    Dialogs& dialogs_;
    QElapsedTimer clock_;
    qint64 lastUpdateMs_ = 0;
    std::uint64_t bytes_ = 0;
    bool shownOnce_ = false;
};

class DialogQuestions : public ProbeQuestions {
public:
    explicit DialogQuestions(Dialogs& dialogs) : dialogs_(dialogs) {}
    bool AskYesNo(const std::string& question) override { return dialogs_.AskYesNo(question); }

private:
    Dialogs& dialogs_;
};

}  // namespace

ExportWindow::ExportWindow(Wizard& wizard)
    : wizard_(wizard), ui_(std::make_unique<Ui::ExportWindow>()) {
    ui_->setupUi(this);
    InitFrame(QString::fromUtf8(wizard_.State().appTitle));
    SetFirstControl(ui_->btnStart);
    SetDefaultButton(ui_->btnStart);
    SetCancelButton(ui_->btnExit);
    connect(ui_->btnStart, &QPushButton::clicked, this, [this] { btnStartClick(); });
    connect(ui_->btnPrevious, &QPushButton::clicked, this,
            [this] { wizard_.Move(*this, wizard_.Period()); });
    connect(ui_->btnExit, &QPushButton::clicked, this, [this] { ConfirmExit(wizard_); });
    connect(ui_->btnTestConnection, &QPushButton::clicked, this,
            [this] { btnTestConnectionClick(); });
}

ExportWindow::~ExportWindow() = default;

void ExportWindow::AddProgressLine(const std::string& line) {
    auto* item = new QListWidgetItem(QString::fromUtf8(line));  // owned by the list once added
    item->setSizeHint(QSize(ui_->ListBox1->viewport()->width(), 13));
    ui_->ListBox1->addItem(item);
    ui_->ListBox1->scrollToItem(item);
    PaintNow();
}

void ExportWindow::ShowTransfer(std::uint64_t bytes, double seconds) {
    ui_->lblTransferStatus->setText(QStringLiteral("Received %1 bytes in %2 s")
                                        .arg(QLocale::system().toString(qulonglong(bytes)))
                                        .arg(seconds, 0, 'f', 1));
    PaintNow();
}

void ExportWindow::btnStartClick() {
    // One export per run of the program: neither button comes back, whatever the outcome.
    ui_->btnStart->setEnabled(false);
    ui_->btnPrevious->setEnabled(false);

    const PeriodWindow& period = wizard_.Period();
    const SharedState& state = wizard_.State();
    ExportSettings settings{period.FromDate(), period.ToDate(), period.FileName(),
                            state.serverAddressText, state.serverPortText};
    WindowObserver observer(*this, wizard_.GetDialogs());
    const BusyFlag busy(talkingToTally_);
    const ExportOutcome outcome = RunExport(settings, observer);
    observer.ShowTransfer();
    switch (outcome) {
    case ExportOutcome::TallyUnreachable:
    case ExportOutcome::NoCompany:
    case ExportOutcome::ParseError:
        // The message has been shown; a failed export ends the program with a failure code.
        wizard_.Control().Halt(1);
    case ExportOutcome::Completed:
    case ExportOutcome::NoData:
    case ExportOutcome::AddonMissing:
        break;
    }
}

void ExportWindow::btnTestConnectionClick() {
    DialogQuestions questions(wizard_.GetDialogs());
    const SharedState& state = wizard_.State();
    // The window keeps painting while Tally is slow to answer, but takes no input meanwhile.
    std::int32_t rc = TALLY_UNREACHABLE;
    {
        const BusyFlag busy(talkingToTally_);
        rc = ProbeTally(state.serverPortText, state.serverAddressText, questions,
                        wizard_.Control(), [](std::uint64_t) { PaintNow(); });
    }
    if (rc == TALLY_OK) {
        wizard_.GetDialogs().Information(TallyIsRunning);
    } else if (rc == TALLY_NO_COMPANY) {
        wizard_.GetDialogs().Information(NoCompanyIsOpen);
    } else {
        // Start over from the first step; the arrival reloads the server settings.
        wizard_.ArriveAtWelcome(*this);
    }
}

void ExportWindow::closeEvent(QCloseEvent* event) {
    // As in the period window: the close box asks the Exit confirmation. While an export or a
    // connection test runs (the window keeps painting meanwhile) a close request is not taken:
    // the question would run inside the transfer.
    event->ignore();
    if (!talkingToTally_) ConfirmExit(wizard_);
}

}  // namespace korvane
