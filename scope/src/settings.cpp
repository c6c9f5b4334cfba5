// Settings files and the clipboard: the eleven stored controls, the settings folder of the MC
// application with recent.dsw read at start and written at exit, the pop-up menu's Save
// Settings, Load Settings and Copy To ClipBoard, and "Clear His and Exit".
#include "foundation/numbers.h"
#include "foundation/params.h"
#include "panels/channel_panel.h"
#include "panels/setter_panel.h"
#include "panels/trigger_panel.h"
#include "panels/xvar_panel.h"
#include "persistence/rtti.h"
#include "persistence/serializers.h"
#include "scope/dialogs.h"
#include "scope/scope_window.h"
#include "scope/settings_folder.h"

#include <QAbstractItemModel>
#include <QClipboard>
#include <QCoreApplication>
#include <QDateTime>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <system_error>

namespace scope {

namespace {

const char* const kDialogTitle = "Select OMBRIX settings data safe file";
// File names are case-sensitive here while settings files come in either spelling ("*.DSW" from
// other machines, "*.dsw" as we save them): both are listed, so no settings file is hidden.
const char* const kDialogFilter = "DataSafeFileWindows *.dsw (*.DSW *.dsw)";
const char* const kDefaultExtension = "dsw";

// Creates the folder with its parents; true when it is there and this user may write in it.
bool MakeWritableFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return std::filesystem::is_directory(folder, error) &&
           ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool HasExtension(const std::string& path) {
    return std::filesystem::path(path).has_extension();
}

std::string WithSeparator(std::string folder) {
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

// An application name is one folder, whatever applid.inc spells it with.
std::string FolderName(std::string applName) {
    std::replace(applName.begin(), applName.end(), '/', '_');
    return applName;
}

} // namespace

std::string UserConfigFolder() {
    // Only an absolute XDG_CONFIG_HOME counts; a relative one is to be ignored.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.config";
    }
    return {};
}

std::string SettingsFolderOf(const std::string& rootFolder, const std::string& applName) {
    return WithSeparator(rootFolder) + "user/dsf/ombrix/" + FolderName(applName);
}

std::string FallbackSettingsFolderOf(const std::string& configFolder, const std::string& applName) {
    return WithSeparator(configFolder) + "ombrix/" + FolderName(applName);
}

// --- start-up and exit -----------------------------------------------------------------------

void ScopeWindow::RegisterStoredControls() {
    auto& serializer = persistence::GlobalSerializer();
    for (persistence::TComponent* control : std::initializer_list<persistence::TComponent*>{
             ChannelBox(1), ChannelBox(2), channelPanels_[2]->OnBox(), ChannelBox(3),
             channelPanels_[3]->OnBox(), ChannelBox(0), xPanel_->OnBox(), xPanel_->RecentOnlyBox(),
             setterPanels_[1]->NameBox(), setterPanels_[2]->NameBox(), triggerPanel_->NameBox()}) {
        serializer.RegisterComponent(control);
    }
}

void ScopeWindow::WatchStoredControls() {
    // recent.dsw is otherwise written only by the exit save, which a lost display connection
    // never reaches: Qt then ends the process without destroying the window.
    settingsWatch_ = new QObject(this);
    const auto changed = [this] { StoredControlChanged(); };
    // What a settings file keeps of them: the text and the item list of a combo box, the
    // state of a check box, whoever changes it.
    for (TComboBox* box :
         {ChannelBox(1), ChannelBox(2), ChannelBox(3), ChannelBox(0), setterPanels_[1]->NameBox(),
          setterPanels_[2]->NameBox(), triggerPanel_->NameBox()}) {
        connect(box->lineEdit(), &QLineEdit::textChanged, settingsWatch_, changed);
        const QAbstractItemModel* items = box->model();
        connect(items, &QAbstractItemModel::rowsInserted, settingsWatch_, changed);
        connect(items, &QAbstractItemModel::rowsRemoved, settingsWatch_, changed);
        connect(items, &QAbstractItemModel::rowsMoved, settingsWatch_, changed);
        connect(items, &QAbstractItemModel::dataChanged, settingsWatch_, changed);
        connect(items, &QAbstractItemModel::modelReset, settingsWatch_, changed);
        connect(items, &QAbstractItemModel::layoutChanged, settingsWatch_, changed);
    }
    for (TCheckBox* box : {channelPanels_[2]->OnBox(), channelPanels_[3]->OnBox(), xPanel_->OnBox(),
                           xPanel_->RecentOnlyBox()}) {
        connect(box, &QCheckBox::stateChanged, settingsWatch_, changed);
    }
}

void ScopeWindow::StoredControlChanged() {
    if (destroyed_ || recentPath_.empty() || settingsTimer_->isActive()) {
        return;
    }
    settingsTimer_->start();
}

bool ScopeWindow::SettingsSavePending() const {
    return settingsTimer_->isActive();
}

void ScopeWindow::SaveChangedSettings() {
    settingsTimer_->stop();
    if (destroyed_ || recentPath_.empty()) {
        return;
    }
    std::string error;
    if (SaveSettingsFile(recentPath_, error)) {
        lastSaveError_.clear();
        return;
    }
    // A box in the middle of typing a name would be worse than the lost save; the exit save
    // tries again and shows it.
    if (error != lastSaveError_) {
        std::fprintf(stderr, "ombrix: settings not saved: %s\n", error.c_str());
        lastSaveError_ = error;
    }
}

void ScopeWindow::OnSessionEnd() {
    SaveChangedSettings();
}

void ScopeWindow::PrepareSettingsFolder() {
    settingsFolder_ = SettingsFolderOf(foundation::Paths().rootFolder, applName_);
    // An installation root the user may not write (/usr, a read-only medium) would lose every
    // setting without a word; the user's own configuration folder takes them instead.
    if (!MakeWritableFolder(settingsFolder_)) {
        const std::string config = UserConfigFolder();
        if (!config.empty()) {
            const std::string fallback = FallbackSettingsFolderOf(config, applName_);
            if (MakeWritableFolder(fallback)) {
                settingsFolder_ = fallback;
            }
        }
    }
    recentPath_ = settingsFolder_ + "/recent.dsw";
}

void ScopeWindow::LoadRecentSettings() {
    std::string error;
    if (!LoadSettingsFile(recentPath_, error)) {
        // The controls loaded before the fault keep their values; the rest start as designed.
        ShowInformation(
            this, QString("Settings file %1 could not be read:\n%2")
                      .arg(QString::fromStdString(recentPath_), QString::fromStdString(error)));
    }
}

void ScopeWindow::SaveRecentSettings() {
    if (recentPath_.empty()) {
        return;
    }
    std::string error;
    if (!SaveSettingsFile(recentPath_, error)) {
        std::fprintf(stderr, "ombrix: settings not saved: %s\n", error.c_str());
        ShowInformation(
            this, QString("Settings could not be saved to %1:\n%2")
                      .arg(QString::fromStdString(recentPath_), QString::fromStdString(error)));
    }
}

bool ScopeWindow::SaveSettingsFile(const std::string& path, std::string& error) {
    auto& serializer = persistence::GlobalSerializer();
    // Once on, it stays on for every later save of the run.
    serializer.SetRestrictedMode(true);
    try {
        // Every control goes into one store that is written once: a fault half-way leaves the
        // previous file whole instead of a mix of old and new controls.
        persistence::TIniFile file(path);
        const auto& registered = serializer.RegisteredComponents();
        for (std::size_t i = 0; i < registered.size(); ++i) {
            persistence::TComponent* control = registered[i];
            persistence::TrtWrapper wrapper(control);
            serializer.SaveWrapperToIni(&wrapper, file,
                                        control->ClassName() + foundation::IntToText(i));
        }
        file.UpdateFile();
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    return true;
}

bool ScopeWindow::LoadSettingsFile(const std::string& path, std::string& error) {
    try {
        persistence::GlobalSerializer().LoadRegistered(path);
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    return true;
}

// --- the pop-up menu and "Clear His and Exit" ------------------------------------------------

QString ScopeWindow::StampedFileName(const std::string& folder, const char* suffix) const {
    return QString::fromStdString(folder) + "/" + QString::fromStdString(applName_) +
           QDateTime::currentDateTime().toString("-yyyyMMdd-HHmmss") + suffix;
}

void ScopeWindow::SaveSettingsClick() {
    FileDialogRequest request;
    request.save = true;
    request.title = kDialogTitle;
    request.filter = kDialogFilter;
    request.defaultSuffix = kDefaultExtension;
    request.folder = QString::fromStdString(settingsFolder_);
    const QString chosen = ShowFileDialog(this, request);
    if (chosen.isEmpty()) {
        return;
    }
    std::string path = chosen.toStdString();
    // What the dialog's default extension does, done here too for dialogs that leave it out.
    if (!HasExtension(path)) {
        path += std::string(".") + kDefaultExtension;
    }
    std::string error;
    if (!SaveSettingsFile(path, error)) {
        ShowInformation(this,
                        QString("Settings could not be saved to %1:\n%2")
                            .arg(QString::fromStdString(path), QString::fromStdString(error)));
    }
}

void ScopeWindow::LoadSettingsClick() {
    FileDialogRequest request;
    request.title = kDialogTitle;
    request.filter = kDialogFilter;
    request.defaultSuffix = kDefaultExtension;
    request.folder = QString::fromStdString(settingsFolder_);
    const QString chosen = ShowFileDialog(this, request);
    if (chosen.isEmpty()) {
        return;
    }
    std::string path = chosen.toStdString();
    std::error_code fsError;
    if (!std::filesystem::exists(path, fsError) && !HasExtension(path)) {
        path += std::string(".") + kDefaultExtension;
    }
    if (!std::filesystem::is_regular_file(path, fsError)) {
        ShowInformation(this,
                        QString("Settings file %1 not found").arg(QString::fromStdString(path)));
        return;
    }
    // Only what the file holds is applied: a check box that changes runs its click behaviour,
    // VarName1 is not resolved again.
    std::string error;
    if (!LoadSettingsFile(path, error)) {
        ShowInformation(this,
                        QString("Settings file %1 could not be read:\n%2")
                            .arg(QString::fromStdString(path), QString::fromStdString(error)));
    }
}

void ScopeWindow::ClearHisClick() {
    settingsTimer_->stop();
    if (!recentPath_.empty()) {
        std::error_code error;
        std::filesystem::remove(recentPath_, error);
    }
    recentPath_.clear();
    QCoreApplication::exit(0);
}

void ScopeWindow::CopyToClipBoardClick() {
    const QImage image = ScreenImage();
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->setImage(image);
    }
}

} // namespace scope
