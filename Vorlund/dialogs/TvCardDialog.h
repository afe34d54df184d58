#pragma once

#include "CamSettingsDialog.h"

namespace vorlund {

// "TV Control": the TV recording timer, opened by the camera commands in TV mode.
class CTVCard : public CIdleDlg
{
public:
    CTVCard(INotifier &notifier, QWidget *parent = nullptr);

    bool RecordNow = false;
    bool Record = false;
    std::optional<TimeOfDay> From;
    std::optional<TimeOfDay> To;
    int Channel = 0;

protected:
    bool DoDataExchange(bool saveAndValidate) override;

private:
    INotifier &m_notifier;
    QCheckBox *m_recordNow;
    QCheckBox *m_record;
    OptionalTimeEdit *m_from;
    OptionalTimeEdit *m_to;
    QLineEdit *m_channel;
};

} // namespace vorlund
