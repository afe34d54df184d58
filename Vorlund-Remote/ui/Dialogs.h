#pragma once

#include "IdleDlg.h"
#include "Notifier.h"

#include <QDialog>
#include <QString>

#include <array>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;

namespace vorlund::viewer {

struct ViewerSettings;

// Configuration (template 103). The view copies its values into the fields, runs the dialog
// and takes them back after OK; the host box, the port and their labels are enabled only in
// Manual mode.
class CConfiguration : public CIdleDlg
{
    Q_OBJECT

public:
    explicit CConfiguration(INotifier &notifier, QWidget *parent = nullptr);

    std::array<QString, 3> m_HostList;
    QString m_Host; // after OK: the chosen or typed host
    int m_Port = 0;
    int m_Quality = 0;
    int m_Mode = 0; // 0 Automatic, 1 Manual
    bool m_Beep = false;

protected:
    void OnInitDialog() override;
    bool DoDataExchange(bool saveAndValidate) override;

private:
    bool TakeInteger(QLineEdit *edit, int low, int high, int &value);

    INotifier &m_notifier;
    QComboBox *m_host;
    QLineEdit *m_port;
    QLineEdit *m_quality;
    QRadioButton *m_automatic;
    QRadioButton *m_manual;
    QCheckBox *m_beepBox;
};

// Command 131: runs the Configuration dialog on the settings and applies what OK gave.
// Returns whether OK was pressed.
bool RunConfiguration(ViewerSettings &settings, INotifier &notifier, QWidget *parent);

// Login (template 107): the e-mail login id for Automatic mode.
class CLogin : public QDialog
{
    Q_OBJECT

public:
    explicit CLogin(QWidget *parent = nullptr);
    QString m_LoginId;
    void accept() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLineEdit *m_edit;
};

// Password required (template 105).
class CPassword : public QDialog
{
    Q_OBJECT

public:
    explicit CPassword(QWidget *parent = nullptr);
    QString m_Password;
    void accept() override;

private:
    QLineEdit *m_edit;
};

// The keyboard help (template 108), opened by F1, Shift+F1 and "Help Topics".
class CmyHelp : public QDialog
{
    Q_OBJECT

public:
    explicit CmyHelp(QWidget *parent = nullptr);
};

// About Vorlund-Remote (template 100).
class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget *parent = nullptr);
    static QString VersionText();
    static QString GraphicsVersionText();
};

} // namespace vorlund::viewer
