#include "gui/hotkey.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <array>
#include <cstdlib>

namespace gui {

namespace {

constexpr std::uint32_t kEscapeKeysym = 0xFF1B;
// Caps Lock and Num Lock change nothing about "Escape without modifiers".
constexpr std::array<std::uint16_t, 4> kLockCombinations = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                                            XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

std::uint8_t EscapeKeycode(xcb_connection_t* c) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    const std::uint8_t first = setup->min_keycode;
    const std::uint8_t count = static_cast<std::uint8_t>(setup->max_keycode - first + 1);
    auto* reply =
        xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, first, count), nullptr);
    if (reply == nullptr) {
        return 0;
    }
    std::uint8_t found = 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
    const int perCode = reply->keysyms_per_keycode;
    for (int code = 0; code < count && found == 0 && perCode > 0; ++code) {
        if (syms[code * perCode] == kEscapeKeysym) {
            found = static_cast<std::uint8_t>(first + code);
        }
    }
    std::free(reply);
    return found;
}

} // namespace

TGlobalHotKey::TGlobalHotKey(std::function<void()> onPressed) : onPressed_(std::move(onPressed)) {
    auto* x11 = qGuiApp == nullptr ? nullptr
                                   : qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr) {
        return;
    }
    auto* c = x11->connection();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const std::uint8_t keycode = screen == nullptr ? 0 : EscapeKeycode(c);
    if (keycode == 0) {
        return;
    }
    for (std::uint16_t modifiers : kLockCombinations) {
        auto cookie = xcb_grab_key_checked(c, 1, screen->root, modifiers, keycode,
                                           XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
            // Another client holds the key; the application-wide shortcut still serves.
            std::free(error);
            xcb_ungrab_key(c, keycode, screen->root, XCB_MOD_MASK_ANY);
            xcb_flush(c);
            return;
        }
    }
    connection_ = c;
    root_ = screen->root;
    keycode_ = keycode;
    QCoreApplication::instance()->installNativeEventFilter(this);
}

TGlobalHotKey::~TGlobalHotKey() {
    if (keycode_ == 0) {
        return;
    }
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
    auto* c = static_cast<xcb_connection_t*>(connection_);
    for (std::uint16_t modifiers : kLockCombinations) {
        xcb_ungrab_key(c, keycode_, root_, modifiers);
    }
    xcb_flush(c);
}

bool TGlobalHotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || message == nullptr) {
        return false;
    }
    auto* event = static_cast<xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_KEY_PRESS) {
        return false;
    }
    auto* key = static_cast<xcb_key_press_event_t*>(message);
    if (key->detail != keycode_ || key->event != root_) {
        return false;
    }
    if (onPressed_) {
        onPressed_();
    }
    return true;
}

EscapeKey::EscapeKey(QWidget* window, const std::function<void()>& pressed)
    : shortcut_(QKeySequence(Qt::Key_Escape), window), global_(pressed) {
    shortcut_.setContext(Qt::ApplicationShortcut);
    QObject::connect(&shortcut_, &QShortcut::activated, window, pressed);
}

} // namespace gui
