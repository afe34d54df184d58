#pragma once

// Whether Caps Lock, Num Lock and Scroll Lock are on, for the status bar's indicator panes.
struct LockKeyState
{
    bool caps = false;
    bool num = false;
    bool scroll = false;
};

class ILockKeys
{
public:
    virtual ~ILockKeys() = default;
    virtual LockKeyState Query() = 0;
};

// Reads the keyboard's indicators from the X server; all off where there is none (offscreen,
// another windowing system).
class X11LockKeys : public ILockKeys
{
public:
    LockKeyState Query() override;
};
