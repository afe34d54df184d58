#include "MainFrame.h"

#include "Dialogs.h"
#include "ShellRules.h"
#include "StaysOnTop.h"
#include "ViewerSettings.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>

namespace vorlund::viewer {

namespace {

constexpr int kMessagePane = 0;
constexpr int kStatusPane = 101;
constexpr int kRatePane = 102;
constexpr int kQualityPane = 106;

// Commands of the document that the viewer does not offer.
constexpr int kDisabledFileCommands[] = { 57600, 57601, 57603, 57604, 57607, 57609, 57606 };

bool IsViewCommand(int id)
{
    return (id >= ID_HOST_CONNECT && id <= ID_SLIDESHOW) || id == ID_ALWAYS_ON_TOP;
}

} // namespace

CMainFrame::CMainFrame(QSettings &profile, IRemoteView &view, QWidget *parent)
    : QMainWindow(parent), m_profile(profile), m_view(view)
{
    setWindowTitle(QStringLiteral("Vorlund-Remote"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    setCentralWidget(m_view.Widget());
    CreateMenusAndToolBar();

    m_message = new QLabel(this);
    statusBar()->addWidget(m_message, 1);
    const std::pair<int, const char *> panes[]
        = { { kStatusPane, "No Connections" }, { kRatePane, "100" }, { kQualityPane, "Q123" } };
    for (auto [id, widest] : panes) {
        auto *pane = new QLabel(this);
        pane->setObjectName(QString::number(id));
        pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(QLatin1String(widest)) + 8);
        pane->setAlignment(Qt::AlignCenter);
        statusBar()->addPermanentWidget(pane);
        m_panes[id] = pane;
    }

    for (auto key : { QKeySequence(Qt::Key_F1), QKeySequence(Qt::SHIFT | Qt::Key_F1) })
        connect(new QShortcut(key, this), &QShortcut::activated, this, &CMainFrame::OnHelp);

    auto *idle = new QTimer(this);
    connect(idle, &QTimer::timeout, this, &CMainFrame::UpdateCommandUi);
    idle->start(100);

    PlaceWindow();
    UpdateCommandUi();
}

QAction *CMainFrame::AddCommand(int id, const QString &text, const QString &prompt)
{
    auto *action = new QAction(text, this);
    action->setObjectName(QString::number(id));
    const auto lines = prompt.split(u'\n');
    action->setStatusTip(lines.value(0));
    if (lines.size() > 1)
        action->setToolTip(lines.value(1));
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    m_actions[id] = action;
    return action;
}

void CMainFrame::CreateMenusAndToolBar()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    const std::pair<int, const char *> fileCommands[]
        = { { 57600, "&New" },           { 57601, "&Open..." },  { 57603, "&Save" },
            { 57604, "Save &As..." },    { 57607, "&Print..." }, { 57609, "Print Pre&view" },
            { 57606, "P&rint Setup..." } };
    for (auto [id, text] : fileCommands)
        file->addAction(AddCommand(id, QString::fromLatin1(text), QString()));
    file->addSeparator();
    QAction *exit = file->addAction(QStringLiteral("E&xit"));
    exit->setObjectName(QStringLiteral("57665"));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu *command = menuBar()->addMenu(QStringLiteral("Command"));
    command->addAction(AddCommand(ID_HOST_CONNECT, QStringLiteral("&Connect"),
                                  QStringLiteral("Connect to host\nConnect")));
    command->addAction(AddCommand(ID_HOST_DISCONNECT, QStringLiteral("&Disconnect"),
                                  QStringLiteral("Disconnect from host\nDisconnect")));
    command->addAction(
        AddCommand(ID_REVIEW, QStringLiteral("&Review"), QStringLiteral("Review mode\nReview")));
    command->addAction(AddCommand(ID_GO_LIVE, QStringLiteral("&Go Live"),
                                  QStringLiteral("See live shots\nGo Live")));
    command->addAction(AddCommand(ID_SLIDESHOW, QStringLiteral("&SlideShow"),
                                  QStringLiteral("Slide Show mode\nSlideShow")));
    command->addAction(AddCommand(ID_CONFIGURE, QStringLiteral("C&onfigure"),
                                  QStringLiteral("Configure option\nOptions")));

    QMenu *viewMenu = menuBar()->addMenu(QStringLiteral("&View"));
    viewMenu->addAction(AddCommand(ID_VIEW_TOOLBAR, QStringLiteral("&Toolbar"),
                                   QStringLiteral("Show or hide the toolbar\nToggle ToolBar")));
    viewMenu->addAction(
        AddCommand(ID_VIEW_STATUS_BAR, QStringLiteral("&Status Bar"),
                   QStringLiteral("Show or hide the status bar\nToggle StatusBar")));
    viewMenu->addAction(AddCommand(ID_ALWAYS_ON_TOP, QStringLiteral("Always On Top"),
                                   QStringLiteral("Make this Window stay on Top")));
    for (int cam = 0; cam < 4; ++cam)
        viewMenu->addAction(
            AddCommand(ID_CAM1 + cam, QStringLiteral("Cam %1").arg(cam + 1),
                       QStringLiteral("Include cam %1 in the view rotation\nCam%1").arg(cam + 1)));
    for (int id : { int(ID_VIEW_TOOLBAR), int(ID_VIEW_STATUS_BAR), int(ID_ALWAYS_ON_TOP), 135, 136,
                    137, 138 })
        m_actions[id]->setCheckable(true);

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    QAction *topics = help->addAction(QStringLiteral("&Help Topics"));
    connect(topics, &QAction::triggered, this, &CMainFrame::OnHelp);
    help->addAction(AddCommand(ID_APP_ABOUT, QStringLiteral("&About Vorlund-Remote"),
                               QStringLiteral("Display program information\nAbout")));

    for (QMenu *menu : { file, command, viewMenu, help })
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUi);

    m_toolBar = addToolBar(QStringLiteral("Toolbar"));
    m_toolBar->setObjectName(QStringLiteral("133"));
    m_toolBar->setAllowedAreas(Qt::AllToolBarAreas);
    AddCommand(ID_TOOLBAR_BUTTON_A, QStringLiteral("<"), QString());
    AddCommand(ID_TOOLBAR_BUTTON_B, QStringLiteral(">"), QString());
    const int buttons[] = { ID_HOST_CONNECT,
                            ID_HOST_DISCONNECT,
                            ID_CONFIGURE,
                            0,
                            ID_SLIDESHOW,
                            ID_GO_LIVE,
                            ID_REVIEW,
                            ID_TOOLBAR_BUTTON_A,
                            ID_TOOLBAR_BUTTON_B,
                            0,
                            135,
                            136,
                            137,
                            138 };
    // Small pictures as on the original bitmap toolbar; the cameras by their number.
    const std::pair<int, QStyle::StandardPixmap> icons[]
        = { { ID_HOST_CONNECT, QStyle::SP_DialogYesButton },
            { ID_HOST_DISCONNECT, QStyle::SP_DialogNoButton },
            { ID_CONFIGURE, QStyle::SP_FileDialogDetailedView },
            { ID_SLIDESHOW, QStyle::SP_MediaSeekForward },
            { ID_GO_LIVE, QStyle::SP_MediaPlay },
            { ID_REVIEW, QStyle::SP_MediaSeekBackward },
            { ID_TOOLBAR_BUTTON_A, QStyle::SP_ArrowLeft },
            { ID_TOOLBAR_BUTTON_B, QStyle::SP_ArrowRight } };
    for (auto [id, pixmap] : icons)
        m_actions[id]->setIcon(style()->standardIcon(pixmap));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (int id : buttons) {
        if (id == 0) {
            m_toolBar->addSeparator();
            continue;
        }
        QAction *a = m_actions[id];
        if (id >= 135 && id <= 138)
            a->setIconText(QString::number(id - 134));
        m_toolBar->addAction(a);
    }
}

void CMainFrame::PlaceWindow()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (const auto stored = LoadFrameRect(m_profile); stored && screen) {
        setGeometry(PlaceFrame(*stored, screen->availableGeometry(), screen->geometry().size(),
                               QSize(32, 32)));
        return;
    }
    // Room for four 320 x 240 pictures.
    resize(640,
           480 + menuBar()->sizeHint().height() + m_toolBar->sizeHint().height()
               + statusBar()->sizeHint().height());
}

void CMainFrame::OnCommand(int id)
{
    if (id == ID_VIEW_TOOLBAR) {
        m_toolBar->setVisible(!m_toolBar->isVisible());
        m_view.OnCommand(id);
    } else if (id == ID_VIEW_STATUS_BAR) {
        statusBar()->setVisible(!statusBar()->isVisible());
        m_view.OnCommand(id);
    } else if (id == ID_APP_ABOUT) {
        CAboutDlg about(this);
        about.exec();
    } else if (IsViewCommand(id)) {
        m_view.OnCommand(id);
    }
    UpdateCommandUi();
}

void CMainFrame::UpdateCommandUi()
{
    for (auto [id, action] : m_actions) {
        if (id == ID_VIEW_TOOLBAR) {
            action->setChecked(m_toolBar->isVisible());
        } else if (id == ID_VIEW_STATUS_BAR) {
            action->setChecked(statusBar()->isVisible());
        } else if (id == ID_APP_ABOUT) {
            action->setEnabled(true);
        } else if (IsViewCommand(id)) {
            action->setEnabled(m_view.IsCommandEnabled(id));
            if (action->isCheckable())
                action->setChecked(m_view.IsCommandChecked(id));
        } else {
            action->setEnabled(false); // the document's file commands, the two spare buttons
        }
    }
    for (int id : kDisabledFileCommands)
        m_actions[id]->setEnabled(false);
}

void CMainFrame::OnHelp()
{
    CmyHelp help(this);
    help.exec();
}

void CMainFrame::SetStatusText(const QString &text)
{
    m_panes[kStatusPane]->setText(text);
}

void CMainFrame::SetRateText(const QString &text)
{
    m_panes[kRatePane]->setText(text);
}

void CMainFrame::SetQualityText(const QString &text)
{
    m_panes[kQualityPane]->setText(text);
}

void CMainFrame::SetModeText(const QString &text)
{
    m_modeText = text;
    m_message->setText(text.isEmpty() ? QStringLiteral("Ready") : text);
}

QString CMainFrame::PaneText(int id) const
{
    if (id == kMessagePane)
        return m_message->text();
    const auto pane = m_panes.find(id);
    return pane == m_panes.end() ? QString() : pane->second->text();
}

void CMainFrame::SetAlwaysOnTop(bool on)
{
    SetStaysOnTop(*this, on);
}

void CMainFrame::SetCommandText(int id, const QString &text)
{
    if (QAction *a = Action(id))
        a->setText(text);
}

QAction *CMainFrame::Action(int id) const
{
    const auto a = m_actions.find(id);
    return a == m_actions.end() ? nullptr : a->second;
}

void CMainFrame::closeEvent(QCloseEvent *event)
{
    m_view.OnHostDisconnect();
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    SaveFrameRect(m_profile,
                  { normal.top(), normal.left(), normal.top() + normal.height(),
                    normal.left() + normal.width() });
    QMainWindow::closeEvent(event);
}

void CMainFrame::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange) {
        m_minimised = windowState() & Qt::WindowMinimized;
        // The window cannot be maximised.
        if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
            QTimer::singleShot(0, this, [this] {
                setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
            });
    }
    QMainWindow::changeEvent(event);
}

} // namespace vorlund::viewer
