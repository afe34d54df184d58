#pragma once

#include "IdleDlg.h"

#include <QString>

class QLineEdit;

namespace vorlund {

// The relay credentials: login id and password, at most 51 characters each. The caller fills
// the fields, opens the dialog without blocking (open()) and reads the fields back when
// finished() reports Accepted.
class CIdentify : public CIdleDlg
{
    Q_OBJECT

public:
    static constexpr int kMaxLength = 51;
    enum ControlId {
        IdLogin = 1000,
        IdPassword = 1001,
    };

    explicit CIdentify(QWidget *parent = nullptr);

    QString m_Login;
    QString m_Password;

protected:
    bool DoDataExchange(bool saveAndValidate) override;

private:
    QLineEdit *m_loginEdit;
    QLineEdit *m_passwordEdit;
};

} // namespace vorlund
