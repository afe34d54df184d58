#include "VideoCodecsDialog.h"

#include "CamSettingsDialog.h"
#include "DeviceConfig.h"
#include "DialogControls.h"
#include "FieldChecks.h"
#include "WmProfile.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace vorlund {

namespace {

// A profile's display name is at most (1023 - 178) / 2 UTF-16 units, plus its file name when
// two files share it.
constexpr size_t kSelectionProfileWidth = 2048;

QPushButton *MakeButton(int id, const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QString::number(id));
    button->setAutoDefault(false);
    return button;
}

QListWidget *MakeList(int id, QWidget *parent)
{
    auto *list = new QListWidget(parent);
    list->setObjectName(QString::number(id));
    list->setSortingEnabled(true);
    return list;
}

} // namespace

CVideoCodecs::CVideoCodecs(INotifier &notifier, QWidget *parent)
    : CIdleDlg(111, parent), m_notifier(notifier)
{
    setWindowTitle("Video Compression Codecs");
    m_compressors = MakeList(1028, this);
    m_profiles = MakeList(1065, this);
    m_selection = new QLineEdit(this);
    m_selection->setObjectName("1029");
    m_codecLimit = new Utf8LimitValidator(kCodecNameWidth - 1, m_selection);
    m_profileLimit = new Utf8LimitValidator(kSelectionProfileWidth - 1, m_selection);
    m_selection->setValidator(m_codecLimit);
    m_useProfiles = MakeCheck(1052, "Use Custom Windows Media Profiles", this);
    auto *configure = MakeButton(1031, "Configure", this);
    auto *edit = MakeButton(1046, "Create/Edit", this);
    QDialogButtonBox *buttons = MakeOkCancel(this);
    m_ok = buttons->button(QDialogButtonBox::Ok);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(
        MakeLabel("Choose a Video Compressor by selecting from this list:", this, 1066));
    layout->addWidget(m_compressors);
    layout->addWidget(configure);
    layout->addWidget(m_useProfiles);
    layout->addWidget(m_profiles);
    layout->addWidget(edit);
    layout->addWidget(MakeLabel("Current compression/Profile:", this));
    layout->addWidget(m_selection);
    layout->addWidget(buttons);

    for (QListWidget *list : { m_compressors, m_profiles }) {
        connect(list, &QListWidget::itemClicked, this, &CVideoCodecs::OnListSelection);
        connect(list, &QListWidget::itemActivated, this, &CVideoCodecs::OnListSelection);
        // Only the user's click or double click chooses: the list makes an item current by
        // itself when it takes the focus, and that must not replace the stored choice.
    }
    connect(m_selection, &QLineEdit::textEdited, this, &CVideoCodecs::EnableOk);
    connect(m_useProfiles, &QCheckBox::clicked, this, &CVideoCodecs::OnUseProfilesClicked);
    connect(configure, &QPushButton::clicked, this, &CVideoCodecs::OnConfigureOrEdit);
    connect(edit, &QPushButton::clicked, this, &CVideoCodecs::OnConfigureOrEdit);

    for (int id : { 1066, 1028, 1031 })
        SetEnableRule(id, [this] { return UseProfiles == 0; });
    for (int id : { 1065, 1046 })
        SetEnableRule(id, [this] { return UseProfiles != 0; });

    SetHelpEntry(1, "Save Changes", "Click this button to save these settings.");
    SetHelpEntry(1028, "Video Compression Selection",
                 "This box will list the Video Compression filters available to you.\n"
                 "Vorlund uses the Windows Media 9 Encoder as the default. You may\n"
                 "install third-party codecs and use those.\n"
                 "Click the one you want to use.\n");
    SetHelpEntry(1029, "Selection",
                 "This box will show you which video compressor or profile you\n"
                 "have chosen. This field must not be empty.\n");
    SetHelpEntry(1031, "Configure",
                 "Click this button to configure the video compression you have\n"
                 "chosen. Many video compressors may not have any configuration\n"
                 "dialogs built-in.\n");
    SetHelpEntry(1046, "Create/Edit",
                 "Click this button to create, edit, or delete a Windows Media Profile.\n"
                 "This will open the Windows Media Profile Editor, if installed.\n");
    SetHelpEntry(1052, "Advanced Feature",
                 "Check this box if you want to use Custom Windows Media\n"
                 "Profiles. This is an Advanced option which allows you\n"
                 "to create or edit your own video and audio compression\n"
                 "settings, and save them in a Profile.\n"
                 "Once this box is checked you can click the Create/Edit\n"
                 "button to bring up the WM Profile Editor, if installed.\n");
    SetHelpEntry(1065, "Windows Media Profiles",
                 "This box will list the Windows Media Profiles present in your\n"
                 "system, if any.\n"
                 "Click the one you want to use.\n");
}

void CVideoCodecs::OnInitDialog()
{
    m_compressors->clear();
    m_compressors->addItem("(None)");
    for (const std::string &name : CompressorNames)
        m_compressors->addItem(FromUtf8(name));
    FillProfileList();
    if (UseProfiles)
        Selection = CurrentProfile;
    // The stored choice is the list's current entry, so the list shows what the field shows.
    QListWidget *list = UseProfiles ? m_profiles : m_compressors;
    const QList<QListWidgetItem *> stored = list->findItems(FromUtf8(Selection), Qt::MatchExactly);
    if (!stored.isEmpty())
        list->setCurrentItem(stored.front());
    UpdateData(false);
    m_ok->setEnabled(false);
}

bool CVideoCodecs::DoDataExchange(bool save)
{
    if (!save) {
        m_selection->setValidator(UseProfiles ? m_profileLimit : m_codecLimit);
        m_selection->setText(FromUtf8(Selection));
        m_useProfiles->setChecked(UseProfiles != 0);
        return true;
    }
    Selection = ToUtf8(m_selection->text());
    UseProfiles = m_useProfiles->isChecked() ? 1 : 0;
    return true;
}

ProfileListResult CVideoCodecs::FillProfileList()
{
    Profiles.clear();
    m_profiles->clear();
    std::filesystem::path folder;
    if (RunProfileEditor(1, WorkingFolder, m_notifier, folder) != 0 || folder.empty())
        return ProfileListResult::EditorNotAvailable;
    ProfileListing listing = ListProfiles(folder, CurrentProfile, m_notifier);
    if (listing.result != ProfileListResult::Ok)
        return listing.result;
    Profiles = std::move(listing.profiles);
    CurrentProfile = listing.currentProfile;
    for (const auto &entry : Profiles)
        m_profiles->addItem(FromUtf8(entry.first));
    return ProfileListResult::Ok;
}

void CVideoCodecs::OnListSelection(QListWidgetItem *item)
{
    if (!item)
        return;
    Selection = ToUtf8(item->text());
    EnableOk();
    UpdateData(false);
}

void CVideoCodecs::EnableOk()
{
    m_ok->setEnabled(true);
}

void CVideoCodecs::OnUseProfilesClicked()
{
    UpdateData(true);
    if (UseProfiles) {
        if (FillProfileList() == ProfileListResult::EditorNotAvailable) {
            m_notifier.ShowMessage(kNoProfileEditorText, kPlainCaption);
            UseProfiles = 0;
            UpdateData(false);
            UpdateDialogControls();
            return;
        }
        Selection = CurrentProfile;
    } else {
        Selection = CurrentCompressor;
    }
    EnableOk();
    UpdateData(false);
    UpdateDialogControls();
}

void CVideoCodecs::OnConfigureOrEdit()
{
    UpdateData(true);
    if (OnConfigure)
        OnConfigure(UseProfiles != 0, Selection);
    if (UseProfiles) {
        std::filesystem::path folder;
        RunProfileEditor(0, WorkingFolder, m_notifier, folder);
        FillProfileList();
        if (!Profiles.count(Selection))
            Selection.clear();
        UpdateData(false);
    }
    EnableOk();
    UpdateDialogControls();
}

void CVideoCodecs::accept()
{
    UpdateData(true);
    switch (CheckCodecChoice(Selection, UseProfiles != 0, Profiles)) {
    case CodecChoiceCheck::Ok:
        QDialog::accept();
        return;
    case CodecChoiceCheck::Empty:
        m_notifier.ShowMessage(kEmptyChoiceText, kPlainCaption);
        break;
    case CodecChoiceCheck::NameTooLong:
        m_notifier.ShowMessage(TooLongMessage(kCodecNameWidth), kPlainCaption);
        break;
    case CodecChoiceCheck::PathTooLong:
        m_notifier.ShowMessage(kProfilePathTooLongText, kPlainCaption);
        break;
    }
    m_selection->setFocus();
}

// ---------------------------------------------------------------------------------------------

CConfigWM9::CConfigWM9(INotifier &notifier, QWidget *parent)
    : CIdleDlg(139, parent), m_notifier(notifier)
{
    setWindowTitle("Configure WMVideo9 Encoder");
    m_frameRate = MakeNumberEdit(1029, this);
    m_bitrate = MakeNumberEdit(1062, this);
    m_cbrQuality = MakeNumberEdit(1086, this);
    m_vbr = MakeCombo(1030, {}, this);
    m_vbrQuality = MakeNumberEdit(1087, this);
    auto *defaults = MakeButton(1031, "default", this);
    connect(defaults, &QPushButton::clicked, this, &CConfigWM9::OnDefault);

    auto withUnit = [this](QWidget *edit, const char *unit) {
        auto *row = new QHBoxLayout;
        row->addWidget(edit);
        row->addWidget(MakeLabel(unit, this));
        return row;
    };
    auto *form = new QFormLayout;
    form->addRow(MakeLabel("FrameRate:", this), withUnit(m_frameRate, "fps"));
    form->addRow(MakeLabel("CBR BitRate:", this), withUnit(m_bitrate, "kBps"));
    form->addRow(MakeLabel("CBR Quality:", this), withUnit(m_cbrQuality, "(1-100)"));
    form->addRow(MakeLabel("Use VBR:", this), m_vbr);
    form->addRow(MakeLabel("VBR Quality:", this), withUnit(m_vbrQuality, "(1-100)"));
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(defaults);
    layout->addWidget(MakeOkCancel(this));
}

void CConfigWM9::OnDefault()
{
    Values = Wm9Defaults();
    UpdateData(false);
}

bool CConfigWM9::DoDataExchange(bool save)
{
    if (!save) {
        if (m_vbr->count() == 0)
            m_vbr->addItems({ "No", "Yes" });
        m_frameRate->setText(QString::number(double(Values.frameRate)));
        m_bitrate->setText(QString::number(Values.cbrBitrate));
        m_cbrQuality->setText(QString::number(Values.cbrQuality));
        m_vbrQuality->setText(QString::number(Values.vbrQuality));
        SelectIndex(m_vbr, Values.useVbr);
        return true;
    }
    const std::optional<double> rate
        = ReadDecimal(m_frameRate, kWm9MinFrameRate, kWm9MaxFrameRate, m_notifier);
    if (!rate)
        return false;
    const std::optional<int> bitrate = ReadInteger(m_bitrate, INT_MIN, INT_MAX, m_notifier);
    if (!bitrate)
        return false;
    const std::optional<int> cbr = ReadInteger(m_cbrQuality, INT_MIN, INT_MAX, m_notifier);
    if (!cbr)
        return false;
    const std::optional<int> vbr = ReadInteger(m_vbrQuality, INT_MIN, INT_MAX, m_notifier);
    if (!vbr)
        return false;
    Values = { float(*rate), *bitrate, *cbr, *vbr, std::max(m_vbr->currentIndex(), 0) };
    return true;
}

// ---------------------------------------------------------------------------------------------

CCodecProperties::CCodecProperties(INotifier &notifier, const std::string &codecName,
                                   QWidget *parent)
    : CIdleDlg(0, parent), m_notifier(notifier)
{
    setWindowTitle("Configure " + FromUtf8(codecName));
    m_scroll = new QScrollArea(this);
    m_form = new QWidget(m_scroll);
    new QFormLayout(m_form);
    m_scroll->setWidget(m_form);
    m_scroll->setWidgetResizable(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_scroll);
    layout->addWidget(MakeOkCancel(this));
}

void CCodecProperties::OnInitDialog()
{
    if (m_editors.empty()) {
        auto *form = static_cast<QFormLayout *>(m_form->layout());
        for (const CodecProperty &p : Properties) {
            QWidget *editor = nullptr;
            if (p.kind == CodecProperty::Kind::Boolean) {
                editor = new QCheckBox(m_form);
            } else if (p.kind == CodecProperty::Kind::Choice) {
                auto *combo = new QComboBox(m_form);
                for (const std::string &choice : p.choices)
                    combo->addItem(FromUtf8(choice));
                editor = combo;
            } else {
                auto *edit = new QLineEdit(m_form);
                edit->setValidator(new Utf8LimitValidator(kMaxCodecValueBytes, edit));
                editor = edit;
            }
            editor->setObjectName(FromUtf8(p.name));
            editor->setToolTip(FromUtf8(p.blurb));
            form->addRow(FromUtf8(p.nick) + ":", editor);
            m_editors.push_back(editor);
        }
        FitRows(kRowsShown);
    }
    UpdateData(false);
}

void CCodecProperties::FitRows(int rows)
{
    auto *form = static_cast<QFormLayout *>(m_form->layout());
    const QMargins margins = form->contentsMargins();
    int height = margins.top() + margins.bottom();
    for (int row = 0; row < std::min(rows, form->rowCount()); ++row) {
        int tallest = 0;
        for (const auto role : { QFormLayout::LabelRole, QFormLayout::FieldRole })
            if (const QLayoutItem *item = form->itemAt(row, role))
                tallest = std::max(tallest, item->sizeHint().height());
        height += tallest + (row > 0 ? form->verticalSpacing() : 0);
    }
    const int frame = 2 * m_scroll->frameWidth();
    // Room for the scroll bar, so that no row needs scrolling sideways.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_scroll);
    m_scroll->setMinimumSize(m_form->sizeHint().width() + frame + bar, height + frame);
}

bool CCodecProperties::DoDataExchange(bool save)
{
    for (size_t i = 0; i < m_editors.size() && i < Properties.size(); ++i) {
        CodecProperty &p = Properties[i];
        QWidget *editor = m_editors[i];
        if (auto *box = qobject_cast<QCheckBox *>(editor)) {
            if (save)
                p.value = box->isChecked() ? "true" : "false";
            else
                box->setChecked(p.value == "true");
        } else if (auto *combo = qobject_cast<QComboBox *>(editor)) {
            if (save && combo->currentIndex() >= 0)
                p.value = ToUtf8(combo->currentText());
            else if (!save)
                combo->setCurrentIndex(combo->findText(FromUtf8(p.value)));
        } else if (auto *edit = qobject_cast<QLineEdit *>(editor)) {
            if (!save) {
                edit->setText(FromUtf8(p.value));
                continue;
            }
            const std::string text = ToUtf8(edit->text().trimmed());
            if (Accepts && !Accepts(p.name, text)) {
                m_notifier.ShowMessage("\"" + text + "\" is no valid value of " + p.nick + ".",
                                       kPlainCaption);
                edit->setFocus();
                edit->selectAll();
                return false;
            }
            p.value = text;
        }
    }
    return true;
}

} // namespace vorlund
