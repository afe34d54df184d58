#include "AudioDeviceDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QVBoxLayout>

#include <algorithm>

namespace vorlund {

namespace {

QComboBox *Combo(int id, QWidget *parent)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(QString::number(id));
    return combo;
}

// Filled as the dialog opens, a combo is made at least as wide as its longest text.
void FitToTexts(QComboBox *combo)
{
    int widest = 0;
    for (int i = 0; i < combo->count(); ++i)
        widest = std::max(widest, combo->fontMetrics().horizontalAdvance(combo->itemText(i)));
    QStyleOptionComboBox option;
    option.initFrom(combo);
    const QSize content(widest, combo->fontMetrics().height());
    combo->setMinimumWidth(
        combo->style()->sizeFromContents(QStyle::CT_ComboBox, &option, content, combo).width());
}

QString Text(const std::string &s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

} // namespace

CAudioDevice::CAudioDevice(QWidget *parent) : CIdleDlg(134, parent)
{
    setWindowTitle("Audio Device");
    m_record = new QCheckBox("Record Audio", this);
    m_record->setObjectName("1052");
    m_devices = Combo(1030, this);
    m_lines = Combo(1067, this);
    m_levels = Combo(1068, this);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("1");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("2");

    auto *form = new QFormLayout;
    auto label = [this](const char *text, QWidget *buddy) {
        auto *l = new QLabel(text, this);
        l->setBuddy(buddy);
        return l;
    };
    form->addRow(label("Audio Device:", m_devices), m_devices);
    form->addRow(label("Input:", m_lines), m_lines);
    form->addRow(label("Level:", m_levels), m_levels);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_record);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &CAudioDevice::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CAudioDevice::reject);
    // activated: only the user's choice refills the lines, not the filling itself.
    connect(m_devices, &QComboBox::activated, this, [this] { OnSelChangeDevice(); });

    for (int id : { 1030, 1067, 1068 })
        SetEnableRule(id, [this] { return RecordAudio != 0; });
    UpdateDataOnClick({ 1052 });

    SetHelpEntry(1, "Save Changes", "Click this button to save these settings.");
    SetHelpEntry(1030, "Audio Devices",
                 "Choose the audio device to record sound with.\n"
                 "Your sound card is listed here.\n"
                 "Most computers have a sound card\n"
                 "built in.\n");
    SetHelpEntry(1052, "Record Audio",
                 "Check this box to turn on audio recording.\n"
                 "For example, record sounds from a microphone\n"
                 "when motion is detected.\n");
    SetHelpEntry(1067, "Audio Input",
                 "Select the audio input to use to record sound.\n"
                 "For example, if you have a microphone attached to\n"
                 "your computer, select Microphone.\n");
    SetHelpEntry(1068, "Input Level", "Select the audio level (volume) you want to use.\n");
}

void CAudioDevice::FillLines(const AudioLines &lines, int select)
{
    m_lines->clear();
    // The item keeps its place in the table, so a gap in the lines cannot shift a choice.
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].empty())
            m_lines->addItem(Text(lines[i]), int(i));
    }
    m_lines->setCurrentIndex(std::max(0, m_lines->findData(select)));
}

void CAudioDevice::OnInitDialog()
{
    m_devices->clear();
    for (const std::string &name : DeviceNames) {
        if (name.empty())
            break;
        m_devices->addItem(Text(name));
    }
    m_devices->setCurrentIndex(DeviceIndex >= 0 && DeviceIndex < m_devices->count() ? DeviceIndex
                                                                                    : -1);
    FillLines(CurrentLines, LineIndex);
    m_levels->clear();
    m_levels->addItems({ "Hi", "Medium", "Low" });
    m_levels->setCurrentIndex(LevelIndex >= 0 && LevelIndex < 3 ? LevelIndex : -1);
    // The window was sized before the names came in: wide enough for them now.
    for (QComboBox *combo : { m_devices, m_lines, m_levels })
        FitToTexts(combo);
    layout()->activate();
    resize(size().expandedTo(minimumSizeHint()));
    CIdleDlg::OnInitDialog();
}

void CAudioDevice::OnSelChangeDevice()
{
    const int device = m_devices->currentIndex();
    if (device < 0 || size_t(device) >= LineTable.size())
        return;
    FillLines(LineTable[size_t(device)], -1);
    m_lines->setCurrentIndex(m_lines->count() > 0 ? 0 : -1);
    FitToTexts(m_lines);
}

bool CAudioDevice::DoDataExchange(bool saveAndValidate)
{
    if (saveAndValidate)
        RecordAudio = m_record->isChecked() ? 1 : 0;
    else
        m_record->setChecked(RecordAudio != 0);
    return true;
}

void CAudioDevice::accept()
{
    if (m_devices->currentIndex() >= 0)
        DeviceIndex = m_devices->currentIndex();
    if (m_lines->currentIndex() >= 0)
        LineIndex = m_lines->currentData().toInt();
    if (m_levels->currentIndex() >= 0)
        LevelIndex = m_levels->currentIndex();
    CIdleDlg::accept();
}

} // namespace vorlund
