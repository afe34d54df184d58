#include "AboutDlg.h"

#include "Commands.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>

#define VORLUND_STRINGIFY_(x) #x
#define VORLUND_STRINGIFY(x) VORLUND_STRINGIFY_(x)

namespace vorlund {

CAboutDlg::CAboutDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName("100");
    setWindowTitle("About Vorlund");

    m_version = new QLabel(QString::fromStdString(ProgramVersionText(VORLUND_VERSION)), this);
    m_version->setObjectName("1036");
    m_graphics = new QLabel(
        QString::fromStdString(GraphicsVersionText(VORLUND_STRINGIFY(LIBJPEG_TURBO_VERSION))),
        this);
    m_graphics->setObjectName("1035");
    auto *third = new QLabel(this);
    third->setObjectName("1053");

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_version);
    layout->addWidget(m_graphics);
    layout->addWidget(third);
    layout->addWidget(buttons);
}

QString CAboutDlg::VersionText() const
{
    return m_version->text();
}

QString CAboutDlg::GraphicsText() const
{
    return m_graphics->text();
}

} // namespace vorlund
