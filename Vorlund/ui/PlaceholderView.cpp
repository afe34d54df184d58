#include "PlaceholderView.h"

namespace vorlund {

PlaceholderView::PlaceholderView(QWidget *parent) : QWidget(parent)
{
    setObjectName("view");
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    setMinimumSize(320, 240);
}

} // namespace vorlund
