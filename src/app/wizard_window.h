#pragma once
#include <QPointer>
#include <QPushButton>
#include <QWidget>

class QLineEdit;

namespace korvane {

// What the four wizard windows share: a fixed frame with a 492 x 316 client area, centred on
// its first show and left where the user put it afterwards; Enter as Tab in edit fields;
// Enter through the default button and Esc through the cancel button; access keys that press
// their button at once without moving the focus.
class WizardWindow : public QWidget {
    Q_OBJECT
public:
    explicit WizardWindow(QWidget* parent = nullptr);

    // Shows the window in front and gives the focus back to the control that had it, or to
    // the first control in tab order on the first show.
    void ShowWizardWindow();

protected:
    // To be called by a subclass once its form is set up.
    void InitFrame(const QString& caption);
    void SetFirstControl(QWidget* control) { firstControl_ = control; }
    void SetDefaultButton(QPushButton* button) { defaultButton_ = button; }
    void SetCancelButton(QPushButton* button) { cancelButton_ = button; }
    void EnterAsTab(QLineEdit* field);

    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPointer<QPushButton> defaultButton_;
    QPointer<QPushButton> cancelButton_;
    QPointer<QWidget> lastFocus_;
    QPointer<QWidget> firstControl_;  // tab order 0
    bool shownBefore_ = false;
};

}  // namespace korvane
