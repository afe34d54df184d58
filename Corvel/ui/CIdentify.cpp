#include "CIdentify.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vorlund {

CIdentify::CIdentify(QWidget *parent) : CIdleDlg(0, parent)
{
    setWindowTitle(tr("Relay login"));
    m_loginEdit = new QLineEdit(this);
    m_loginEdit->setObjectName(QString::number(IdLogin));
    m_loginEdit->setMaxLength(kMaxLength);
    m_passwordEdit = new QLineEdit(this);
    m_passwordEdit->setObjectName(QString::number(IdPassword));
    m_passwordEdit->setMaxLength(kMaxLength);
    m_passwordEdit->setEchoMode(QLineEdit::Password);

    auto *form = new QFormLayout;
    auto *loginLabel = new QLabel(tr("&Login:"), this);
    loginLabel->setBuddy(m_loginEdit);
    auto *passwordLabel = new QLabel(tr("&Password:"), this);
    passwordLabel->setBuddy(m_passwordEdit);
    form->addRow(loginLabel, m_loginEdit);
    form->addRow(passwordLabel, m_passwordEdit);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("1");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("2");
    connect(buttons, &QDialogButtonBox::accepted, this, &CIdentify::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CIdentify::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

bool CIdentify::DoDataExchange(bool saveAndValidate)
{
    if (saveAndValidate) {
        m_Login = m_loginEdit->text().trimmed().left(kMaxLength);
        m_Password = m_passwordEdit->text().left(kMaxLength);
    } else {
        m_loginEdit->setText(m_Login.left(kMaxLength));
        m_passwordEdit->setText(m_Password.left(kMaxLength));
    }
    return true;
}

} // namespace vorlund
