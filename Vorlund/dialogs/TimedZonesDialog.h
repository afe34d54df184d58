#pragma once

#include "IdleDlg.h"
#include "TimedZones.h"

#include <QLabel>
#include <QSpinBox>

#include <functional>

namespace vorlund {

// "Masking\Timed Zones": modeless; edits one zone's hours at a time. Next, OK and Cancel are
// reported to the owner, which runs the editor's logic.
class CTimedZones : public CIdleDlg
{
public:
    explicit CTimedZones(QWidget *parent = nullptr);

    void SetZone(const std::string &label, TimedZoneEditor::Hours hours);
    TimedZoneEditor::Hours EnteredHours() const;

    std::function<void(bool shift, TimedZoneEditor::Hours entered)> OnNext;
    std::function<void(bool ok, TimedZoneEditor::Hours entered)> OnClosed;

    void accept() override;
    void reject() override;

private:
    QLabel *m_label;
    QSpinBox *m_begin;
    QSpinBox *m_end;
};

} // namespace vorlund
