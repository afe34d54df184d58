#include "DialogControls.h"

#include "FieldChecks.h"

#include <QPushButton>

namespace vorlund {

QValidator::State Utf8LimitValidator::validate(QString &input, int &) const
{
    return static_cast<size_t>(input.toUtf8().size()) <= m_max ? Acceptable : Invalid;
}

QLabel *MakeLabel(const QString &text, QWidget *parent, int id)
{
    auto *label = new QLabel(text, parent);
    if (id >= 0)
        label->setObjectName(QString::number(id));
    return label;
}

QCheckBox *MakeCheck(int id, const QString &text, QWidget *parent)
{
    auto *box = new QCheckBox(text, parent);
    box->setObjectName(QString::number(id));
    return box;
}

QLineEdit *MakeTextEdit(int id, size_t width, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::number(id));
    edit->setValidator(new Utf8LimitValidator(width > 0 ? width - 1 : 0, edit));
    return edit;
}

QLineEdit *MakeNumberEdit(int id, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::number(id));
    return edit;
}

QComboBox *MakeCombo(int id, const QStringList &items, QWidget *parent)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(QString::number(id));
    combo->addItems(items);
    return combo;
}

QDialogButtonBox *MakeOkCancel(QDialog *dialog, bool withCancel)
{
    auto *buttons = new QDialogButtonBox(
        withCancel ? QDialogButtonBox::Ok | QDialogButtonBox::Cancel : QDialogButtonBox::Ok,
        dialog);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("1");
    if (withCancel)
        buttons->button(QDialogButtonBox::Cancel)->setObjectName("2");
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

void SelectIndex(QComboBox *combo, int index)
{
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

std::string ToUtf8(const QString &text)
{
    return text.toUtf8().toStdString();
}

QString FromUtf8(const std::string &text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

namespace {

void Refuse(QLineEdit *edit, const std::string &message, INotifier &notifier)
{
    notifier.ShowMessage(message, kPlainCaption);
    edit->setFocus();
    edit->selectAll();
}

} // namespace

std::optional<int> ReadNumber(QLineEdit *edit, int minimum, int maximum, INotifier &notifier)
{
    const NumberCheck check = CheckInteger(ToUtf8(edit->text()), minimum, maximum);
    if (!check.value)
        Refuse(edit, check.message, notifier);
    return check.value;
}

std::optional<std::string> ReadText(QLineEdit *edit, size_t width, INotifier &notifier)
{
    std::string text = ToUtf8(edit->text());
    if (FitsField(text, width))
        return text;
    Refuse(edit, TooLongMessage(width), notifier);
    return std::nullopt;
}

} // namespace vorlund
