// TARNEL's window: lists the applications on the device bus and switches the bus to the one
// clicked; when no bus answers, reads and writes the bus application id in the MC's EEPROM.
// The program ends after that one action and may then start a follow-up command.
#pragma once

#include "mcu/appl.h"
#include "selector/eepmem.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class QButtonGroup;
class QDialog;
class QGroupBox;

namespace gui {
class EscapeKey;
} // namespace gui

namespace tarnel {

// What the window needs from the desktop, so that tests can answer in its place.
struct Desktop {
    virtual ~Desktop() = default;
    // An input box; false when cancelled. text holds the initial text and, on OK, the answer.
    virtual bool InputBox(const QString& title, const QString& prompt, QString& text);
    // A modal error box with one OK button.
    virtual void ErrorBox(const QString& text);
    // Closes the input or error box that is open, as Cancel would; nothing when none is.
    virtual void CloseBoxes();
    // Starts program with arguments as a process of its own, shown normally, not waited for.
    virtual bool StartDetached(const QString& program, const QStringList& arguments);
    // Asks the application to end: at once when its event loop runs; a request made before
    // (while the window is being created) keeps the program from entering its loop at all.
    virtual void RequestQuit();
    bool QuitRequested() const { return quitRequested_; }

private:
    QPointer<QDialog> box_;
    bool quitRequested_ = false;
};

// The selector program's module state: the one MC record and the EEPROM image of the run.
struct SelectorState {
    mcu::MCAppl appl;
    selector::oEEPMem image;
};
SelectorState& Selector();

// ApplId 1..7 from the byte kept at EEPROM address 255 (1 when the byte holds none).
int ApplIdFromByte(std::uint8_t b);
// The byte that stores id (id x 0x22, modulo 256).
std::uint8_t ApplIdByte(int id);
// Reads the MC's bus application id.
int ReadApplId(Desktop& desktop);
// Writes the bus application id; reports a failed write in an error box; always resets the MC.
void WriteApplId(Desktop& desktop, int id);

// How the text of the ApplId box converts: value is what converted as far as it did (0 when
// it starts with no digit); the result is true when the whole text converted.
bool ConvertApplIdText(const QString& text, int& value);

// Splits a follow-up command line into program and arguments the way a shell would split
// words and quotes, without ever running a shell.
bool SplitCommandLine(const QString& commandLine, QString& program, QStringList& arguments);

class SelectorWindow : public QWidget {
    Q_OBJECT

public:
    // Runs OnCreate; arguments are the program's arguments without the program itself.
    SelectorWindow(const QStringList& arguments, Desktop& desktop, QWidget* parent = nullptr);
    ~SelectorWindow() override;

    bool Busy() const { return busy_; }
    const QString& FollowUpCommand() const { return followUpCommand_; }
    // The position of the checked item, -1 when none.
    int ItemIndex() const;
    int ItemCount() const;
    // No bus answered and the ApplId dialogue ran: the window is not to be shown.
    bool RanApplIdDialogue() const { return ranDialogue_; }

    void DeviceOnClick(int position);
    // Escape: ends the program without the follow-up command, also from the ApplId box, and
    // writes nothing more.
    void HotKey();
    // Closes the record and the link and starts the follow-up command; runs once.
    void OnDestroy();

protected:
    // Escape in one of the program's boxes, where the window's shortcut does not reach.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnCreate();
    void ApplIdDialogue();
    void FillDeviceItems();
    void SelectItem(int position);

    Desktop& desktop_;
    QStringList arguments_;
    bool busy_ = false;
    bool destroyed_ = false;
    bool ranDialogue_ = false;
    bool escaped_ = false;
    QString followUpCommand_;
    QGroupBox* group_ = nullptr;
    QButtonGroup* buttons_ = nullptr;
    std::unique_ptr<gui::EscapeKey> escape_;
};

} // namespace tarnel
