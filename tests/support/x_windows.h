#pragma once
// Finding and closing a program's windows on the X server from another process, as a window
// manager or a user would, and clicking and typing into them through XTest.

#include <cstring>
#include <string>
#include <utility>
#include <vector>

// clang-format off
// Include GoogleTest and Qt before this header: Xlib's macros (None, Bool, Status) clash with them.
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>
// clang-format on

namespace vantaro::test {

// For XSetErrorHandler: windows come and go while a tree is walked, and an error about a gone
// window is not a failure.
inline int IgnoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

inline std::string WindowName(Display* display, Window window) {
    char* name = nullptr;
    std::string result;
    if (XFetchName(display, window, &name) && name)
        result = name;
    if (name)
        XFree(name);
    return result;
}

inline bool IsShown(Display* display, Window window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

// Viewable windows with a name, at any depth (a window manager's frames put clients deeper).
inline void NamedWindows(Display* display, Window parent, std::vector<std::pair<Window, std::string>>& found) {
    Window root = 0;
    Window parentOut = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, parent, &root, &parentOut, &children, &count))
        return;
    for (unsigned i = 0; i < count; ++i) {
        if (!IsShown(display, children[i]))
            continue;
        const std::string name = WindowName(display, children[i]);
        if (!name.empty())
            found.emplace_back(children[i], name);
        NamedWindows(display, children[i], found);
    }
    if (children)
        XFree(children);
}

inline Window ViewableWindowNamed(Display* display, const std::string& title) {
    std::vector<std::pair<Window, std::string>> windows;
    NamedWindows(display, DefaultRootWindow(display), windows);
    for (const auto& [window, name] : windows) {
        if (name == title)
            return window;
    }
    return 0;
}

// For failure messages: what the user would see on the screen.
inline std::string ShownTitles(Display* display) {
    std::vector<std::pair<Window, std::string>> windows;
    NamedWindows(display, DefaultRootWindow(display), windows);
    std::string titles;
    for (const auto& [window, name] : windows)
        titles += (titles.empty() ? "\"" : ", \"") + name + "\"";
    return titles.empty() ? "no named window" : titles;
}

// Sends WM_DELETE_WINDOW, as a window manager does for the close box.
inline void RequestClose(Display* display, Window window) {
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

inline bool HoldsFocus(Display* display, Window window) {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    // The focus may rest on a child of the window.
    while (focus > PointerRoot) {
        if (focus == window)
            return true;
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, focus, &root, &parent, &children, &count))
            return false;
        if (children)
            XFree(children);
        focus = parent == root ? 0 : parent;
    }
    return false;
}

// The clicks and keys below need XTest (link Xtst).
inline void ClickAt(Display* display, Window window, int x, int y) {
    int rootX = 0;
    int rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX, &rootY, &child);
    XTestFakeMotionEvent(display, -1, rootX, rootY, CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XFlush(display);
}

inline void PressReturn(Display* display) {
    const KeyCode key = XKeysymToKeycode(display, XK_Return);
    XTestFakeKeyEvent(display, key, True, CurrentTime);
    XTestFakeKeyEvent(display, key, False, CurrentTime);
    XFlush(display);
}

} // namespace vantaro::test
