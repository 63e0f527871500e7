#pragma once
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/wizard.h"
#include "app/wizard_control.h"

class QWidget;

namespace korvane::test {

// Records how the wizard wanted to end instead of ending the test program.
class RecordingControl : public WizardControl {
public:
    void TerminateWith(int exitCode) override { terminations.push_back(exitCode); }
    [[noreturn]] void Halt(int exitCode) override {
        halted = exitCode;
        throw HaltRequested{exitCode};
    }
    std::vector<int> terminations;
    std::optional<int> halted;
};

// One wizard in a fresh working directory (its AppDir) with a fresh home folder, scripted
// dialogs and a recording control.
class WizardHarness {
public:
    // iniText, when given, becomes korvane.ini in the working directory before start-up.
    explicit WizardHarness(const std::optional<std::string>& iniText = std::nullopt);
    ~WizardHarness();

    // The first arrival at the welcome window; waits until it is active.
    void Start();

    QString Dir() const { return dir_.path(); }
    QString IniPath() const { return dir_.path() + "/korvane.ini"; }
    std::string IniText() const;
    void WriteIni(const std::string& text) const;

    // The one visible wizard window (nullptr when none or several are visible).
    QWidget* VisibleWindow() const;

    Dialogs dialogs;
    RecordingControl control;
    std::unique_ptr<Wizard> wizard;

private:
    QTemporaryDir dir_;
    QString oldDir_;
    QByteArray oldHome_;
};

// Waits for a window to be the active one, as after a move.
bool WaitActive(QWidget& window);

// The stand-in Tally on a free loopback port.
class StandIn {
public:
    explicit StandIn(const QStringList& args = {});
    ~StandIn();
    bool Started() const { return port_ != 0; }
    QString Port() const { return QString::number(port_); }

private:
    QProcess process_;
    int port_ = 0;
};

QString Text(const std::string& s);
// The texts of the boxes shown so far, in order.
QStringList Boxes(const Dialogs& dialogs);

// Writes a picture of the window to the screenshot folder.
void Screenshot(QWidget& window, const QString& name);

}  // namespace korvane::test
