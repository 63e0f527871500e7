#include "app/period_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QTimer>

#include "app/dialogs.h"
#include "app/export_window.h"
#include "app/server_settings_window.h"
#include "app/welcome_window.h"
#include "app/wizard.h"
#include "app/wizard_control.h"
#include "core/date_check.h"
#include "core/settings_file.h"
#include "ui_period_window.h"

namespace korvane {

namespace {
constexpr const char* Section = "Configuration";

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text); }
std::string ToUtf8(const QLineEdit& field) { return field.text().toUtf8().toStdString(); }
}  // namespace

std::string DefaultOutputFileName() {
    return QFile::encodeName(QDir::homePath() + QStringLiteral("/BranchData.dat")).toStdString();
}

bool SameTextIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
        if (up(a[i]) != up(b[i])) return false;
    }
    return true;
}

PeriodWindow::PeriodWindow(Wizard& wizard)
    : wizard_(wizard), ui_(std::make_unique<Ui::PeriodWindow>()) {
    ui_->setupUi(this);
    InitFrame(FromUtf8(wizard_.State().appTitle));
    SetFirstControl(ui_->edtFromDate);
    SetCancelButton(ui_->btnExit);
    for (QLineEdit* field : {ui_->edtFromDate, ui_->edtToDate, ui_->edtFileName}) EnterAsTab(field);

    connect(ui_->btnNext, &QPushButton::clicked, this, [this] { btnNextClick(); });
    connect(ui_->btnPrevious, &QPushButton::clicked, this, [this] { btnPreviousClick(); });
    connect(ui_->btnSettings, &QPushButton::clicked, this, [this] { btnSettingsClick(); });
    connect(ui_->btnExit, &QPushButton::clicked, this, [this] { ConfirmExit(wizard_); });
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget* old, QWidget* now) { FocusChanged(old, now); });

    // The Configuration section is read here only; later changes on disk wait for a restart.
    const SettingsFile ini(SettingsPathIn(wizard_.State().appDir));
    fileNameHint_ = ini.ReadString(Section, "OutputFileName");
    if (fileNameHint_.empty()) fileNameHint_ = DefaultOutputFileName();
    ui_->edtFileName->setText(FromUtf8(fileNameHint_));
    if (std::string from = ini.ReadString(Section, "SVFROMDATE"); !from.empty()) {
        ui_->edtFromDate->setText(FromUtf8(from));
        fromDateHint_ = from;
    }
    if (std::string to = ini.ReadString(Section, "SVTODATE"); !to.empty()) {
        ui_->edtToDate->setText(FromUtf8(to));
        toDateHint_ = to;
    }
}

PeriodWindow::~PeriodWindow() = default;

std::string PeriodWindow::FromDate() const { return ToUtf8(*ui_->edtFromDate); }
std::string PeriodWindow::ToDate() const { return ToUtf8(*ui_->edtToDate); }
std::string PeriodWindow::FileName() const { return ToUtf8(*ui_->edtFileName); }

void PeriodWindow::FocusChanged(QWidget* old, QWidget* now) {
    // Only a move to another control of this window checks the date; switching to another
    // window or application does not.
    // Putting the focus back after a failed check leaves the control it had gone to, which
    // the user never left: checking that one too (the other date field) would bounce the
    // focus between two bad dates for ever.
    if (!old || !now || now->window() != this || old == now || returningFocus_) return;
    QLineEdit* field = nullptr;
    if (old == ui_->edtFromDate) field = ui_->edtFromDate;
    if (old == ui_->edtToDate) field = ui_->edtToDate;
    if (!field || ValidateDateField(*field)) return;
    returningFocus_ = true;
    field->setFocus(Qt::OtherFocusReason);
    returningFocus_ = false;
    // When a mouse press moved the focus, the press that follows must not click its button.
    refusePressOn_ = now;
    QTimer::singleShot(0, this, [this] { refusePressOn_ = nullptr; });
}

bool PeriodWindow::ValidateDateField(QLineEdit& field) {
    const std::string text = ToUtf8(field);
    if (text.empty()) return true;
    if (IsValidDate(std::string_view(text), CurrentLocalYear())) return true;
    wizard_.GetDialogs().Information("Invalid Date");
    return false;
}

bool PeriodWindow::eventFilter(QObject* watched, QEvent* event) {
    if (refusePressOn_ && watched == refusePressOn_ &&
        (event->type() == QEvent::MouseButtonPress ||
         event->type() == QEvent::MouseButtonRelease)) {
        if (event->type() == QEvent::MouseButtonRelease) refusePressOn_ = nullptr;
        return true;
    }
    return WizardWindow::eventFilter(watched, event);
}

void PeriodWindow::btnNextClick() {
    Dialogs& dialogs = wizard_.GetDialogs();
    if (ui_->edtFileName->text().isEmpty()) {
        dialogs.Information("Output File-name not specified");
        return;
    }
    if (ui_->edtFromDate->text().isEmpty()) {
        dialogs.Information("FROM-date cannot be empty.");
        ui_->edtFromDate->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (ui_->edtToDate->text().isEmpty()) {
        dialogs.Information("TO-date cannot be empty.");
        ui_->edtToDate->setFocus(Qt::OtherFocusReason);
        return;
    }
    // Each write may throw SettingsWriteError; the hint of a field changes only after its
    // write went through, and the window stays.
    const std::string path = SettingsPathIn(wizard_.State().appDir);
    auto store = [&path](const char* key, const std::string& text, std::string& hint) {
        if (SameTextIgnoringAsciiCase(text, hint)) return;
        WriteIniValue(path, Section, key, text);
        hint = text;
    };
    store("OutputFileName", FileName(), fileNameHint_);
    store("SVFROMDATE", FromDate(), fromDateHint_);
    store("SVTODATE", ToDate(), toDateHint_);
    wizard_.Move(*this, wizard_.Export());
}

void PeriodWindow::btnPreviousClick() { wizard_.ArriveAtWelcome(*this); }

void PeriodWindow::btnSettingsClick() { wizard_.Move(*this, wizard_.ServerSettings()); }

void PeriodWindow::closeEvent(QCloseEvent* event) {
    // Hiding the window would leave the program running with nothing on the screen; its close
    // box asks the Exit confirmation instead.
    event->ignore();
    ConfirmExit(wizard_);
}

}  // namespace korvane
