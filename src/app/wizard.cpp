#include "app/wizard.h"

#include "app/export_window.h"
#include "app/period_window.h"
#include "app/server_settings_window.h"
#include "app/welcome_window.h"

namespace korvane {

Wizard::Wizard(Dialogs& dialogs, WizardControl& control) : dialogs_(dialogs), control_(control) {
    // The order is binding: the welcome window fills the shared state that the others read
    // while they are created.
    welcome_ = std::make_unique<WelcomeWindow>(*this);
    period_ = std::make_unique<PeriodWindow>(*this);
    export_ = std::make_unique<ExportWindow>(*this);
    settings_ = std::make_unique<ServerSettingsWindow>(*this);
}

Wizard::~Wizard() = default;

void Wizard::Start() {
    welcome_->ShowWizardWindow();
    Arrived();
}

void Wizard::Move(WizardWindow& from, WizardWindow& to) {
    to.ShowWizardWindow();
    from.hide();
}

void Wizard::ArriveAtWelcome(WizardWindow& from) {
    Move(from, *welcome_);
    Arrived();
}

void Wizard::Arrived() { settings_->FetchServerInfoFromINI(); }

}  // namespace korvane
