#include "TimedZonesDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <climits>

namespace vorlund {

namespace {

QSpinBox *HourEdit(int id, QWidget *parent)
{
    auto *edit = new QSpinBox(parent);
    // Any whole number, as the hours were never range-checked; the tick reads them as they are.
    edit->setRange(INT_MIN, INT_MAX);
    edit->setObjectName(QString::number(id));
    return edit;
}

} // namespace

CTimedZones::CTimedZones(QWidget *parent) : CIdleDlg(142, parent)
{
    setWindowTitle("Masking\\Timed Zones");
    setModal(false);
    setWindowFlag(Qt::WindowContextHelpButtonHint, true);
    m_label = new QLabel("Zone 1", this);
    m_label->setObjectName("1004");
    m_begin = HourEdit(1005, this);
    m_end = HourEdit(1006, this);
    auto *next = new QPushButton("Next", this);
    next->setObjectName("1007");
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("1");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("2");

    auto *grid = new QGridLayout;
    grid->addWidget(m_label, 0, 0, 1, 3);
    grid->addWidget(new QLabel("Begin:", this), 1, 0);
    grid->addWidget(m_begin, 1, 1);
    grid->addWidget(new QLabel(":00", this), 1, 2);
    grid->addWidget(new QLabel("End:", this), 2, 0);
    grid->addWidget(m_end, 2, 1);
    grid->addWidget(new QLabel(":00", this), 2, 2);
    grid->addWidget(next, 3, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Enter Begin and End times (24 hour format.)\nThere are 4 zones "
                                 "that make up a 24 hour day.",
                                 this));
    layout->addLayout(grid);
    layout->addWidget(new QLabel(
        "Hold SHIFT key then click Next to copy this zone's mask to the next zone.", this));
    layout->addWidget(buttons);

    connect(next, &QPushButton::clicked, this, [this] {
        const bool shift = QApplication::keyboardModifiers().testFlag(Qt::ShiftModifier);
        if (OnNext)
            OnNext(shift, EnteredHours());
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &CTimedZones::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CTimedZones::reject);

    const QString zoneTail = "Then click the white squares on the image to turn on/off\nthat area "
                             "you want to scan for motion detection for\nthat time zone.\n";
    SetHelpEntry(1, "Save Changes", "Click this button to save these settings.");
    SetHelpEntry(1005, "Begin Time",
                 "Enter the start time for this zone in 24-hour format.\n" + zoneTail);
    SetHelpEntry(1006, "End Time",
                 "Enter the end time for this zone in 24-hour format.\n" + zoneTail);
    SetHelpEntry(1007, "Next Time Zone",
                 "Click this to go to the next time zone. There are 4\ntimed zones that can be set "
                 "to complete a 24 hour period\nMake sure one zone's End time is another's Begin "
                 "time.\nAlso, if you hold down the SHIFT key while clicking Next\nyou can copy "
                 "this Zone to the next Zone.\n");
}

void CTimedZones::SetZone(const std::string &label, TimedZoneEditor::Hours hours)
{
    m_label->setText(QString::fromStdString(label));
    m_begin->setValue(hours.begin);
    m_end->setValue(hours.end);
}

TimedZoneEditor::Hours CTimedZones::EnteredHours() const
{
    return { m_begin->value(), m_end->value() };
}

void CTimedZones::accept()
{
    // The spin boxes hold whole numbers only, so OK never closes on an unreadable hour.
    QDialog::accept();
    if (OnClosed)
        OnClosed(true, EnteredHours());
}

void CTimedZones::reject()
{
    QDialog::reject();
    if (OnClosed)
        OnClosed(false, EnteredHours());
}

} // namespace vorlund
