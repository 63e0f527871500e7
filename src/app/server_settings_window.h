#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "app/wizard_window.h"

namespace Ui {
class ServerSettingsWindow;
}

namespace korvane {

class Wizard;

// The Tally server's address and port: shown in two fields, saved to the Tally section of the
// settings file, and kept in the shared state for the probe and the export.
class ServerSettingsWindow : public WizardWindow {
    Q_OBJECT
public:
    explicit ServerSettingsWindow(Wizard& wizard);
    ~ServerSettingsWindow() override;

    Ui::ServerSettingsWindow& Form() { return *ui_; }

    // Loads the Tally section into the two fields and the shared state; a port that is not a
    // whole number ends the program after an error box. Runs at every arrival at the welcome
    // window, whether this window is shown or not.
    void FetchServerInfoFromINI();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void btnSaveClick();
    void btnCancelClick();

    Wizard& wizard_;
    std::unique_ptr<Ui::ServerSettingsWindow> ui_;
};

// True for a port text that converts and lies from 1 to 65535.
bool IsUsablePort(std::string_view text);

extern const char* const InvalidPortInFileMessage;
extern const char* const PortRefusedMessage;

}  // namespace korvane
