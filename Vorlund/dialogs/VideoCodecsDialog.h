// "Video Compression Codecs" (the codec chooser), "Configure WMVideo9 Encoder" and the editor
// of a compressor's settings that "Configure" opens.
#pragma once

#include "CodecChoice.h"
#include "CodecProperties.h"
#include "IdleDlg.h"
#include "Notifier.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QCheckBox;
class QComboBox;
class QPushButton;
class QScrollArea;
class QValidator;

namespace vorlund {

class CVideoCodecs : public CIdleDlg
{
public:
    explicit CVideoCodecs(INotifier &notifier, QWidget *parent = nullptr);

    std::vector<std::string> CompressorNames;
    std::string Selection; // the chosen compressor or profile name
    std::string CurrentCompressor; // CodecName when the dialog was filled
    std::string CurrentProfile; // WmProfilePath; its display name once the listing finds it
    int UseProfiles = 0;
    ProfileMap Profiles;
    std::filesystem::path WorkingFolder; // the profiles lie in its "profiles" folder

    // "Configure" and "Create/Edit": the view takes the check box's state at once and, without
    // profiles, the selection as its codec, and shows that compressor's settings.
    std::function<void(bool useProfiles, const std::string &selection)> OnConfigure;

    // Refills Profiles and the profile list.
    ProfileListResult FillProfileList();
    void OnConfigureOrEdit();
    void OnUseProfilesClicked();
    void accept() override;

protected:
    bool DoDataExchange(bool saveAndValidate) override;
    void OnInitDialog() override;

private:
    void OnListSelection(QListWidgetItem *item);
    void EnableOk();

    INotifier &m_notifier;
    QListWidget *m_compressors;
    QListWidget *m_profiles;
    QLineEdit *m_selection;
    QCheckBox *m_useProfiles;
    QPushButton *m_ok;
    QValidator *m_codecLimit;
    QValidator *m_profileLimit;
};

// "Configure WMVideo9 Encoder".
class CConfigWM9 : public CIdleDlg
{
public:
    explicit CConfigWM9(INotifier &notifier, QWidget *parent = nullptr);
    Wm9Values Values;

    void OnDefault();

protected:
    bool DoDataExchange(bool saveAndValidate) override;

private:
    INotifier &m_notifier;
    QLineEdit *m_frameRate;
    QLineEdit *m_bitrate;
    QLineEdit *m_cbrQuality;
    QComboBox *m_vbr;
    QLineEdit *m_vbrQuality;
};

// A compressor's writable settings, one control each (named by the property).
class CCodecProperties : public CIdleDlg
{
public:
    CCodecProperties(INotifier &notifier, const std::string &codecName, QWidget *parent = nullptr);
    std::vector<CodecProperty> Properties;
    // Whether the compressor takes this text for that property; none takes every text.
    std::function<bool(const std::string &name, const std::string &value)> Accepts;

protected:
    bool DoDataExchange(bool saveAndValidate) override;
    void OnInitDialog() override;

private:
    static constexpr int kRowsShown = 10; // the rest scroll
    // The list opens tall enough for this many rows, and wide enough for every row.
    void FitRows(int rows);

    INotifier &m_notifier;
    QScrollArea *m_scroll;
    QWidget *m_form;
    std::vector<QWidget *> m_editors; // parallel to Properties once built
};

} // namespace vorlund
