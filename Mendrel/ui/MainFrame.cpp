#include "MainFrame.h"

#include "MendrelView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

// The edit and print buttons have no standard picture; these are drawn on a 16-unit grid at
// twice the size, so a missing icon theme never leaves a button blank.
QIcon DrawnIcon(int id)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(2, 2);
    const QPen ink(QColor(40, 40, 40), 1.0);
    const QColor paper(250, 250, 250);
    auto page = [&](QRectF r) {
        p.setPen(ink);
        p.setBrush(paper);
        p.drawRect(r);
        for (qreal y = r.top() + 3; y < r.bottom() - 1; y += 2)
            p.drawLine(QPointF(r.left() + 2, y), QPointF(r.right() - 2, y));
    };
    switch (id) {
    case 57635: // cut: scissors
        p.setPen(QPen(QColor(40, 40, 40), 1.2));
        p.drawLine(QPointF(5, 1.5), QPointF(10, 11));
        p.drawLine(QPointF(11, 1.5), QPointF(6, 11));
        p.setPen(QPen(QColor(30, 60, 160), 1.4));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(4.5, 12.5), 2.5, 2.5);
        p.drawEllipse(QPointF(11.5, 12.5), 2.5, 2.5);
        break;
    case 57634: // copy: two pages
        page(QRectF(1.5, 1.5, 8, 10));
        page(QRectF(6.5, 4.5, 8, 10));
        break;
    case 57637: // paste: a page on a clipboard
        p.setPen(ink);
        p.setBrush(QColor(190, 140, 70));
        p.drawRect(QRectF(1.5, 2.5, 10, 12));
        p.setBrush(QColor(160, 160, 160));
        p.drawRect(QRectF(4.5, 1.5, 4, 2));
        page(QRectF(6.5, 6.5, 8, 8));
        break;
    case 57607: // print: a printer with its sheet
        page(QRectF(4.5, 1.5, 7, 6));
        p.setPen(ink);
        p.setBrush(QColor(170, 170, 170));
        p.drawRoundedRect(QRectF(1.5, 6.5, 13, 6), 1, 1);
        p.setBrush(paper);
        p.drawRect(QRectF(4.5, 10.5, 7, 4));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 160, 40));
        p.drawRect(QRectF(12, 8, 1.5, 1.5));
        break;
    default:
        break;
    }
    return QIcon(pixmap);
}

QIcon ButtonIcon(const QStyle *style, int id)
{
    switch (id) {
    case 57600:
        return style->standardIcon(QStyle::SP_FileIcon);
    case 57601:
        return style->standardIcon(QStyle::SP_DialogOpenButton);
    case 57603:
        return style->standardIcon(QStyle::SP_DialogSaveButton);
    case 57664:
        return style->standardIcon(QStyle::SP_MessageBoxInformation);
    default:
        return DrawnIcon(id);
    }
}

} // namespace

CAboutDlg::CAboutDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("100"));
    setWindowTitle(QStringLiteral("About Mendrel"));
    auto *icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(32, 32));
    auto *text = new QLabel(QStringLiteral("Mendrel Version 1.0"), this);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(icon);
    layout->addWidget(text);
    layout->addWidget(buttons);
}

CMainFrame::CMainFrame(vorlund::INotifier &notifier, IFileChooser &chooser,
                       std::unique_ptr<ILockKeys> lockKeys)
    : m_view(new CMendrelView(notifier, chooser, this)), m_lockKeys(std::move(lockKeys))
{
    if (!m_lockKeys)
        m_lockKeys = std::make_unique<X11LockKeys>();
    // The caption is the program's name only, never a document's.
    setWindowTitle(QStringLiteral("Mendrel"));
    resize(640, 480);
    setCentralWidget(m_view);
    CreateActions();
    CreateStatusBar();
}

void CMainFrame::CreateStatusBar()
{
    QStatusBar *bar = statusBar();
    m_message = new QLabel(QStringLiteral("Ready"), bar);
    m_message->setObjectName(QStringLiteral("0"));
    bar->addWidget(m_message, 1);
    const std::pair<int, const char *> panes[]
        = { { kCapsPane, "CAPS" }, { kNumPane, "NUM" }, { kScrollPane, "SCRL" } };
    for (const auto &[id, text] : panes) {
        auto *pane = new QLabel(bar);
        pane->setObjectName(QString::number(id));
        pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        pane->setAlignment(Qt::AlignCenter);
        // Each pane keeps the width of its text while the key is off.
        pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(QLatin1String(text)) + 8);
        bar->addPermanentWidget(pane);
    }
    m_caps = bar->findChild<QLabel *>(QString::number(kCapsPane));
    m_num = bar->findChild<QLabel *>(QString::number(kNumPane));
    m_scroll = bar->findChild<QLabel *>(QString::number(kScrollPane));
    // The keys change in any window, so the panes follow them by polling, as idle time would.
    auto *poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, &CMainFrame::UpdateIndicators);
    poll->start(200);
    UpdateIndicators();
}

void CMainFrame::UpdateIndicators()
{
    const LockKeyState keys = m_lockKeys->Query();
    m_caps->setText(keys.caps ? QStringLiteral("CAPS") : QString());
    m_num->setText(keys.num ? QStringLiteral("NUM") : QString());
    m_scroll->setText(keys.scroll ? QStringLiteral("SCRL") : QString());
}

QString CMainFrame::PaneText(int pane) const
{
    const auto *label = statusBar()->findChild<QLabel *>(QString::number(pane));
    return label ? label->text() : QString();
}

QAction *CMainFrame::Command(int id) const
{
    return findChild<QAction *>(QString::number(id));
}

void CMainFrame::CreateActions()
{
    auto make
        = [this](int id, const QString &text, const QString &tip, QList<QKeySequence> keys = {}) {
              auto *action = new QAction(text, this);
              action->setObjectName(QString::number(id));
              action->setShortcuts(keys);
              // "message pane text\ntooltip", as the command prompts are written.
              const QStringList lines = tip.split(u'\n');
              action->setStatusTip(lines.value(0));
              if (lines.size() > 1)
                  action->setToolTip(lines.value(1));
              action->setEnabled(false); // commands without a handler stay disabled
              return action;
          };
    QAction *fileNew
        = make(57600, tr("&New"), tr("Create a new document\nNew"), { QKeySequence::New });
    // The menu shows Ctrl+R; Ctrl+O reaches the same command.
    QAction *repair = make(57601, tr("&Repair Avi..."), tr("Open an existing document\nOpen"),
                           { QKeySequence(tr("Ctrl+R")), QKeySequence(tr("Ctrl+O")) });
    QAction *save
        = make(57603, tr("&Save"), tr("Save the active document\nSave"), { QKeySequence::Save });
    QAction *saveAs
        = make(57604, tr("Save &As..."), tr("Save the active document with a new name\nSave As"));
    QAction *recent = make(57616, tr("Recent File"), tr("Open this document"));
    QAction *exit
        = make(57665, tr("E&xit"), tr("Quit the application; prompts to save documents\nExit"));
    QAction *undo = make(57643, tr("&Undo"), tr("Undo the last action\nUndo"),
                         { QKeySequence(tr("Ctrl+Z")), QKeySequence(tr("Alt+Backspace")) });
    QAction *cut = make(57635, tr("Cu&t"), tr("Cut the selection and put it on the Clipboard\nCut"),
                        { QKeySequence(tr("Ctrl+X")), QKeySequence(tr("Shift+Del")) });
    QAction *copy
        = make(57634, tr("&Copy"), tr("Copy the selection and put it on the Clipboard\nCopy"),
               { QKeySequence(tr("Ctrl+C")), QKeySequence(tr("Ctrl+Ins")) });
    QAction *paste = make(57637, tr("&Paste"), tr("Insert Clipboard contents\nPaste"),
                          { QKeySequence(tr("Ctrl+V")), QKeySequence(tr("Shift+Ins")) });
    QAction *print = make(57607, tr("&Print..."), tr("Print the active document\nPrint"));
    QAction *toolbar = make(59392, tr("&Toolbar"), tr("Show or hide the toolbar\nToggle ToolBar"));
    QAction *statusbar
        = make(59393, tr("&Status Bar"), tr("Show or hide the status bar\nToggle StatusBar"));
    QAction *about = make(57664, tr("&About Mendrel..."),
                          tr("Display program information, version number and copyright\nAbout"));
    undo->setShortcutContext(Qt::WindowShortcut);

    for (QAction *a : { fileNew, repair, exit, toolbar, statusbar, about })
        a->setEnabled(true);
    connect(fileNew, &QAction::triggered, this, &CMainFrame::OnFileNew);
    connect(repair, &QAction::triggered, m_view, &CMendrelView::OnRepairAvi);
    connect(exit, &QAction::triggered, this, &QWidget::close);
    connect(about, &QAction::triggered, this, &CMainFrame::OnAppAbout);
    // A repair is started once at a time.
    connect(m_view, &CMendrelView::RepairRunning, repair,
            [repair](bool running) { repair->setEnabled(!running); });

    QMenu *file = menuBar()->addMenu(tr("&File"));
    file->addActions({ fileNew, repair, save, saveAs });
    file->addSeparator();
    file->addAction(recent);
    file->addSeparator();
    file->addAction(exit);
    QMenu *edit = menuBar()->addMenu(tr("&Edit"));
    edit->addActions({ undo });
    edit->addSeparator();
    edit->addActions({ cut, copy, paste });
    QMenu *view = menuBar()->addMenu(tr("&View"));
    view->addActions({ toolbar, statusbar });
    QMenu *help = menuBar()->addMenu(tr("&Help"));
    help->addAction(about);

    m_toolBar = addToolBar(tr("Toolbar"));
    m_toolBar->setObjectName(QStringLiteral("128"));
    // Pictures only; the words stay in the tooltips and the message pane.
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_toolBar->setIconSize(QSize(16, 16));
    for (QAction *a : { fileNew, repair, save, cut, copy, paste, print, about }) {
        a->setIcon(ButtonIcon(style(), a->objectName().toInt()));
        a->setIconVisibleInMenu(false);
    }
    m_toolBar->addActions({ fileNew, repair, save });
    m_toolBar->addSeparator();
    m_toolBar->addActions({ cut, copy, paste });
    m_toolBar->addSeparator();
    m_toolBar->addActions({ print, about });

    toolbar->setCheckable(true);
    toolbar->setChecked(true);
    connect(toolbar, &QAction::toggled, m_toolBar, &QWidget::setVisible);
    statusbar->setCheckable(true);
    statusbar->setChecked(true);
    connect(statusbar, &QAction::toggled, statusBar(), &QWidget::setVisible);
}

void CMainFrame::OnFileNew()
{
    // The document holds nothing; a new one changes nothing.
}

void CMainFrame::OnAppAbout()
{
    CAboutDlg dlg(this);
    dlg.exec();
}

void CMainFrame::closeEvent(QCloseEvent *event)
{
    // A repair runs to its end before the window goes.
    m_view->WaitForRepair();
    event->accept();
}
