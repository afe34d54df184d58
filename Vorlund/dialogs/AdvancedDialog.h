#pragma once

#include "ConfigValues.h"
#include "IdleDlg.h"
#include "Notifier.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QTimeEdit;

namespace vorlund {

// "Advanced Settings": the continuous-recording window, the PTZ serial line and cameras, the
// DV capture options. Copy the values in, run it, read them back after OK.
class CAdvanced : public CIdleDlg
{
public:
    explicit CAdvanced(INotifier &notifier, QWidget *parent = nullptr);

    AdvancedValues Values;

    void accept() override;

protected:
    void OnInitDialog() override;
    bool DoDataExchange(bool saveAndValidate) override;

private:
    struct WindowEnd
    {
        QCheckBox *set;
        QTimeEdit *time;
    };
    WindowEnd MakeWindowEnd(int id, const QString &label);
    void LoadEnd(const WindowEnd &end, uint8_t hour, uint8_t minute);
    static void SaveEnd(const WindowEnd &end, uint8_t &hour, uint8_t &minute);

    INotifier &m_notifier;
    QCheckBox *m_continuous;
    WindowEnd m_from;
    WindowEnd m_to;
    QComboBox *m_port;
    QComboBox *m_baud;
    QComboBox *m_protocol;
    QComboBox *m_standard;
    PerCamera<QCheckBox *> m_ptz {};
    PerCamera<QLineEdit *> m_address {};
    QCheckBox *m_progressive;
    QCheckBox *m_fullSize;
    QCheckBox *m_rgb219;
};

} // namespace vorlund
