#pragma once

class QWidget;

namespace vorlund {

// Keeps `window` above the others or lets it go; a shown window is shown again, since changing
// the flag hides it.
void SetStaysOnTop(QWidget &window, bool on);

} // namespace vorlund
