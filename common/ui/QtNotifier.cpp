#include "QtNotifier.h"

#include <QApplication>
#include <QMessageBox>

namespace vorlund {

namespace {

QString FromUtf8(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QWidget *BoxParent()
{
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

} // namespace

void QtNotifier::ShowMessage(std::string_view text, std::string_view caption)
{
    QMessageBox box(QMessageBox::Warning, FromUtf8(caption), FromUtf8(text), QMessageBox::Ok,
                    BoxParent());
    box.exec();
}

bool QtNotifier::AskYesNo(std::string_view text, std::string_view caption)
{
    QMessageBox box(QMessageBox::Question, FromUtf8(caption), FromUtf8(text),
                    QMessageBox::Yes | QMessageBox::No, BoxParent());
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

} // namespace vorlund
