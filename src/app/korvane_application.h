#pragma once
#include <QApplication>

namespace korvane {

class Dialogs;

// The application object. An exception that escapes an event handler ends that handler only:
// it is shown in the default exception box and the program goes on.
class KorvaneApplication : public QApplication {
    Q_OBJECT
public:
    KorvaneApplication(int& argc, char** argv);
    void SetDialogs(Dialogs* dialogs) { dialogs_ = dialogs; }
    bool notify(QObject* receiver, QEvent* event) override;

private:
    Dialogs* dialogs_ = nullptr;
};

// Style and fonts of the wizard, shared by the program and its tests.
void ApplyWizardLook();

}  // namespace korvane
