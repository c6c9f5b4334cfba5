// The few dialogs the scope window shows go through here, so that a test can take their text,
// or answer a file dialog, instead of a modal box waiting for a click that never comes.
#pragma once

#include <QStringList>

#include <functional>

class QWidget;

namespace scope {

// Shows an information box with one OK button and returns when it is closed.
using InformationBox = std::function<void(QWidget* parent, const QString& text)>;

// Installs box; an empty box puts the real message box back.
void SetInformationBox(InformationBox box);
void ShowInformation(QWidget* parent, const QString& text);

// The window title of every box of the program.
inline constexpr const char* kBoxTitle = "OMBRIX";

// Records the texts instead of showing a box, for the lifetime of the object.
class InformationRecorder {
public:
    InformationRecorder();
    ~InformationRecorder();
    InformationRecorder(const InformationRecorder&) = delete;
    InformationRecorder& operator=(const InformationRecorder&) = delete;

    const QStringList& texts() const { return texts_; }

private:
    QStringList texts_;
};

// What a settings file dialog asks for.
struct FileDialogRequest {
    bool save = false; // a save dialog, which asks before an existing file is replaced
    QString title;
    QString filter; // "description (patterns)"
    QString defaultSuffix;
    QString folder;
};

// Shows a file dialog and returns the chosen path, or an empty text when the user cancelled.
using FileDialog = std::function<QString(QWidget* parent, const FileDialogRequest& request)>;

// Installs dialog; an empty one puts the real file dialog back.
void SetFileDialog(FileDialog dialog);
QString ShowFileDialog(QWidget* parent, const FileDialogRequest& request);

// Answers every file dialog with a path set beforehand (empty: cancel) and keeps the requests,
// for the lifetime of the object.
class FileDialogScript {
public:
    FileDialogScript();
    ~FileDialogScript();
    FileDialogScript(const FileDialogScript&) = delete;
    FileDialogScript& operator=(const FileDialogScript&) = delete;

    void Answer(const QString& path) { answer_ = path; }
    const QList<FileDialogRequest>& requests() const { return requests_; }

private:
    QString answer_;
    QList<FileDialogRequest> requests_;
};

} // namespace scope
