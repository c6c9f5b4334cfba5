// The Escape key as a hot key that ends the program. Inside the program a window-system
// independent shortcut serves; on X11 the key is also grabbed on the root window, so that it
// ends the program while another application has the focus. The grab is best effort: another
// client holding it, or another window system, leaves only the shortcut.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QShortcut>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

namespace gui {

class TGlobalHotKey : public QAbstractNativeEventFilter {
public:
    // Grabs Escape without modifiers (Caps Lock and Num Lock do not count) for the whole
    // display; pressed calls onPressed.
    explicit TGlobalHotKey(std::function<void()> onPressed);
    ~TGlobalHotKey() override;
    TGlobalHotKey(const TGlobalHotKey&) = delete;
    TGlobalHotKey& operator=(const TGlobalHotKey&) = delete;

    bool Grabbed() const { return keycode_ != 0; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    std::function<void()> onPressed_;
    void* connection_ = nullptr; // xcb_connection_t
    std::uint32_t root_ = 0;
    std::uint8_t keycode_ = 0; // 0: nothing grabbed
};

// Escape as both windows take it: wherever the focus is inside the program, through an
// application-wide shortcut of window, and elsewhere on the display through the grab where
// the window system allows one. Either calls pressed.
class EscapeKey {
public:
    EscapeKey(QWidget* window, const std::function<void()>& pressed);

private:
    QShortcut shortcut_;
    TGlobalHotKey global_;
};

} // namespace gui
