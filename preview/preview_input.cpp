#include "preview_input.h"

#include "preview_core.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWheelEvent>
#include <QWindow>
#include <array>

namespace vantaro {

namespace {
struct MouseState {
    QPointer<QWindow> holder; // the window that hides and holds the pointer, if any
    QPointF lastPosition; // global; the warp target right after a warp
    double movedX = 0; // since the last examination
    int wheelEighths = 0; // since the last examination, less the notches already taken
    int deltaX = 0;
    int wheel = 0;
};
MouseState mouse;

struct KeyboardState {
    std::array<bool, 256> down {}; // as the events left it
    std::array<bool, 256> pressedSince {}; // pressed since the last examination, even if released
    std::array<bool, 256> examined {}; // as the last successful examination saw it
};
KeyboardState keyboard;

// Holding the pointer at the centre leaves room to move every way before the next examination.
QPoint GlobalCentre(const QWindow* window) {
    return window->mapToGlobal(QPoint(window->width() / 2, window->height() / 2));
}

void WarpPointerToCentre(QWindow* window) {
    const QPoint centre = GlobalCentre(window);
    mouse.lastPosition = centre;
    QCursor::setPos(window->screen(), centre);
}

void ForgetMovement() {
    mouse.movedX = 0;
    mouse.wheelEighths = 0;
    mouse.deltaX = 0;
    mouse.wheel = 0;
}
} // namespace

bool StartMouse() {
    StopMouse();
    return qGuiApp != nullptr;
}

bool StartKeyboard() {
    StopKeyboard();
    return qGuiApp != nullptr;
}

void StopMouse() {
    ReleaseMouse();
    ForgetMovement();
}

void StopKeyboard() {
    keyboard = {};
}

void ForgetPreviewInput() {
    StopMouse();
    StopKeyboard();
}

void TakePreviewInput(QWindow* window, const QEvent* event) {
    const bool held = mouse.holder == window;
    switch (event->type()) {
    case QEvent::MouseMove:
        if (held) {
            // Our own warps land on lastPosition and so add nothing.
            const QPointF position = static_cast<const QMouseEvent*>(event)->globalPosition();
            mouse.movedX += position.x() - mouse.lastPosition.x();
            mouse.lastPosition = position;
        }
        break;
    case QEvent::Wheel:
        if (held)
            mouse.wheelEighths += static_cast<const QWheelEvent*>(event)->angleDelta().y();
        break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const auto* key = static_cast<const QKeyEvent*>(event);
        const int code = Set1ScanCode(key->nativeScanCode());
        // X11 repeats a held key as release-press pairs; the key stays down throughout.
        if (code >= 0 && !(event->type() == QEvent::KeyRelease && key->isAutoRepeat())) {
            keyboard.down[code] = event->type() == QEvent::KeyPress;
            // A tap shorter than a frame is over before the next examination; it still counts there.
            keyboard.pressedSince[code] = keyboard.pressedSince[code] || event->type() == QEvent::KeyPress;
        }
        break;
    }
    case QEvent::FocusOut:
        // Releases elsewhere never reach this window.
        keyboard.down = {};
        keyboard.pressedSince = {};
        break;
    default:
        break;
    }
}

void ExamineMouse(QWindow* window) {
    if (!window || !window->isActive()) {
        StopMouse();
        return;
    }
    if (mouse.holder != window) {
        StopMouse();
        mouse.holder = window;
        window->setCursor(Qt::BlankCursor);
        WarpPointerToCentre(window);
        return;
    }
    mouse.deltaX = int(mouse.movedX);
    mouse.movedX -= mouse.deltaX;
    mouse.wheel = TakeWholeNotches(mouse.wheelEighths);
    if (mouse.lastPosition != QPointF(GlobalCentre(window)))
        WarpPointerToCentre(window);
}

int MouseDeltaX() {
    return mouse.deltaX;
}

int MouseWheel() {
    return mouse.wheel;
}

void ReleaseMouse() {
    if (mouse.holder)
        mouse.holder->unsetCursor();
    mouse.holder = nullptr;
}

bool ExamineKeyboard(QWindow* window) {
    if (!window || !window->isActive()) {
        keyboard.examined = {};
        keyboard.pressedSince = {};
        return false;
    }
    for (std::size_t code = 0; code < keyboard.examined.size(); ++code)
        keyboard.examined[code] = keyboard.down[code] || keyboard.pressedSince[code];
    keyboard.pressedSince = {};
    return true;
}

bool KeyPushed(int scanCode) {
    return scanCode >= 0 && scanCode < int(keyboard.examined.size()) && keyboard.examined[scanCode];
}

} // namespace vantaro
