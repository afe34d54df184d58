#include "DevicePageDialogs.h"

#include "AudioDeviceDialog.h"
#include "TunerChannels.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <linux/videodev2.h>

#include <algorithm>
#include <cmath>

namespace vorlund {

namespace {

QString Text(const std::string &s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QComboBox *Combo(int id, QWidget *parent)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(QString::number(id));
    return combo;
}

// OK and Cancel at the bottom of a page.
void AddButtons(CIdleDlg *dialog, QVBoxLayout *layout)
{
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("1");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("2");
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &CIdleDlg::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &CIdleDlg::reject);
    layout->addWidget(buttons);
}

QFormLayout *Form(QVBoxLayout *layout)
{
    auto *form = new QFormLayout;
    layout->addLayout(form);
    return form;
}

QLabel *Buddy(const char *text, QWidget *buddy, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

template <typename Page, typename Values> bool RunPage(QWidget *parent, Values &values)
{
    Page page(parent);
    page.Values = values;
    if (page.exec() != QDialog::Accepted)
        return false;
    values = page.Values;
    return true;
}

} // namespace

QString FrameRateLabel(int64_t frameDuration)
{
    if (frameDuration <= 0)
        return "Device default";
    const double fps = 10'000'000.0 / double(frameDuration);
    return QString::number(std::round(fps * 100.0) / 100.0) + " fps";
}

// --- Input page ------------------------------------------------------------------------

CInputPage::CInputPage(QWidget *parent) : CIdleDlg(157, parent)
{
    setWindowTitle("Video Input");
    m_inputs = Combo(1000, this);
    auto *layout = new QVBoxLayout(this);
    Form(layout)->addRow(Buddy("Input:", m_inputs, this), m_inputs);
    AddButtons(this, layout);
}

void CInputPage::OnInitDialog()
{
    m_inputs->clear();
    for (const VideoInput &input : Values.inputs) {
        QString name = Text(input.name);
        if (input.type == V4L2_INPUT_TYPE_TUNER)
            name += " (TV tuner)";
        m_inputs->addItem(name);
    }
    CIdleDlg::OnInitDialog();
}

bool CInputPage::DoDataExchange(bool save)
{
    if (save)
        Values.current = m_inputs->currentIndex();
    else
        m_inputs->setCurrentIndex(Values.current < m_inputs->count() ? Values.current : -1);
    return true;
}

// --- Capture page ----------------------------------------------------------------------

CCapturePage::CCapturePage(QWidget *parent) : CIdleDlg(158, parent)
{
    setWindowTitle("Video Settings");
    m_standard = Combo(1000, this);
    m_controls = new QWidget(this);
    auto *layout = new QVBoxLayout(this);
    Form(layout)->addRow(Buddy("Video Standard:", m_standard, this), m_standard);
    layout->addWidget(m_controls);
    AddButtons(this, layout);
    SetEnableRule(1000, [this] { return !Values.standards.empty(); });
}

void CCapturePage::OnInitDialog()
{
    m_standard->clear();
    for (const VideoStandard &standard : Values.standards)
        m_standard->addItem(Text(standard.name));
    qDeleteAll(m_controls->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly));
    delete m_controls->layout();
    auto *form = new QFormLayout(m_controls);
    for (const DeviceControl &control : Values.controls) {
        const QString id = QString::number(control.id);
        QWidget *widget = nullptr;
        switch (control.kind) {
        case DeviceControl::Kind::Integer: {
            auto *spin = new QSpinBox(m_controls);
            spin->setRange(control.minimum, control.maximum);
            spin->setSingleStep(control.step);
            widget = spin;
            break;
        }
        case DeviceControl::Kind::Boolean:
            widget = new QCheckBox(m_controls);
            break;
        case DeviceControl::Kind::Menu: {
            auto *combo = new QComboBox(m_controls);
            for (const auto &[value, label] : control.menu)
                combo->addItem(Text(label), value);
            widget = combo;
            break;
        }
        }
        widget->setObjectName(id);
        auto *label = new QLabel(Text(control.name) + ":", m_controls);
        label->setBuddy(widget);
        form->addRow(label, widget);
    }
    CIdleDlg::OnInitDialog();
}

bool CCapturePage::DoDataExchange(bool save)
{
    if (save)
        Values.standard = Values.standards.empty() ? -1 : m_standard->currentIndex();
    else
        m_standard->setCurrentIndex(Values.standard);
    for (DeviceControl &control : Values.controls) {
        QWidget *widget = m_controls->findChild<QWidget *>(QString::number(control.id));
        if (auto *spin = qobject_cast<QSpinBox *>(widget)) {
            if (save)
                control.value = spin->value();
            else
                spin->setValue(control.value);
        } else if (auto *box = qobject_cast<QCheckBox *>(widget)) {
            if (save)
                control.value = box->isChecked() ? 1 : 0;
            else
                box->setChecked(control.value != 0);
        } else if (auto *combo = qobject_cast<QComboBox *>(widget)) {
            if (save && combo->currentIndex() >= 0)
                control.value = combo->currentData().toInt();
            else if (!save)
                combo->setCurrentIndex(combo->findData(control.value));
        }
    }
    return true;
}

// --- Format page -----------------------------------------------------------------------

CFormatPage::CFormatPage(QWidget *parent) : CIdleDlg(137, parent)
{
    setWindowTitle("Video Format");
    m_format = Combo(1000, this);
    m_size = Combo(1001, this);
    m_rate = Combo(1002, this);
    auto *layout = new QVBoxLayout(this);
    QFormLayout *form = Form(layout);
    form->addRow(Buddy("Format:", m_format, this), m_format);
    form->addRow(Buddy("Size:", m_size, this), m_size);
    form->addRow(Buddy("Frame rate:", m_rate, this), m_rate);
    AddButtons(this, layout);
    connect(m_format, &QComboBox::activated, this, [this](int option) { FillChoices(option); });
    SetEnableRule(1001, [this] { return m_size->count() > 0; });
}

void CFormatPage::FillChoices(int option)
{
    m_size->clear();
    m_rate->clear();
    if (option < 0 || size_t(option) >= Values.options.size())
        return;
    const FormatOption &format = Values.options[size_t(option)];
    for (const FrameSize &size : format.sizes)
        m_size->addItem(QString("%1 x %2").arg(size.width).arg(size.height),
                        QList<QVariant> { size.width, size.height });
    m_rate->addItem(FrameRateLabel(0), qlonglong(0));
    for (int64_t duration : format.frameDurations)
        m_rate->addItem(FrameRateLabel(duration), qlonglong(duration));
}

void CFormatPage::OnInitDialog()
{
    m_format->clear();
    for (const FormatOption &option : Values.options)
        m_format->addItem(Text(option.name));
    CIdleDlg::OnInitDialog();
}

bool CFormatPage::DoDataExchange(bool save)
{
    if (save) {
        Values.option = m_format->currentIndex();
        const QList<QVariant> size = m_size->currentData().toList();
        if (size.size() == 2)
            Values.size = { size[0].toInt(), size[1].toInt() };
        Values.frameDuration = m_rate->currentData().toLongLong();
        return true;
    }
    m_format->setCurrentIndex(Values.option);
    FillChoices(Values.option);
    m_size->setCurrentIndex(
        std::max(0, m_size->findData(QList<QVariant> { Values.size.width, Values.size.height })));
    m_rate->setCurrentIndex(std::max(0, m_rate->findData(qlonglong(Values.frameDuration))));
    return true;
}

// --- Tuner page ------------------------------------------------------------------------

CTunerPage::CTunerPage(QWidget *parent) : CIdleDlg(119, parent)
{
    setWindowTitle("TV Tuner");
    m_channel = new QSpinBox(this);
    m_channel->setObjectName("1000");
    m_frequency = new QLabel(this);
    m_frequency->setObjectName("1001");
    auto *layout = new QVBoxLayout(this);
    QFormLayout *form = Form(layout);
    form->addRow(Buddy("Channel:", m_channel, this), m_channel);
    form->addRow(new QLabel("Frequency:", this), m_frequency);
    AddButtons(this, layout);
    connect(m_channel, &QSpinBox::valueChanged, this, [this] { ShowFrequency(); });
}

void CTunerPage::ShowFrequency()
{
    const std::optional<uint32_t> kHz
        = ChannelFrequency(ChannelTable(Values.table), m_channel->value());
    m_frequency->setText(kHz ? QString::number(double(*kHz) / 1000.0, 'f', 2) + " MHz"
                             : QString("no such channel"));
}

void CTunerPage::OnInitDialog()
{
    const std::vector<TunerChannel> &table = ChannelTable(Values.table);
    m_channel->setRange(table.front().channel, table.back().channel);
    CIdleDlg::OnInitDialog();
    ShowFrequency();
}

bool CTunerPage::DoDataExchange(bool save)
{
    if (save) {
        // A number between two bands names no channel.
        if (!ChannelFrequency(ChannelTable(Values.table), m_channel->value()))
            return false;
        Values.channel = m_channel->value();
    } else {
        m_channel->setValue(Values.channel);
    }
    return true;
}

// --- Runner ----------------------------------------------------------------------------

bool QtDevicePageDialogs::RunInputPage(InputPageValues &values)
{
    return RunPage<CInputPage>(m_parent, values);
}

bool QtDevicePageDialogs::RunCapturePage(CapturePageValues &values)
{
    return RunPage<CCapturePage>(m_parent, values);
}

bool QtDevicePageDialogs::RunFormatPage(FormatPageValues &values)
{
    return RunPage<CFormatPage>(m_parent, values);
}

bool QtDevicePageDialogs::RunTunerPage(TunerPageValues &values)
{
    return RunPage<CTunerPage>(m_parent, values);
}

bool QtDevicePageDialogs::RunAudioDevice(AudioDeviceValues &values)
{
    CAudioDevice dialog(m_parent);
    static_cast<AudioDeviceValues &>(dialog) = values;
    if (dialog.exec() != QDialog::Accepted)
        return false;
    values = dialog;
    return true;
}

} // namespace vorlund
