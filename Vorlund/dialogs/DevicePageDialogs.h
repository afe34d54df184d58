#pragma once

#include "DevicePageValues.h"
#include "IdleDlg.h"

class QComboBox;
class QLabel;
class QSpinBox;

namespace vorlund {

// The device's own pages: each copies its values in on show and back on OK; the device
// pages topic applies them.

// "Video Input": which input the card's decoder takes.
class CInputPage : public CIdleDlg
{
public:
    explicit CInputPage(QWidget *parent = nullptr);
    InputPageValues Values;

protected:
    void OnInitDialog() override;
    bool DoDataExchange(bool saveAndValidate) override;

private:
    QComboBox *m_inputs;
};

// "Video Settings": the video standard and the picture controls.
class CCapturePage : public CIdleDlg
{
public:
    explicit CCapturePage(QWidget *parent = nullptr);
    CapturePageValues Values;

protected:
    void OnInitDialog() override;
    bool DoDataExchange(bool saveAndValidate) override;

private:
    QComboBox *m_standard;
    QWidget *m_controls;
};

// "Video Format": format, size and frame rate among the device's own.
class CFormatPage : public CIdleDlg
{
public:
    explicit CFormatPage(QWidget *parent = nullptr);
    FormatPageValues Values;

protected:
    void OnInitDialog() override;
    bool DoDataExchange(bool saveAndValidate) override;

private:
    void FillChoices(int option);

    QComboBox *m_format;
    QComboBox *m_size;
    QComboBox *m_rate;
};

// "TV Tuner": the channel of the profile's table.
class CTunerPage : public CIdleDlg
{
public:
    explicit CTunerPage(QWidget *parent = nullptr);
    TunerPageValues Values;

protected:
    void OnInitDialog() override;
    bool DoDataExchange(bool saveAndValidate) override;

private:
    void ShowFrequency();

    QSpinBox *m_channel;
    QLabel *m_frequency;
};

// The production runner: each page modal over `parent`.
class QtDevicePageDialogs : public IDevicePageDialogs
{
public:
    explicit QtDevicePageDialogs(QWidget *parent) : m_parent(parent) { }
    bool RunInputPage(InputPageValues &values) override;
    bool RunCapturePage(CapturePageValues &values) override;
    bool RunFormatPage(FormatPageValues &values) override;
    bool RunTunerPage(TunerPageValues &values) override;
    bool RunAudioDevice(AudioDeviceValues &values) override;

private:
    QWidget *m_parent;
};

// "30 fps", "29.97 fps", or the device's own rate for 0.
QString FrameRateLabel(int64_t frameDuration);

} // namespace vorlund
