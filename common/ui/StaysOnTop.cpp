#include "StaysOnTop.h"

#include <QWidget>

namespace vorlund {

void SetStaysOnTop(QWidget &window, bool on)
{
    if (bool(window.windowFlags() & Qt::WindowStaysOnTopHint) == on)
        return;
    const bool shown = window.isVisible();
    window.setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (shown)
        window.show();
}

} // namespace vorlund
