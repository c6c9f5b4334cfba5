#include "main_window.h"

#include "foundation/fatal.h"
#include "foundation/params.h"
#include "gui/hotkey.h"
#include "link/d2xx.h"
#include "link/link_port.h"
#include "mcu/access.h"
#include "mcu/bus.h"
#include "mcu/ident.h"
#include "selector/mcsys.h"

#include <QApplication>
#include <QButtonGroup>
#include <QGroupBox>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProcess>
#include <QRadioButton>
#include <QScreen>

#include <cstdio>

namespace tarnel {

namespace {

constexpr int kApplIdAddress = 255;
const char* const kApplIdTitle = "Set VELON ApplId";
const char* const kApplIdPrompt = "Enter VELON ApplId  ( 1..7 )";

} // namespace

bool Desktop::InputBox(const QString& title, const QString& prompt, QString& text) {
    QInputDialog box;
    box.setWindowTitle(title);
    box.setLabelText(prompt);
    box.setTextValue(text);
    box_ = &box;
    const bool ok = box.exec() == QDialog::Accepted;
    box_ = nullptr;
    if (ok) {
        text = box.textValue();
    }
    return ok;
}

void Desktop::ErrorBox(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), text, QMessageBox::Ok);
    box_ = &box;
    box.exec();
    box_ = nullptr;
}

void Desktop::CloseBoxes() {
    if (box_ != nullptr) {
        box_->reject();
    }
}

bool Desktop::StartDetached(const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
}

void Desktop::RequestQuit() {
    // A quit before the event loop runs does nothing, also from inside a box's own loop; the
    // flag tells the program not to enter the loop.
    quitRequested_ = true;
    QCoreApplication::quit();
}

SelectorState& Selector() {
    static SelectorState state;
    return state;
}

int ApplIdFromByte(std::uint8_t b) {
    const bool valid = (b & 0xFE) >= 0x20 && (b & 0x0F) == (b >> 4);
    return valid ? b >> 5 : 1;
}

std::uint8_t ApplIdByte(int id) {
    return static_cast<std::uint8_t>(id * 0x22);
}

int ReadApplId(Desktop&) {
    auto& s = Selector();
    mcu::InitMCAppl(s.appl);
    selector::InitImage(s.image, 256);
    if (!selector::ReadImageFromMc(s.image, kApplIdAddress, 1)) {
        return 1; // only reached when a test's fatal handler returns
    }
    return ApplIdFromByte(s.image.Data[kApplIdAddress]);
}

void WriteApplId(Desktop& desktop, int id) {
    auto& s = Selector();
    s.image.Data[kApplIdAddress] = ApplIdByte(id);
    if (!selector::WriteImageToMc(s.image)) {
        desktop.ErrorBox("ApplId could not be written");
    }
    mcu::ResetMCAndWait();
}

bool ConvertApplIdText(const QString& text, int& value) {
    // Converts like the integer reader the dialogue has always used: leading blanks and a
    // sign are taken, digits as far as they go.
    value = 0;
    qsizetype i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const qsizetype digitsStart = i;
    long long v = 0;
    bool overflow = false;
    for (; i < text.size() && text[i].isDigit() && text[i].unicode() < 128; ++i) {
        v = v * 10 + (text[i].unicode() - '0');
        if (v > 0x7FFFFFFFLL) {
            overflow = true; // a number no integer holds did not convert
            v = 0x7FFFFFFFLL;
            break;
        }
    }
    value = static_cast<int>(negative ? -v : v);
    return !overflow && i > digitsStart && i == text.size();
}

bool SplitCommandLine(const QString& commandLine, QString& program, QStringList& arguments) {
    // Blanks separate words; single quotes keep everything literally, double quotes keep
    // blanks and take a backslash before " or \\; a backslash outside quotes keeps the next
    // character. Nothing else is special: ";", "|", "$" and the like are plain text here.
    QStringList words;
    QString word;
    bool inWord = false;
    QChar quote;
    for (qsizetype i = 0; i < commandLine.size(); ++i) {
        const QChar c = commandLine[i];
        if (quote == '\'') {
            if (c == '\'') {
                quote = QChar();
            } else {
                word += c;
            }
        } else if (quote == '"') {
            if (c == '"') {
                quote = QChar();
            } else if (c == '\\' && i + 1 < commandLine.size() &&
                       (commandLine[i + 1] == '"' || commandLine[i + 1] == '\\')) {
                word += commandLine[++i];
            } else {
                word += c;
            }
        } else if (c == ' ' || c == '\t') {
            if (inWord) {
                words << word;
                word.clear();
                inWord = false;
            }
        } else {
            inWord = true;
            if (c == '\'' || c == '"') {
                quote = c;
            } else if (c == '\\' && i + 1 < commandLine.size()) {
                word += commandLine[++i];
            } else {
                word += c;
            }
        }
    }
    if (inWord) {
        words << word;
    }
    if (words.isEmpty() || words.first().isEmpty()) {
        return false;
    }
    program = words.takeFirst();
    arguments = words;
    return true;
}

SelectorWindow::SelectorWindow(const QStringList& arguments, Desktop& desktop, QWidget* parent)
    : QWidget(parent), desktop_(desktop), arguments_(arguments) {
    setObjectName("Form1");
    setWindowTitle("TARNEL");
    QFont font("Tahoma");
    font.setPixelSize(11);
    setFont(font);
    setFixedSize(158, 292);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    group_ = new QGroupBox("Available @ VELON :", this);
    group_->setObjectName("DeviceRadioGroup");
    group_->setGeometry(8, 8, 145, 277);
    buttons_ = new QButtonGroup(this);
    buttons_->setExclusive(true);
    // Only a user's click arrives here; selecting an item from the program does not.
    connect(buttons_, &QButtonGroup::idClicked, this, [this](int id) { DeviceOnClick(id); });
    OnCreate();
}

SelectorWindow::~SelectorWindow() {
    OnDestroy();
}

int SelectorWindow::ItemIndex() const {
    return buttons_->checkedId();
}

int SelectorWindow::ItemCount() const {
    return static_cast<int>(buttons_->buttons().size());
}

void SelectorWindow::OnCreate() {
    // Escape ends the program wherever the focus is.
    escape_ = std::make_unique<gui::EscapeKey>(this, [this] { HotKey(); });
    qApp->installEventFilter(this);
    busy_ = true;
    followUpCommand_ = arguments_.isEmpty() ? QString() : arguments_.first();
    comlink::StartLink();
    if (comlink::LinkDown()) {
        std::string text = "COM could not be opened";
        if (!comlink::LinkError().empty()) {
            text += "\n" + comlink::LinkError();
        }
        foundation::FatalError(text);
        desktop_.RequestQuit(); // reached only when the fatal handler returns (tests)
        return;
    }
    auto& appl = Selector().appl;
    mcu::InitMCAppl(appl);
    mcu::BuildDeviceList(appl);
    if (!appl.busPresent) {
        ApplIdDialogue();
        desktop_.RequestQuit();
    }
    FillDeviceItems();
    SelectItem(appl.currentDevice);
    group_->resize(group_->width(), 30 * appl.lastDeviceIndex + 50);
    busy_ = false;
}

void SelectorWindow::ApplIdDialogue() {
    ranDialogue_ = true;
    hide();
    int shown = ReadApplId(desktop_);
    while (!escaped_) {
        QString text = QString::number(shown);
        const bool ok = desktop_.InputBox(kApplIdTitle, kApplIdPrompt, text);
        if (escaped_) {
            return; // whatever the box answered: Escape ends the program and writes nothing
        }
        if (ok) {
            int value = 0;
            const bool whole = ConvertApplIdText(text, value);
            if (whole && value >= 1 && value <= 7) {
                WriteApplId(desktop_, value);
                return;
            }
            shown = value;
        } else if (shown >= 1 && shown <= 7) {
            return;
        }
    }
}

void SelectorWindow::FillDeviceItems() {
    const auto& appl = Selector().appl;
    for (int i = 0; i <= appl.lastDeviceIndex; ++i) {
        auto* item = new QRadioButton(
            QString::fromStdString(appl.deviceList[static_cast<std::size_t>(i)].name), group_);
        item->setObjectName(QString("DeviceItem%1").arg(i));
        item->setGeometry(8, 18 + 30 * i, 129, 22);
        buttons_->addButton(item, i);
    }
}

void SelectorWindow::SelectItem(int position) {
    const int count = ItemCount();
    if (position < 0 || count == 0) {
        // An exclusive group cannot uncheck its last checked button directly.
        buttons_->setExclusive(false);
        for (auto* b : buttons_->buttons()) {
            b->setChecked(false);
        }
        buttons_->setExclusive(true);
        return;
    }
    buttons_->button(std::min(position, count - 1))->setChecked(true);
}

void SelectorWindow::DeviceOnClick(int position) {
    auto& appl = Selector().appl;
    if (busy_ || position == appl.currentDevice) {
        return;
    }
    if (mcu::SelectDevice(appl, position)) {
        desktop_.RequestQuit();
    } else {
        SelectItem(appl.currentDevice);
    }
}

void SelectorWindow::HotKey() {
    escaped_ = true;
    followUpCommand_.clear();
    desktop_.CloseBoxes();
    desktop_.RequestQuit();
}

bool SelectorWindow::eventFilter(QObject* watched, QEvent* event) {
    // The window's shortcut is dead while the window is hidden or shadowed by a modal box,
    // and a box takes Escape for Cancel; here it ends the program as everywhere else. The key
    // goes on to the box, so that a fatal error box still closes on it.
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape &&
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            HotKey();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SelectorWindow::OnDestroy() {
    if (destroyed_) {
        return;
    }
    destroyed_ = true;
    mcu::CloseMCAppl(Selector().appl);
    comlink::CloseLink();
    if (followUpCommand_.isEmpty()) {
        return;
    }
    // Split into words and started directly: no text of the command line ever reaches a shell.
    QString program;
    QStringList arguments;
    if (!SplitCommandLine(followUpCommand_, program, arguments) ||
        !desktop_.StartDetached(program, arguments)) {
        std::fprintf(stderr, "tarnel: follow-up command could not be started: %s\n",
                     followUpCommand_.toLocal8Bit().constData());
    }
}

} // namespace tarnel
