#include "app/server_settings_window.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <cmath>

#include "app/dialogs.h"
#include "app/period_window.h"
#include "app/wizard.h"
#include "app/wizard_control.h"
#include "core/port_text.h"
#include "core/settings_file.h"
#include "ui_server_settings_window.h"

namespace korvane {

const char* const InvalidPortInFileMessage =
    "Invalid Port specified in the INI file\rCorrect the Port value in the INI file and then "
    "retry\r\rTerminating Application";
// A saved port that does not convert would end the program at every later start, so Save
// refuses it.
const char* const PortRefusedMessage =
    "The Server Port must be a whole number from 1 to 65535.\rNothing has been saved.";

namespace {
constexpr const char* Section = "Tally";
std::string ToUtf8(const QLineEdit& field) { return field.text().toUtf8().toStdString(); }
}  // namespace

bool IsUsablePort(std::string_view text) {
    const auto port = TryPortTextToInt(text);
    return port && *port >= 1 && *port <= 65535;
}

ServerSettingsWindow::ServerSettingsWindow(Wizard& wizard)
    : wizard_(wizard), ui_(std::make_unique<Ui::ServerSettingsWindow>()) {
    ui_->setupUi(this);
    InitFrame(QString::fromUtf8(wizard_.State().appTitle));
    SetFirstControl(ui_->edtServerAddress);
    // The separator spans the client width at 84 % of its height.
    ui_->Bevel2->setGeometry(0, static_cast<int>(std::lround(height() * 84 / 100.0)), width(), 1);
    SetCancelButton(ui_->btnCancel);
    EnterAsTab(ui_->edtServerAddress);
    EnterAsTab(ui_->edtServerPort);
    connect(ui_->btnSave, &QPushButton::clicked, this, [this] { btnSaveClick(); });
    connect(ui_->btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
}

ServerSettingsWindow::~ServerSettingsWindow() = default;

void ServerSettingsWindow::FetchServerInfoFromINI() {
    SharedState& state = wizard_.State();
    const SettingsFile ini(SettingsPathIn(state.appDir));
    std::string port = ini.ReadString(Section, "ServerPort");
    if (port.empty()) port = "9000";
    ui_->edtServerPort->setText(QString::fromUtf8(port));
    std::string address = ini.ReadString(Section, "ServerAddress");
    if (address.empty()) address = "127.0.0.1";
    ui_->edtServerAddress->setText(QString::fromUtf8(address));
    state.serverPortText = port;
    state.serverAddressText = address;
    if (!TryPortTextToInt(state.serverPortText)) {
        wizard_.GetDialogs().Error(InvalidPortInFileMessage);
        wizard_.Control().TerminateWith(1);
    }
}

void ServerSettingsWindow::btnSaveClick() {
    const std::string port = ToUtf8(*ui_->edtServerPort);
    const std::string address = ToUtf8(*ui_->edtServerAddress);
    if (!IsUsablePort(port)) {
        wizard_.GetDialogs().Information(PortRefusedMessage);
        ui_->edtServerPort->setFocus(Qt::OtherFocusReason);
        return;
    }
    // The working directory of this moment; the program never changes it, so this is AppDir.
    const SettingsFile ini(SettingsPathIn(QFile::encodeName(QDir::currentPath()).toStdString()));
    ini.WriteString(Section, "ServerPort", port);
    ini.WriteString(Section, "ServerAddress", address);
    wizard_.State().serverPortText = port;
    wizard_.State().serverAddressText = address;
    wizard_.GetDialogs().Information("Settings saved successfully");
    wizard_.Move(*this, wizard_.Period());
}

void ServerSettingsWindow::btnCancelClick() { wizard_.Move(*this, wizard_.Period()); }

void ServerSettingsWindow::closeEvent(QCloseEvent* event) {
    // Only an explicit No keeps the window; Yes or a dismissed question ends the program.
    if (wizard_.GetDialogs().ConfirmAnswer("Are you sure you want to Quit ? ") == BoxAnswer::No) {
        event->ignore();
        return;
    }
    event->accept();
    wizard_.Control().Terminate();
}

}  // namespace korvane
