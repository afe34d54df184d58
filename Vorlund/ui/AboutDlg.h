#pragma once

#include <QDialog>

class QLabel;

namespace vorlund {

// Dialog 100: the program's version (control 1036) and the JPEG library's (1035).
class CAboutDlg : public QDialog
{
public:
    explicit CAboutDlg(QWidget *parent = nullptr);

    QString VersionText() const;
    QString GraphicsText() const;

private:
    QLabel *m_version = nullptr;
    QLabel *m_graphics = nullptr;
};

} // namespace vorlund
