#include "IdleDlg.h"

#include "HelpBalloon.h"

#include <QAbstractButton>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QMetaMethod>
#include <QScreen>
#include <QShowEvent>
#include <QWhatsThis>

#include <algorithm>

namespace vorlund {

namespace {

// Change signals of the standard controls; any of them means a rule may now differ.
bool IsChangeSignal(const QMetaMethod &m)
{
    static const QByteArrayList names { "toggled",           "currentIndexChanged",
                                        "editTextChanged",   "textChanged",
                                        "valueChanged",      "dateTimeChanged",
                                        "currentRowChanged", "itemSelectionChanged",
                                        "cellChanged" };
    return m.methodType() == QMetaMethod::Signal && names.contains(m.name());
}

int IdOf(const QWidget *w)
{
    bool ok = false;
    const int id = w->objectName().toInt(&ok);
    return ok ? id : -1;
}

} // namespace

void FitWindowToLayout(QWidget &window)
{
    // A size the program or the user chose stays.
    if (window.testAttribute(Qt::WA_Resized))
        return;
    QLayout *layout = window.layout();
    if (!layout)
        return;
    layout->activate();
    QSize want = window.sizeHint().expandedTo(window.minimumSizeHint());
    // The caption's text, with room for its icon and buttons.
    const QFontMetrics metrics = window.fontMetrics();
    want.setWidth(std::max(want.width(),
                           metrics.horizontalAdvance(window.windowTitle()) + 6 * metrics.height()));
    if (layout->hasHeightForWidth())
        want.setHeight(std::max(want.height(), layout->totalHeightForWidth(want.width())));
    want = want.expandedTo(window.size());
    if (const QScreen *screen = window.screen())
        want = want.boundedTo(screen->availableGeometry().size());
    window.resize(want);
    // Still Qt's own choice: a later show may fit again.
    window.setAttribute(Qt::WA_Resized, false);
}

CIdleDlg::CIdleDlg(int templateId, QWidget *parent) : QDialog(parent)
{
    if (templateId > 0)
        setObjectName(QString::number(templateId));
    setWindowFlag(Qt::WindowContextHelpButtonHint, true);
}

void CIdleDlg::SetEnableRule(int id, std::function<bool()> condition)
{
    m_rules.push_back({ id, std::move(condition) });
}

void CIdleDlg::SetHelpEntry(int id, const QString &title, const QString &text)
{
    m_help[id] = { title, text };
}

void CIdleDlg::UpdateDataOnClick(std::initializer_list<int> ids)
{
    for (int id : ids) {
        auto *box = qobject_cast<QAbstractButton *>(Control(id));
        if (!box)
            continue;
        // clicked, not toggled: copying in sets boxes too and must not copy back half-way.
        connect(box, &QAbstractButton::clicked, this, [this] {
            UpdateData(true);
            UpdateDialogControls();
        });
    }
}

QWidget *CIdleDlg::Control(int id) const
{
    return findChild<QWidget *>(QString::number(id));
}

bool CIdleDlg::IsDlgButtonChecked(int id) const
{
    const auto *button = qobject_cast<const QAbstractButton *>(Control(id));
    return button && button->isChecked();
}

int CIdleDlg::ControlId(const QWidget *widget) const
{
    for (const QWidget *w = widget; w && w != this; w = w->parentWidget()) {
        if (const int id = IdOf(w); id >= 0)
            return id;
        if (w->isWindow())
            break;
    }
    return -1;
}

void CIdleDlg::UpdateDialogControls()
{
    // A rule that changes a control must not start another pass from inside this one.
    if (m_inRules)
        return;
    m_inRules = true;
    for (const Rule &rule : m_rules) {
        const bool enable = rule.condition();
        for (QWidget *w : findChildren<QWidget *>(QString::number(rule.id)))
            w->setEnabled(enable);
    }
    m_inRules = false;
}

int CIdleDlg::RunNested(QDialog &nested)
{
    const int result = nested.exec();
    UpdateDialogControls();
    return result;
}

bool CIdleDlg::UpdateData(bool saveAndValidate)
{
    return DoDataExchange(saveAndValidate);
}

bool CIdleDlg::DoDataExchange(bool)
{
    return true;
}

void CIdleDlg::OnInitDialog()
{
    UpdateData(false);
}

void CIdleDlg::accept()
{
    if (!UpdateData(true))
        return;
    QDialog::accept();
}

void CIdleDlg::ConnectChangeSignals()
{
    const QMetaMethod slot
        = staticMetaObject.method(staticMetaObject.indexOfSlot("OnControlChanged()"));
    for (QWidget *w : findChildren<QWidget *>()) {
        const QMetaObject *meta = w->metaObject();
        for (int i = 0; i < meta->methodCount(); ++i) {
            const QMetaMethod signal = meta->method(i);
            if (IsChangeSignal(signal))
                connect(w, signal, this, slot, Qt::UniqueConnection);
        }
    }
}

void CIdleDlg::OnControlChanged()
{
    UpdateDialogControls();
}

void CIdleDlg::setVisible(bool visible)
{
    // Filled before Qt shows the controls and sizes the window, so both include what
    // OnInitDialog adds.
    if (visible && !isVisible()) {
        OnInitDialog();
        ConnectChangeSignals();
        UpdateDialogControls();
    }
    QDialog::setVisible(visible);
}

void CIdleDlg::showEvent(QShowEvent *event)
{
    // The base places the window after this, at its final size.
    if (!event->spontaneous())
        FitWindowToLayout(*this);
    QDialog::showEvent(event);
}

bool CIdleDlg::OnHelpInfo(QWidget *control)
{
    if (!control)
        return false;
    const int id = ControlId(control);
    const auto entry = m_help.find(id);
    if (entry == m_help.end())
        return false;
    const QWidget *target = Control(id);
    if (!target)
        return false;
    const QPoint topLeft = target->mapToGlobal(QPoint(0, 0));
    const int left = topLeft.x();
    const int top = topLeft.y();
    const int right = left + target->width();
    const int bottom = top + target->height();
    const QPoint centre((left + right) / 2, (top + bottom) / 2);
    return LaunchBalloon(entry->second.title, entry->second.text, centre, kBalloonIconInformation,
                         kDialogHelpOptions, nullptr, QString(), kDialogHelpTimeoutMs);
}

void CIdleDlg::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        OnHelpInfo(focusWidget());
        event->accept();
        return;
    }
    // The caption's "?" button is up to the window manager; this reaches the same mode.
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::ShiftModifier) {
        QWhatsThis::enterWhatsThisMode();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool CIdleDlg::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::QueryWhatsThis:
    case QEvent::WhatsThis: {
        // Reaches the dialog from any control that has no "What's this" text of its own.
        const auto *help = static_cast<QHelpEvent *>(event);
        QWidget *child = childAt(help->pos());
        const bool known = child && m_help.count(ControlId(child)) != 0;
        if (event->type() == QEvent::WhatsThis && known)
            OnHelpInfo(child);
        event->setAccepted(known);
        return true;
    }
    case QEvent::WindowActivate:
        UpdateDialogControls();
        break;
    default:
        break;
    }
    return QDialog::event(event);
}

} // namespace vorlund
