#include "OnScreen.h"

#include <QWidget>
#include <QWindow>

namespace vorlund {

bool IsOnScreen(const QWidget &widget)
{
    const QWidget *window = widget.window();
    const QWindow *handle = window->windowHandle();
    return widget.isVisible() && !window->isMinimized() && handle && handle->isExposed();
}

} // namespace vorlund
