#pragma once
#include <memory>
#include <string>

namespace korvane {

class Dialogs;
class WizardControl;
class WizardWindow;
class WelcomeWindow;
class PeriodWindow;
class ExportWindow;
class ServerSettingsWindow;

// State that the four windows share. Plain strings: an address or port of any length fits.
struct SharedState {
    std::string appTitle;
    std::string appDir;  // the working directory at start, folder of the settings file
    std::string serverPortText;
    std::string serverAddressText;
};

// The four windows, created once in the fixed order welcome, period, export, server settings,
// and the moves between them. Exactly one window is visible between moves.
class Wizard {
public:
    Wizard(Dialogs& dialogs, WizardControl& control);
    ~Wizard();

    // Shows the welcome window: the first arrival, which loads the server settings.
    void Start();

    // Shows the target, then hides the window the user came from.
    void Move(WizardWindow& from, WizardWindow& to);
    // A move to the welcome window; every such arrival reloads the server settings.
    void ArriveAtWelcome(WizardWindow& from);

    SharedState& State() { return state_; }
    Dialogs& GetDialogs() { return dialogs_; }
    WizardControl& Control() { return control_; }

    WelcomeWindow& Welcome() { return *welcome_; }
    PeriodWindow& Period() { return *period_; }
    ExportWindow& Export() { return *export_; }
    ServerSettingsWindow& ServerSettings() { return *settings_; }

private:
    void Arrived();

    Dialogs& dialogs_;
    WizardControl& control_;
    SharedState state_;
    std::unique_ptr<WelcomeWindow> welcome_;
    std::unique_ptr<PeriodWindow> period_;
    std::unique_ptr<ExportWindow> export_;
    std::unique_ptr<ServerSettingsWindow> settings_;
};

}  // namespace korvane
