#include "IdleDlg.h"
#include "UiTestSupport.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QWhatsThis>

namespace vorlund {
namespace {

// A small settings dialog in the shape the real ones take.
class SizeDialog : public CIdleDlg
{
public:
    bool m_LimitOn = false;
    int m_LimitMb = 0;
    QString m_Name;

    SizeDialog() : CIdleDlg(136)
    {
        limit = new QCheckBox("Video directory size:", this);
        limit->setObjectName("1052");
        size = new QSpinBox(this);
        size->setObjectName("1053");
        size->setRange(10, 5000);
        name = new QLineEdit(this);
        name->setObjectName("1054");
        name->setMaxLength(51);
        unit = new QLabel("MB", this);
        unit->setObjectName("65535");
        otherUnit = new QLabel("(at most 5000)", this);
        otherUnit->setObjectName("65535");
        auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        connect(buttons, &QDialogButtonBox::accepted, this, &SizeDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &SizeDialog::reject);

        auto *form = new QFormLayout(this);
        form->addRow(limit, size);
        form->addRow(unit, otherUnit);
        form->addRow("Name:", name);
        form->addRow(buttons);

        SetEnableRule(1053, [this] { return m_LimitOn; });
        SetEnableRule(65535, [this] { return IsDlgButtonChecked(1052); });
        UpdateDataOnClick({ 1052 });
        SetHelpEntry(1052, "Video directory size",
                     "Limits the space the recordings may take.\nOld files are deleted.\n");
    }

    bool DoDataExchange(bool save) override
    {
        if (!save) {
            limit->setChecked(m_LimitOn);
            size->setValue(m_LimitMb);
            name->setText(m_Name);
            return true;
        }
        if (name->text().isEmpty())
            return false;
        m_LimitOn = limit->isChecked();
        m_LimitMb = size->value();
        m_Name = name->text();
        return true;
    }

    QCheckBox *limit;
    QSpinBox *size;
    QLineEdit *name;
    QLabel *unit;
    QLabel *otherUnit;
};

class IdleDlgTest : public UiTest
{
protected:
    void Open(SizeDialog &dlg)
    {
        dlg.m_LimitOn = false;
        dlg.m_LimitMb = 700;
        dlg.m_Name = "Front door";
        dlg.open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    }
};

TEST_F(IdleDlgTest, CheckBoxReEnablesItsControlsAtOnce)
{
    SizeDialog dlg;
    Open(dlg);
    EXPECT_FALSE(dlg.size->isEnabled());
    EXPECT_FALSE(dlg.unit->isEnabled());
    EXPECT_FALSE(dlg.otherUnit->isEnabled());
    EXPECT_TRUE(dlg.name->isEnabled()); // no rule: keeps its state
    EXPECT_EQ(dlg.objectName(), "136");

    QTest::mouseClick(dlg.limit, Qt::LeftButton);
    EXPECT_TRUE(dlg.m_LimitOn);
    EXPECT_TRUE(dlg.size->isEnabled());
    EXPECT_TRUE(dlg.unit->isEnabled());
    EXPECT_TRUE(dlg.otherUnit->isEnabled());

    // Rules on the controls' own state follow any change, not only clicks.
    dlg.limit->setChecked(false);
    EXPECT_FALSE(dlg.unit->isEnabled());
    dlg.reject();
}

TEST_F(IdleDlgTest, CopiesInOnShowAndBackOnlyOnOk)
{
    SizeDialog dlg;
    Open(dlg);
    EXPECT_EQ(dlg.size->value(), 700);
    EXPECT_EQ(dlg.name->text(), "Front door");

    dlg.size->setValue(900);
    dlg.reject();
    EXPECT_EQ(dlg.m_LimitMb, 700);

    Open(dlg);
    EXPECT_EQ(dlg.size->value(), 700); // copied in again, not left from the last run
    dlg.size->setValue(1200);
    dlg.name->clear();
    dlg.accept(); // refused: the dialog stays and the fields are untouched
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.m_LimitMb, 700);

    QTest::keyClicks(dlg.name, "Yard");
    dlg.accept();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.m_LimitMb, 1200);
    EXPECT_EQ(dlg.m_Name, "Yard");
}

TEST_F(IdleDlgTest, NestedDialogChangesAreSeenWhenItReturns)
{
    SizeDialog dlg;
    Open(dlg);
    ASSERT_FALSE(dlg.size->isEnabled());

    // The nested dialog writes into the parent's fields only, as it ends with OK.
    QDialog nested(&dlg);
    QObject::connect(&nested, &QDialog::accepted, &dlg, [&] { dlg.m_LimitOn = true; });
    QTimer::singleShot(0, &nested, &QDialog::accept);
    EXPECT_EQ(dlg.RunNested(nested), QDialog::Accepted);
    EXPECT_TRUE(dlg.size->isEnabled());
    dlg.reject();
}

TEST_F(IdleDlgTest, F1OpensTheControlsHelpCentredOnIt)
{
    SizeDialog dlg;
    Open(dlg);
    dlg.limit->setFocus();
    QTest::keyClick(dlg.limit, Qt::Key_F1);

    const auto balloons = ShownBalloons();
    ASSERT_EQ(balloons.size(), 1u);
    const CHelpBalloon *b = balloons.front();
    EXPECT_EQ(b->windowTitle(), "Video directory size");
    EXPECT_EQ(b->Content(), "Limits the space the recordings may take.\nOld files are deleted.\n");
    const QPoint topLeft = dlg.limit->mapToGlobal(QPoint(0, 0));
    const QPoint centre((2 * topLeft.x() + dlg.limit->width()) / 2,
                        (2 * topLeft.y() + dlg.limit->height()) / 2);
    EXPECT_EQ(b->AnchorOnScreen(), centre);
    EXPECT_TRUE(b->HasIcon());
    EXPECT_EQ(b->Options() & ~(BalloonOption::NoFadeIn | BalloonOption::NoFadeOut),
              kDialogHelpOptions | BalloonOption::DeleteSelf);
    EXPECT_EQ(b->TimeoutMs(), kDialogHelpTimeoutMs);
    dlg.reject();
}

TEST_F(IdleDlgTest, ControlWithoutHelpShowsNothing)
{
    SizeDialog dlg;
    Open(dlg);
    dlg.name->setFocus();
    QTest::keyClick(dlg.name, Qt::Key_F1);
    EXPECT_TRUE(ShownBalloons().empty());
    EXPECT_EQ(dlg.ControlId(dlg.name), 1054);
    EXPECT_FALSE(dlg.OnHelpInfo(dlg.size));
    // The spin box's inner editor answers for the spin box.
    EXPECT_EQ(dlg.ControlId(dlg.size->findChild<QLineEdit *>()), 1053);
    dlg.reject();
}

TEST_F(IdleDlgTest, HelpModeClickOpensTheClickedControlsHelp)
{
    SizeDialog dlg;
    Open(dlg);
    QWhatsThis::enterWhatsThisMode();
    QTest::mouseClick(dlg.name, Qt::LeftButton); // no entry: nothing
    EXPECT_TRUE(ShownBalloons().empty());
    if (!QWhatsThis::inWhatsThisMode())
        QWhatsThis::enterWhatsThisMode();
    QTest::mouseClick(dlg.limit, Qt::LeftButton);
    EXPECT_FALSE(dlg.limit->isChecked()); // the click asked for help, it did not toggle
    const auto balloons = ShownBalloons();
    ASSERT_EQ(balloons.size(), 1u);
    EXPECT_EQ(balloons.front()->windowTitle(), "Video directory size");
    if (QWhatsThis::inWhatsThisMode())
        QWhatsThis::leaveWhatsThisMode();
    dlg.reject();
}

} // namespace
} // namespace vorlund
