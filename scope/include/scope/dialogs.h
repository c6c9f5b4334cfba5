// The few dialogs the scope window shows go through here, so that a test can take their text
// instead of a modal box waiting for a click that never comes.
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

} // namespace scope
