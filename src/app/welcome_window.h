#pragma once
#include <memory>

#include "app/wizard_window.h"

namespace Ui {
class WelcomeWindow;
}

namespace korvane {

class Wizard;

// The first window: the picture, what the utility does, Next and Exit. It is the main window:
// closing it ends the program at once.
class WelcomeWindow : public WizardWindow {
    Q_OBJECT
public:
    explicit WelcomeWindow(Wizard& wizard);
    ~WelcomeWindow() override;

    Ui::WelcomeWindow& Form() { return *ui_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void btnNextClick();
    void btnExitClick();

    Wizard& wizard_;
    std::unique_ptr<Ui::WelcomeWindow> ui_;
};

// The Exit confirmation of the welcome, period and export windows: Yes ends the program.
void ConfirmExit(Wizard& wizard);

}  // namespace korvane
