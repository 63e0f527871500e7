#include "wizard_harness.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QWidget>

#include "app/export_window.h"
#include "app/korvane_application.h"
#include "app/period_window.h"
#include "app/server_settings_window.h"
#include "app/welcome_window.h"

namespace korvane::test {

WizardHarness::WizardHarness(const std::optional<std::string>& iniText) {
    oldDir_ = QDir::currentPath();
    oldHome_ = qgetenv("HOME");
    qputenv("HOME", dir_.path().toUtf8());
    QDir::setCurrent(dir_.path());
    if (iniText) WriteIni(*iniText);
    dialogs.SetScripted(true);
    if (auto* app = qobject_cast<KorvaneApplication*>(qApp)) app->SetDialogs(&dialogs);
    wizard = std::make_unique<Wizard>(dialogs, control);
}

WizardHarness::~WizardHarness() {
    wizard.reset();
    if (auto* app = qobject_cast<KorvaneApplication*>(qApp)) app->SetDialogs(nullptr);
    QDir::setCurrent(oldDir_);
    qputenv("HOME", oldHome_);
}

void WizardHarness::Start() {
    wizard->Start();
    WaitActive(wizard->Welcome());
}

std::string WizardHarness::IniText() const {
    QFile file(IniPath());
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll().toStdString();
}

void WizardHarness::WriteIni(const std::string& text) const {
    QFile file(IniPath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(text.data(), qint64(text.size()));
}

QWidget* WizardHarness::VisibleWindow() const {
    QWidget* found = nullptr;
    for (QWidget* w : std::initializer_list<QWidget*>{&wizard->Welcome(), &wizard->Period(),
                                                      &wizard->Export(),
                                                      &wizard->ServerSettings()}) {
        if (!w->isVisible()) continue;
        if (found) return nullptr;
        found = w;
    }
    return found;
}

bool WaitActive(QWidget& window) { return QTest::qWaitForWindowActive(&window, 5000); }

StandIn::StandIn(const QStringList& args) {
#ifdef TALLY_STANDIN_PATH
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(QStringLiteral(TALLY_STANDIN_PATH), QStringList{"--port", "0"} + args);
    if (!process_.waitForStarted(10000)) return;
    while (!process_.canReadLine() && process_.waitForReadyRead(10000)) {
    }
    const QString line = QString::fromUtf8(process_.readLine());
    const auto match = QRegularExpression(R"(listening on http://[^:]+:(\d+))").match(line);
    if (match.hasMatch()) port_ = match.captured(1).toInt();
#else
    Q_UNUSED(args);
#endif
}

StandIn::~StandIn() {
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
}

void Screenshot(QWidget& window, const QString& name) {
    QDir().mkpath(QStringLiteral(SCREENSHOT_DIR));
    window.grab().save(QStringLiteral(SCREENSHOT_DIR "/") + name + QStringLiteral(".png"));
}

QString Text(const std::string& s) { return QString::fromStdString(s); }

QStringList Boxes(const Dialogs& dialogs) {
    QStringList out;
    for (const ShownBox& box : dialogs.Shown()) out << Text(box.text);
    return out;
}

}  // namespace korvane::test
