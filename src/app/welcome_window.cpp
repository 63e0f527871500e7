#include "app/welcome_window.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>

#include "app/dialogs.h"
#include "app/period_window.h"
#include "app/wizard.h"
#include "app/wizard_control.h"
#include "core/shared_state.h"
#include "ui_welcome_window.h"

// The picture lives in the static library's resources, which a program linking the library
// must register explicitly.
static void RegisterResources() { Q_INIT_RESOURCE(resources); }

namespace korvane {

WelcomeWindow::WelcomeWindow(Wizard& wizard)
    : wizard_(wizard), ui_(std::make_unique<Ui::WelcomeWindow>()) {
    RegisterResources();
    ui_->setupUi(this);
    SharedState& state = wizard_.State();
    state.appTitle = AppTitle;
    InitFrame(QString::fromUtf8(state.appTitle));
    SetFirstControl(ui_->btnNext);
    state.appDir = QFile::encodeName(QDir::currentPath()).toStdString();

    SetDefaultButton(ui_->btnNext);
    SetCancelButton(ui_->btnExit);
    connect(ui_->btnNext, &QPushButton::clicked, this, [this] { btnNextClick(); });
    connect(ui_->btnExit, &QPushButton::clicked, this, [this] { btnExitClick(); });
}

WelcomeWindow::~WelcomeWindow() = default;

void WelcomeWindow::btnNextClick() { wizard_.Move(*this, wizard_.Period()); }

void WelcomeWindow::btnExitClick() { ConfirmExit(wizard_); }

void WelcomeWindow::closeEvent(QCloseEvent* event) {
    // The main window: its close box ends the program without asking.
    event->accept();
    wizard_.Control().Terminate();
}

void ConfirmExit(Wizard& wizard) {
    if (wizard.GetDialogs().Confirm("Are you sure you want to Quit ?")) wizard.Control().Terminate();
}

}  // namespace korvane
