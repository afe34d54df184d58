#pragma once

#include "IdleDlg.h"
#include "Notifier.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QValidator>

#include <optional>
#include <string>

namespace vorlund {

// The id of labels and group boxes that have none of their own; enable rules may name it.
inline constexpr int kUnnumbered = 0xFFFF;

// Refuses input whose UTF-8 form exceeds a byte limit. (QLineEdit::setMaxLength counts UTF-16
// units, which is neither the stored width nor safe to cut at.)
class Utf8LimitValidator : public QValidator
{
public:
    Utf8LimitValidator(size_t maxBytes, QObject *parent) : QValidator(parent), m_max(maxBytes) { }
    State validate(QString &input, int &) const override;

private:
    size_t m_max;
};

// Small builders: every control is named by its id.
QLabel *MakeLabel(const QString &text, QWidget *parent, int id = -1);
QCheckBox *MakeCheck(int id, const QString &text, QWidget *parent);
// A text edit that takes at most `width` - 1 bytes (the stored field's size less its zero).
QLineEdit *MakeTextEdit(int id, size_t width, QWidget *parent);
QLineEdit *MakeNumberEdit(int id, QWidget *parent);
QComboBox *MakeCombo(int id, const QStringList &items, QWidget *parent);
// OK (id 1) and Cancel (id 2) wired to accept and reject.
QDialogButtonBox *MakeOkCancel(QDialog *dialog, bool withCancel = true);

// Selects an item by index; an index out of range selects nothing.
void SelectIndex(QComboBox *combo, int index);

std::string ToUtf8(const QString &text);
QString FromUtf8(const std::string &text);

// Reads a number from an edit; on failure shows the validator's message, puts the focus on
// the field and returns nullopt.
std::optional<int> ReadNumber(QLineEdit *edit, int minimum, int maximum, INotifier &notifier);
// Reads a text that has to fit a field of `width` bytes, with the same failure handling.
std::optional<std::string> ReadText(QLineEdit *edit, size_t width, INotifier &notifier);

} // namespace vorlund
