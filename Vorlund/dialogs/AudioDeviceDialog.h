#pragma once

#include "DevicePageValues.h"
#include "IdleDlg.h"

class QCheckBox;
class QComboBox;

namespace vorlund {

// "Audio Device": the audio capture device, its input line and level, and whether sound is
// recorded. The members are AudioDeviceValues'; the opener fills them and reads them on OK.
class CAudioDevice : public CIdleDlg, public AudioDeviceValues
{
public:
    explicit CAudioDevice(QWidget *parent = nullptr);

    void accept() override;

protected:
    void OnInitDialog() override;
    bool DoDataExchange(bool saveAndValidate) override;

private:
    void OnSelChangeDevice();
    void FillLines(const AudioLines &lines, int select);

    QComboBox *m_devices;
    QComboBox *m_lines;
    QComboBox *m_levels;
    QCheckBox *m_record;
};

} // namespace vorlund
