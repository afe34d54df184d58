#include "Dialogs.h"
#include "ShellRules.h"
#include "ViewerSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>

namespace vorlund::viewer {

namespace {

constexpr int kNoId = 65535; // static texts without an id of their own

QLabel *Label(const QString &text, int id, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::number(id));
    return label;
}

QDialogButtonBox *OkCancel(QDialog *dialog)
{
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("1"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("2"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

// Texts the link sends must not hold control characters (they would end the request).
QValidator *NoControlCharacters(QObject *parent)
{
    return new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[^\\x00-\\x1F\\x7F]*")), parent);
}

bool HasControlCharacters(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    return false;
}

// The one text field of the login and password dialogs.
QLineEdit *TextField(QDialog *dialog, int id, int maxLength)
{
    auto *edit = new QLineEdit(dialog);
    edit->setObjectName(QString::number(id));
    edit->setMaxLength(maxLength);
    edit->setValidator(NoControlCharacters(edit));
    return edit;
}

// OK takes the text unless it holds control characters (pasted past the validator).
bool TakeText(const QLineEdit *edit, QString &field)
{
    if (HasControlCharacters(edit->text()))
        return false;
    field = edit->text();
    return true;
}

} // namespace

CConfiguration::CConfiguration(INotifier &notifier, QWidget *parent)
    : CIdleDlg(103, parent), m_notifier(notifier)
{
    setWindowTitle(QStringLiteral("Configuration"));
    m_host = new QComboBox(this);
    m_host->setObjectName(QStringLiteral("1000"));
    m_host->setEditable(true);
    m_host->setInsertPolicy(QComboBox::NoInsert);
    m_host->lineEdit()->setMaxLength(23);
    m_port = new QLineEdit(this);
    m_port->setObjectName(QStringLiteral("1005"));
    m_quality = new QLineEdit(this);
    m_quality->setObjectName(QStringLiteral("1001"));
    m_automatic = new QRadioButton(QStringLiteral("Automatic"), this);
    m_automatic->setObjectName(QStringLiteral("1009"));
    m_manual = new QRadioButton(QStringLiteral("Manual"), this);
    m_manual->setObjectName(QStringLiteral("1010"));
    auto *hint = Label(QStringLiteral("Select the same Remote Mode here that was set for Vorlund "
                                      "host. Then click OK to save and click GO to connect."),
                       1014, this);
    hint->setWordWrap(true);
    m_beepBox = new QCheckBox(QStringLiteral("Beep on motion"), this);
    m_beepBox->setObjectName(QStringLiteral("1015"));

    auto *grid = new QGridLayout;
    grid->addWidget(Label(QStringLiteral("IP Address:"), kNoId, this), 0, 0);
    grid->addWidget(m_host, 0, 1, 1, 3);
    grid->addWidget(Label(QStringLiteral("IP Port:"), kNoId, this), 1, 0);
    grid->addWidget(m_port, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Image Quality:"), this), 2, 0);
    grid->addWidget(m_quality, 2, 1);
    grid->addWidget(Label(QStringLiteral("%"), 1012, this), 2, 2);
    grid->addWidget(Label(QStringLiteral("(5-99)"), 1013, this), 2, 3);
    auto *modes = new QHBoxLayout;
    modes->addWidget(m_automatic);
    modes->addWidget(m_manual);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(modes);
    layout->addWidget(hint);
    layout->addWidget(m_beepBox);
    layout->addWidget(OkCancel(this));

    const auto manual = [this] { return IsDlgButtonChecked(1010); };
    SetEnableRule(1000, manual);
    SetEnableRule(1005, manual);
    SetEnableRule(kNoId, manual);
}

void CConfiguration::OnInitDialog()
{
    m_host->clear();
    for (const QString &host : m_HostList)
        if (!host.isEmpty())
            m_host->addItem(host);
    CIdleDlg::OnInitDialog();
}

bool CConfiguration::TakeInteger(QLineEdit *edit, int low, int high, int &value)
{
    bool ok = false;
    const int v = edit->text().trimmed().toInt(&ok);
    if (!ok || v < low || v > high) {
        m_notifier.ShowMessage(QStringLiteral("Please enter an integer between %1 and %2.")
                                   .arg(low)
                                   .arg(high)
                                   .toStdString(),
                               "Vorlund-Remote");
        edit->setFocus();
        edit->selectAll();
        return false;
    }
    value = v;
    return true;
}

bool CConfiguration::DoDataExchange(bool save)
{
    if (!save) {
        m_host->setCurrentIndex(m_host->count() > 0 ? 0 : -1);
        m_port->setText(QString::number(m_Port));
        m_quality->setText(QString::number(m_Quality));
        m_automatic->setChecked(m_Mode == 0);
        m_manual->setChecked(m_Mode != 0);
        m_beepBox->setChecked(m_Beep);
        return true;
    }
    int port = 0;
    int quality = 0;
    if (!TakeInteger(m_port, 1, 65535, port) || !TakeInteger(m_quality, 5, 90, quality))
        return false;
    m_Port = port;
    m_Quality = quality;
    m_Host = m_host->currentText().left(23);
    m_Mode = m_manual->isChecked() ? 1 : 0;
    m_Beep = m_beepBox->isChecked();
    return true;
}

bool RunConfiguration(ViewerSettings &settings, INotifier &notifier, QWidget *parent)
{
    CConfiguration dlg(notifier, parent);
    dlg.m_HostList = settings.hosts;
    dlg.m_Port = settings.port;
    dlg.m_Quality = settings.quality;
    dlg.m_Mode = settings.mode;
    dlg.m_Beep = settings.beep;
    if (dlg.exec() != QDialog::Accepted)
        return false;
    ApplyConfiguration(settings, { dlg.m_Host, dlg.m_Port, dlg.m_Quality, dlg.m_Mode, dlg.m_Beep });
    return true;
}

CLogin::CLogin(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("107"));
    setWindowTitle(QStringLiteral("Vorlund Remote Login"));
    m_edit = TextField(this, 1008, 51);
    auto *text = new QLabel(
        QStringLiteral("Enter the email address you used for Vorlund Remote Login Credentials."),
        this);
    text->setWordWrap(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(m_edit);
    layout->addWidget(OkCancel(this));
}

void CLogin::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        m_edit->setText(m_LoginId);
    QDialog::showEvent(event);
}

void CLogin::accept()
{
    if (TakeText(m_edit, m_LoginId))
        QDialog::accept();
}

CPassword::CPassword(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("105"));
    setWindowTitle(QStringLiteral("Password required"));
    m_edit = TextField(this, 1006, 15);
    m_edit->setEchoMode(QLineEdit::Password);
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(QStringLiteral("Enter password:"), this);
    label->setBuddy(m_edit);
    layout->addWidget(label);
    layout->addWidget(m_edit);
    layout->addWidget(OkCancel(this));
}

void CPassword::accept()
{
    if (TakeText(m_edit, m_Password))
        QDialog::accept();
}

CmyHelp::CmyHelp(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("108"));
    setWindowTitle(QStringLiteral("Vorlund-Remote Help"));
    auto *layout = new QVBoxLayout(this);
    const char *const lines[] = {
        "Use the following Keyboard keys:",
        "",
        "Live Mode",
        "a - decrease quality",
        "q - increase quality",
        "w - increase picture size",
        "s - decrease picture size",
        "",
        "Review Mode",
        "BackSpace - reverse",
        "Shift + BackSpace - reverse 10 frames",
        "Spacebar - forward",
        "Shift + Spacebar - forward 10 frames",
        "Home - go to most recent frame",
        "End - toggle Slideshow mode",
    };
    for (const char *line : lines)
        layout->addWidget(new QLabel(QString::fromLatin1(line), this));
    auto *close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("1"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(close, 0, Qt::AlignRight);
}

QString CAboutDlg::VersionText()
{
    return QStringLiteral("Vorlund-Remote Version %1.%2.%3.%4")
        .arg(VORLUND_VERSION_MAJOR)
        .arg(VORLUND_VERSION_MINOR)
        .arg(VORLUND_VERSION_PATCH)
        .arg(0);
}

// Pictures are decoded and scaled by Qt's image classes.
QString CAboutDlg::GraphicsVersionText()
{
    return QStringLiteral("Graphics Version ") + QString::fromLatin1(qVersion());
}

CAboutDlg::CAboutDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("100"));
    setWindowTitle(QStringLiteral("About Vorlund-Remote"));
    auto *icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(32, 32));
    auto *texts = new QVBoxLayout;
    texts->addWidget(Label(VersionText(), 1003, this));
    texts->addWidget(Label(GraphicsVersionText(), 1004, this));
    auto *row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addLayout(texts);
    auto *ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    ok->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("1"));
    connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(ok);
}

} // namespace vorlund::viewer
