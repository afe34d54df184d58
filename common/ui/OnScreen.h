#pragma once

class QWidget;

namespace vorlund {

// Whether anyone can see `widget`: it is shown, its window is not minimised, and the window
// system has the window on the screen (one taken off it is not exposed).
bool IsOnScreen(const QWidget &widget);

} // namespace vorlund
