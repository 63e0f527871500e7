#pragma once
#include <memory>
#include <string>

#include "app/wizard_window.h"

namespace Ui {
class ExportWindow;
}

namespace korvane {

class Wizard;

// The last step: Start runs the export once, the progress list follows it, and Test
// Connection asks Tally whether it runs with a company open.
class ExportWindow : public WizardWindow {
    Q_OBJECT
public:
    explicit ExportWindow(Wizard& wizard);
    ~ExportWindow() override;

    Ui::ExportWindow& Form() { return *ui_; }

    // Appends a progress line and puts it on the screen at once.
    void AddProgressLine(const std::string& line);
    // Shows how much of the answer has arrived; keeps the window painting meanwhile.
    void ShowTransfer(std::uint64_t bytes, double seconds);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void btnStartClick();
    void btnTestConnectionClick();

    Wizard& wizard_;
    std::unique_ptr<Ui::ExportWindow> ui_;
    bool talkingToTally_ = false;  // an export or a connection test waits for Tally
};

}  // namespace korvane
