#include "TvCardDialog.h"

#include <QGridLayout>
#include <QVBoxLayout>

namespace vorlund {

namespace {

// The highest channel the settings file check accepts.
constexpr int kMaxTvChannel = 9999;

} // namespace

CTVCard::CTVCard(INotifier &notifier, QWidget *parent) : CIdleDlg(126, parent), m_notifier(notifier)
{
    setWindowTitle("TV Control");
    m_recordNow = new QCheckBox("Record Now!", this);
    m_recordNow->setObjectName("1052");
    m_record = new QCheckBox("Enable TV Recording", this);
    m_record->setObjectName("1074");
    m_from = new OptionalTimeEdit(1060, this);
    m_to = new OptionalTimeEdit(1061, this);
    m_channel = new QLineEdit(this);
    m_channel->setObjectName("1029");
    m_channel->setMaxLength(16);
    auto label = [this](const QString &text) {
        auto *l = new QLabel(text, this);
        l->setObjectName(QString::number(kUnnumberedId));
        return l;
    };
    auto *grid = new QGridLayout;
    grid->addWidget(label("From:"), 0, 0);
    grid->addWidget(m_from, 0, 1);
    grid->addWidget(label("To:"), 1, 0);
    grid->addWidget(m_to, 1, 1);
    grid->addWidget(label("Channel:"), 2, 0);
    grid->addWidget(m_channel, 2, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_recordNow);
    layout->addWidget(m_record);
    layout->addLayout(grid);
    layout->addWidget(OkCancel(this));

    // The scheduled recording is left alone while "Record Now!" runs (as it was at opening).
    SetEnableRule(1074, [this] { return !RecordNow; });
    for (int id : { 1060, 1061, 1029, kUnnumberedId })
        SetEnableRule(id, [this] { return m_record->isChecked(); });
}

bool CTVCard::DoDataExchange(bool save)
{
    if (!save) {
        m_recordNow->setChecked(RecordNow);
        m_record->setChecked(Record);
        m_from->SetTime(From);
        m_to->SetTime(To);
        m_channel->setText(QString::number(Channel));
        return true;
    }
    const std::optional<int> channel = ReadInteger(m_channel, 0, kMaxTvChannel, m_notifier);
    if (!channel)
        return false;
    RecordNow = m_recordNow->isChecked();
    Record = m_record->isChecked();
    From = m_from->Time();
    To = m_to->Time();
    Channel = *channel;
    return true;
}

} // namespace vorlund
