#pragma once

#include "IdleDlg.h"

#include <QTime>

class QCheckBox;
class QSpinBox;
class QTimeEdit;

namespace vorlund {

// "TV Control": the TV recording timer. Its opener (the camera command in TV mode) fills the
// members and applies them on OK.
class CTVCard : public CIdleDlg
{
public:
    explicit CTVCard(QWidget *parent = nullptr);

    int RecordNow = 0; // 1052 "Record Now!"
    int TvRecording = 0; // 1074 "Enable TV Recording"
    QTime FromTime; // 1060; invalid = not set
    QTime ToTime; // 1061; invalid = not set
    int Channel = 0; // 1029 "Channel:"

protected:
    bool DoDataExchange(bool saveAndValidate) override;

private:
    // A time that is not set shows as 00:00 and stays not set until the user changes it.
    struct TimeControl
    {
        QTimeEdit *edit = nullptr;
        bool unset = false;
    };
    void Exchange(TimeControl &control, QTime &member, bool save);

    QCheckBox *m_recordNow;
    QCheckBox *m_tvRecording;
    TimeControl m_from;
    TimeControl m_to;
    QSpinBox *m_channel;
};

} // namespace vorlund
