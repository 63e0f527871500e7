#pragma once
#include <QPointer>
#include <memory>
#include <string>

#include "app/wizard_window.h"

class QLineEdit;

namespace Ui {
class PeriodWindow;
}

namespace korvane {

class Wizard;

// The period (From Date, To Date) and the output file name. Loads the Configuration section
// once at creation, checks a date when the focus leaves its field, and on Next saves only the
// fields that changed since they were last loaded or saved.
class PeriodWindow : public WizardWindow {
    Q_OBJECT
public:
    explicit PeriodWindow(Wizard& wizard);
    ~PeriodWindow() override;

    Ui::PeriodWindow& Form() { return *ui_; }
    std::string FromDate() const;
    std::string ToDate() const;
    std::string FileName() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FocusChanged(QWidget* old, QWidget* now);
    bool ValidateDateField(QLineEdit& field);
    void btnNextClick();
    void btnPreviousClick();
    void btnSettingsClick();

    Wizard& wizard_;
    std::unique_ptr<Ui::PeriodWindow> ui_;
    // The value last loaded from or saved to the settings file, per field.
    std::string fileNameHint_, fromDateHint_, toDateHint_;
    // A mouse press whose focus change failed the date check must not click its button.
    QPointer<QWidget> refusePressOn_;
    bool returningFocus_ = false;
};

// The default output file: BranchData.dat in the user's home folder, as a full path.
std::string DefaultOutputFileName();

// Equal when equal after turning the letters a to z into capitals; nothing else is folded.
bool SameTextIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace korvane
