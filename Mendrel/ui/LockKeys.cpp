#include "LockKeys.h"

#include <QGuiApplication>

// After Qt: the X11 headers define macros (None, Bool, Status) that Qt's headers use as names.
#include <X11/XKBlib.h>

LockKeyState X11LockKeys::Query()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display *display = x11 ? x11->display() : nullptr;
    if (!display)
        return {};
    auto on = [display](const char *name) {
        const Atom atom = XInternAtom(display, name, False);
        Bool state = False;
        return atom != 0
            && XkbGetNamedIndicator(display, atom, nullptr, &state, nullptr, nullptr) == True
            && state == True;
    };
    return { on("Caps Lock"), on("Num Lock"), on("Scroll Lock") };
}
