#include "TvCardDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <climits>

namespace vorlund {

namespace {

// The id of every unnumbered label and group box.
constexpr int kStaticId = 0xFFFF;

QLabel *Static(const char *text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::number(kStaticId));
    return label;
}

} // namespace

CTVCard::CTVCard(QWidget *parent) : CIdleDlg(126, parent)
{
    setWindowTitle("TV Control");
    m_recordNow = new QCheckBox("Record Now!", this);
    m_recordNow->setObjectName("1052");
    m_tvRecording = new QCheckBox("Enable TV Recording", this);
    m_tvRecording->setObjectName("1074");
    auto *group = new QGroupBox("TV Recording Timer", this);
    group->setObjectName(QString::number(kStaticId));
    for (auto [control, id] : { std::pair { &m_from, 1060 }, std::pair { &m_to, 1061 } }) {
        control->edit = new QTimeEdit(group);
        control->edit->setDisplayFormat("HH:mm");
        control->edit->setObjectName(QString::number(id));
        TimeControl *c = control;
        connect(control->edit, &QTimeEdit::timeChanged, this, [c] { c->unset = false; });
    }
    m_channel = new QSpinBox(group);
    m_channel->setRange(INT_MIN, INT_MAX);
    m_channel->setObjectName("1029");
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("1");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("2");

    auto *grid = new QGridLayout(group);
    grid->addWidget(Static("From:", group), 0, 0);
    grid->addWidget(m_from.edit, 0, 1);
    grid->addWidget(Static("To:", group), 1, 0);
    grid->addWidget(m_to.edit, 1, 1);
    grid->addWidget(Static("Channel:", group), 2, 0);
    grid->addWidget(m_channel, 2, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_recordNow);
    layout->addWidget(m_tvRecording);
    layout->addWidget(group);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &CTVCard::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CTVCard::reject);

    // "Record Now!" runs no exchange: the state last exchanged decides.
    SetEnableRule(1074, [this] { return RecordNow == 0; });
    for (int id : { 1060, 1061, 1029, kStaticId })
        SetEnableRule(id, [this] { return TvRecording != 0; });
    UpdateDataOnClick({ 1074 });
}

void CTVCard::Exchange(TimeControl &control, QTime &member, bool save)
{
    if (save) {
        member = control.unset ? QTime()
                               : QTime(control.edit->time().hour(), control.edit->time().minute());
        return;
    }
    control.edit->setTime(member.isValid() ? member : QTime(0, 0));
    control.unset = !member.isValid();
}

bool CTVCard::DoDataExchange(bool save)
{
    if (save) {
        RecordNow = m_recordNow->isChecked() ? 1 : 0;
        TvRecording = m_tvRecording->isChecked() ? 1 : 0;
        Channel = m_channel->value();
    } else {
        m_recordNow->setChecked(RecordNow != 0);
        m_tvRecording->setChecked(TvRecording != 0);
        m_channel->setValue(Channel);
    }
    Exchange(m_from, FromTime, save);
    Exchange(m_to, ToTime, save);
    return true;
}

} // namespace vorlund
