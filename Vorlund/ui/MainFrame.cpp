#include "MainFrame.h"

#include "AboutDlg.h"
#include "Commands.h"
#include "HelpBalloon.h"
#include "Launchers.h"
#include "OnScreen.h"
#include "StaysOnTop.h"
#include "WindowPlacement.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

namespace vorlund {

namespace {

constexpr int kCommandUiIntervalMs = 250;
constexpr int kFixedCommandItems = 9; // the Command popup's items before a rebuild adds more
constexpr unsigned kContextHelpOptions
    = BalloonOption::TopMost | BalloonOption::DelayClose | BalloonOption::CloseOnMouseMove;

QString Q(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// A toolbar picture with a number on it, for the camera buttons.
QIcon NumberIcon(int number)
{
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::darkGray, 1));
    p.setBrush(QColor(230, 230, 230));
    p.drawRoundedRect(QRectF(2.5, 4.5, 19, 15), 3, 3);
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(12);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(QRect(2, 4, 20, 16), Qt::AlignCenter, QString::number(number));
    return QIcon(pixmap);
}

QIcon ButtonIcon(const QStyle *style, int id)
{
    if (id >= Cmd::Camera1 && id <= Cmd::Camera4)
        return NumberIcon(id - Cmd::Camera1 + 1);
    switch (id) {
    case Cmd::Start:
        return style->standardIcon(QStyle::SP_MediaPlay);
    case Cmd::Stop:
        return style->standardIcon(QStyle::SP_MediaStop);
    case Cmd::Review:
        return style->standardIcon(QStyle::SP_FileDialogContentsView);
    case Cmd::Configuration:
        return style->standardIcon(QStyle::SP_FileDialogDetailedView);
    case Cmd::TimedZones:
        return style->standardIcon(QStyle::SP_FileDialogListView);
    case Cmd::VideoCompression:
        return style->standardIcon(QStyle::SP_DriveHDIcon);
    case Cmd::VideoFormat:
        return style->standardIcon(QStyle::SP_DesktopIcon);
    case Cmd::About:
        return style->standardIcon(QStyle::SP_MessageBoxInformation);
    case Cmd::ContextHelp:
        return style->standardIcon(QStyle::SP_TitleBarContextHelpButton);
    default:
        return {};
    }
}

} // namespace

CMainFrame::CMainFrame(IProfileStore &profile, ToolLaunchers &launchers, QWidget *parent)
    : QMainWindow(parent), m_profile(profile), m_launchers(launchers)
{
    setObjectName("128");
    setWindowTitle("Vorlund");
    // The window is sized to its pictures; it cannot be maximised.
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);

    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    RestorePlacement();

    m_commandUi = new QTimer(this);
    connect(m_commandUi, &QTimer::timeout, this, &CMainFrame::RefreshCommandUI);
    UpdateCommandUI();
}

CMainFrame::~CMainFrame()
{
    LeaveContextHelpMode();
}

QAction *CMainFrame::MakeAction(int id, const QString &menuText)
{
    const int tab = menuText.indexOf('\t');
    auto *action = new QAction(tab < 0 ? menuText : menuText.left(tab), this);
    if (tab >= 0)
        action->setShortcut(QKeySequence(menuText.mid(tab + 1)));
    action->setObjectName(QString::number(id));
    action->setData(id);
    const CommandPrompt prompt = PromptFor(id);
    action->setStatusTip(Q(prompt.statusText));
    if (!prompt.toolTip.empty())
        action->setToolTip(Q(prompt.toolTip));
    action->setIcon(ButtonIcon(style(), id));
    action->setIconVisibleInMenu(false);
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    m_actions[id] = action;
    return action;
}

void CMainFrame::CreateMenus()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName("128");
    auto popup = [&](const QString &title) {
        QMenu *menu = bar->addMenu(title);
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
        m_popups.push_back(menu);
        return menu;
    };

    QMenu *file = popup("&File");
    file->addAction(MakeAction(Cmd::FileNew, "&New\tCtrl+N"));
    file->addAction(MakeAction(Cmd::PlayVideo, "&Play Video...\tCtrl+P"));
    file->addAction(MakeAction(Cmd::FileSave, "&Save\tCtrl+S"));
    file->addAction(MakeAction(Cmd::RepairVideo, "&Repair Video..."));
    file->addSeparator();
    file->addAction(MakeAction(Cmd::Print, "Pr&int...\tCtrl+R"));
    file->addAction(MakeAction(Cmd::PrintPreview, "Print Pre&view"));
    file->addAction(MakeAction(Cmd::PrintSetup, "P&rint Setup..."));
    file->addSeparator();
    file->addAction(MakeAction(Cmd::ViewErrorLog, "View &Error Log"));
    file->addAction(MakeAction(Cmd::ConfigureService, "&Configure Service"));
    file->addSeparator();
    file->addAction(MakeAction(Cmd::Exit, "E&xit"));

    QMenu *command = popup("&Command");
    command->addAction(MakeAction(Cmd::Start, "&Start"));
    command->addAction(MakeAction(Cmd::Stop, "S&top"));
    command->addAction(MakeAction(Cmd::Review, "&Review"));
    command->addSeparator();
    command->addAction(MakeAction(Cmd::Configuration, "&Configuration"));
    command->addAction(MakeAction(Cmd::TimedZones, "Timed &Zones"));
    command->addAction(MakeAction(Cmd::VideoCompression, "Video &Compression"));
    m_deviceMenu = command->addMenu("Video &Device");
    connect(m_deviceMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
    command->addAction(MakeAction(Cmd::VideoFormat, "Video &Format"));
    // Offered by the device; a rebuild adds them after the fixed items.
    MakeAction(Cmd::VideoCrossbar, "&Video Crossbar");
    MakeAction(Cmd::VideoSettings, "Video &Settings");
    MakeAction(Cmd::TvTuner, "TV &Tuner");
    MakeAction(Cmd::AudioRecording, "&Audio Recording");

    popup("&Camera");
    for (int id = Cmd::Camera1; id <= Cmd::Camera4; ++id)
        MakeAction(id, QString("Cam&%1").arg(id - Cmd::Camera1 + 1));

    QMenu *view = popup("&View");
    view->addAction(MakeAction(Cmd::ViewToolbar, "&Toolbar"));
    view->addAction(MakeAction(Cmd::ViewStatusBar, "&Status Bar"));
    view->addAction(MakeAction(Cmd::AlwaysOnTop, "&Always on Top"));
    view->addAction(MakeAction(Cmd::ShowFilters, "Show &Filters in use"));
    for (int id : { Cmd::ViewToolbar, Cmd::ViewStatusBar, Cmd::AlwaysOnTop })
        m_actions[id]->setCheckable(true);

    QMenu *help = popup("&Help");
    help->addAction(MakeAction(Cmd::OnlineHelp, "Online &Help"));
    help->addSeparator();
    help->addAction(MakeAction(Cmd::About, "&About Vorlund..."));

    // Accelerators without a menu item of their own.
    QAction *contextHelp = MakeAction(Cmd::ContextHelp, "Context Help\tShift+F1");
    QAction *f1 = MakeAction(Cmd::Help, "Help\tF1");
    addAction(contextHelp);
    addAction(f1);
    for (QAction *a : { contextHelp, f1 })
        a->setShortcutContext(Qt::ApplicationShortcut);
}

void CMainFrame::CreateToolBar()
{
    m_toolBar = new QToolBar("Toolbar", this);
    m_toolBar->setObjectName("59392");
    m_toolBar->setMovable(true);
    m_toolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_toolBar->setIconSize(QSize(24, 24));
    auto add = [&](int id) { m_toolBar->addAction(m_actions.at(id)); };
    add(Cmd::Start);
    add(Cmd::Stop);
    add(Cmd::Review);
    m_toolBar->addSeparator();
    add(Cmd::Configuration);
    add(Cmd::TimedZones);
    add(Cmd::VideoCompression);
    add(Cmd::VideoFormat);
    m_toolBar->addSeparator();
    for (int id = Cmd::Camera1; id <= Cmd::Camera4; ++id)
        add(id);
    m_toolBar->addSeparator();
    add(Cmd::About);
    add(Cmd::ContextHelp);
    addToolBar(Qt::TopToolBarArea, m_toolBar);
}

void CMainFrame::CreateStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName("59393");
    m_prompt = new QLabel("Ready", bar);
    m_prompt->setObjectName("0");
    bar->addWidget(m_prompt, 1);
    for (int id : kStatusPanes) {
        auto *pane = new QLabel(bar);
        pane->setObjectName(QString::number(id));
        pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        // A pane keeps one width, as wide as its sizing text with a character to spare: a
        // new text then never lays the status bar out again.
        pane->setText(Q(PaneWidthText(id)));
        pane->setFixedWidth(pane->sizeHint().width() + pane->fontMetrics().averageCharWidth());
        pane->clear();
        bar->addPermanentWidget(pane);
        m_panes[id] = pane;
    }
}

void CMainFrame::SetClient(IFrameClient *client)
{
    if (m_client && m_client->Widget())
        takeCentralWidget();
    m_client = client;
    if (m_client)
        setCentralWidget(m_client->Widget());
    UpdateCommandUI();
}

void CMainFrame::SetPaneText(int pane, const QString &text)
{
    if (pane == kPaneIdlePrompt) {
        SetIdlePrompt(text);
        return;
    }
    if (pane == kPaneDevice) {
        m_prompt->setText(text);
        return;
    }
    if (const auto it = m_panes.find(pane); it != m_panes.end())
        it->second->setText(text);
}

QString CMainFrame::PaneText(int pane) const
{
    const auto it = m_panes.find(pane);
    return it == m_panes.end() ? QString() : it->second->text();
}

void CMainFrame::SetIdlePrompt(const QString &text)
{
    m_idleText = text;
    m_prompt->setText(text.isEmpty() ? QString("Ready") : text);
}

void CMainFrame::SetAlwaysOnTop(bool on)
{
    SetStaysOnTop(*this, on);
}

bool CMainFrame::IsToolbarShown() const
{
    return !m_toolBar->isHidden();
}

bool CMainFrame::IsStatusBarShown() const
{
    return !statusBar()->isHidden();
}

QMenu *CMainFrame::Popup(int index) const
{
    return index >= 0 && index < int(m_popups.size()) ? m_popups[size_t(index)] : nullptr;
}

QAction *CMainFrame::Action(int id) const
{
    const auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::RebuildCameraMenu(int cameraCount)
{
    QMenu *camera = Popup(2);
    camera->clear();
    for (int n = 1; n <= std::clamp(cameraCount, 0, 4); ++n)
        camera->addAction(m_actions.at(Cmd::Camera1 + n - 1));
}

void CMainFrame::RebuildCommandMenu(bool crossbar, bool videoSettings, bool tvTuner, bool audio)
{
    QMenu *command = Popup(1);
    for (QAction *a : m_commandExtras)
        command->removeAction(a);
    for (QAction *a : m_commandExtras)
        if (a->isSeparator())
            a->deleteLater();
    m_commandExtras.clear();
    auto add = [&](int id) {
        command->addAction(m_actions.at(id));
        m_commandExtras.push_back(m_actions.at(id));
    };
    if (crossbar)
        add(Cmd::VideoCrossbar);
    if (videoSettings)
        add(Cmd::VideoSettings);
    if (tvTuner)
        add(Cmd::TvTuner);
    if (audio) {
        m_commandExtras.push_back(command->addSeparator());
        add(Cmd::AudioRecording);
    }
    Q_ASSERT(command->actions().size() == kFixedCommandItems + int(m_commandExtras.size()));
}

void CMainFrame::SetVideoDeviceMenu(const std::vector<std::string> &names)
{
    for (int id = Cmd::Device1; id <= Cmd::Device4; ++id)
        if (QAction *old = Action(id)) {
            m_actions.erase(id);
            old->deleteLater();
        }
    m_deviceMenu->clear();
    const size_t count = std::min<size_t>(names.size(), Cmd::Device4 - Cmd::Device1 + 1);
    for (size_t i = 0; i < count; ++i) {
        if (names[i].empty())
            continue; // an empty slot is no device to pick
        QString text = QString::fromStdString(names[i]);
        text.replace('&', "&&");
        QAction *a = MakeAction(Cmd::Device1 + int(i), text);
        a->setCheckable(true);
        m_deviceMenu->addAction(a);
    }
    UpdateCommandUI();
}

void CMainFrame::OnStatusTick()
{
    // A status tick is 30 or 60 ms: the rules run again before the refresh timer would fire.
    if (m_commandUiAge.isValid() && m_commandUiAge.elapsed() < kCommandUiIntervalMs - 60)
        return;
    RefreshCommandUI();
}

void CMainFrame::RefreshCommandUI()
{
    if (IsOnScreen(*this)) {
        UpdateCommandUI();
        return;
    }
    // No one sees the toolbar of a window off the screen: the rules wait for the first refresh
    // after it is back. Menus and commands run them themselves.
    m_commandUiAge.start();
    m_commandUi->start(kCommandUiIntervalMs);
}

void CMainFrame::UpdateCommandUI()
{
    m_commandUiAge.start();
    m_commandUi->start(kCommandUiIntervalMs);
    for (const auto &[id, action] : m_actions) {
        bool enabled = false;
        bool checked = false;
        switch (CommandUiRule(id)) {
        case CommandUi::Enabled:
            enabled = true;
            break;
        case CommandUi::Disabled:
            break;
        case CommandUi::ToolbarShown:
            enabled = true;
            checked = IsToolbarShown();
            break;
        case CommandUi::StatusBarShown:
            enabled = true;
            checked = IsStatusBarShown();
            break;
        case CommandUi::FromView:
            enabled = m_client && m_client->IsCommandEnabled(id);
            checked = m_client && m_client->IsCommandChecked(id);
            break;
        }
        action->setEnabled(enabled);
        if (action->isCheckable())
            action->setChecked(checked);
    }
}

void CMainFrame::OnCommand(int id)
{
    if (m_helpMode && id != Cmd::ContextHelp) {
        LeaveContextHelpMode();
        ShowContextHelp(id);
        return;
    }
    switch (RouteCommand(id)) {
    case CommandRoute::View:
        if (m_client)
            m_client->OnCommand(id);
        break;
    case CommandRoute::ViewErrorLog:
        m_launchers.ViewErrorLog();
        break;
    case CommandRoute::RunRepairUtility:
        m_launchers.RunRepairUtility();
        break;
    case CommandRoute::RunServanto:
        m_launchers.RunServanto();
        break;
    case CommandRoute::ToggleToolbar:
        if (m_client)
            m_client->OnCommand(id);
        m_toolBar->setVisible(!IsToolbarShown());
        break;
    case CommandRoute::ToggleStatusBar:
        if (m_client)
            m_client->OnCommand(id);
        statusBar()->setVisible(!IsStatusBarShown());
        break;
    case CommandRoute::About: {
        CAboutDlg about(this);
        about.exec();
        break;
    }
    case CommandRoute::OnlineHelp:
        m_launchers.OpenOnlineHelp();
        break;
    case CommandRoute::Help:
        ShowContextHelp(Cmd::ContextHelpTopic);
        break;
    case CommandRoute::ContextHelp:
        if (m_helpMode) {
            LeaveContextHelpMode();
            ShowContextHelp(Cmd::ContextHelp);
        } else {
            EnterContextHelpMode();
        }
        break;
    case CommandRoute::Exit:
        close();
        break;
    case CommandRoute::Disabled:
        break;
    }
    UpdateCommandUI();
}

QPoint CMainFrame::HelpAnchor(int id) const
{
    const ContextHelpEntry help = ContextHelpFor(id);
    const QList<QAction *> buttons = m_toolBar->actions();
    if (help.buttonIndex >= 0 && help.buttonIndex < buttons.size() && IsToolbarShown())
        if (QWidget *button = m_toolBar->widgetForAction(buttons[help.buttonIndex]))
            return button->mapTo(this, button->rect().center());
    if (QWidget *view = centralWidget())
        return view->mapTo(this, view->rect().center());
    return rect().center();
}

void CMainFrame::ShowContextHelp(int id)
{
    const ContextHelpEntry help = ContextHelpFor(id);
    LaunchBalloon(Q(help.title), Q(help.text), HelpAnchor(id), kBalloonIconQuestion,
                  kContextHelpOptions, this, QString(), help.timeoutMs);
}

void CMainFrame::EnterContextHelpMode()
{
    if (m_helpMode)
        return;
    m_helpMode = true;
    QApplication::setOverrideCursor(Qt::WhatsThisCursor);
    qApp->installEventFilter(this);
}

void CMainFrame::LeaveContextHelpMode()
{
    if (!m_helpMode)
        return;
    m_helpMode = false;
    qApp->removeEventFilter(this);
    QApplication::restoreOverrideCursor();
}

bool CMainFrame::eventFilter(QObject *watched, QEvent *event)
{
    if (m_helpMode && HandleHelpClick(watched, event))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

// In what's-this mode the next click names a command: a toolbar button or a menu item (also
// a disabled one) gets that command's balloon, anything else in the window the "no help" one.
bool CMainFrame::HandleHelpClick(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        LeaveContextHelpMode();
        return true;
    }
    const bool press = event->type() == QEvent::MouseButtonPress;
    const bool release = event->type() == QEvent::MouseButtonRelease;
    auto *widget = qobject_cast<QWidget *>(watched);
    if ((!press && !release) || !widget || qobject_cast<CHelpBalloon *>(widget->window()))
        return false;

    int id = -1;
    if (auto *menu = qobject_cast<QMenu *>(widget)) {
        QAction *item = menu->actionAt(static_cast<QMouseEvent *>(event)->position().toPoint());
        if (!item || item->menu() || item->isSeparator())
            return false; // opening a submenu, or between items
        if (press)
            return true;
        id = item->data().toInt();
        while (QWidget *open = QApplication::activePopupWidget())
            open->close();
    } else if (qobject_cast<QMenuBar *>(widget) || widget->window() != this) {
        return false; // opening a popup, or another window
    } else {
        if (release)
            return true;
        if (auto *button = qobject_cast<QToolButton *>(widget); button && button->defaultAction())
            id = button->defaultAction()->data().toInt();
        else
            id = 0;
    }
    LeaveContextHelpMode();
    ShowContextHelp(id);
    return true;
}

void CMainFrame::OnServiceClose()
{
    if (!m_client)
        return;
    m_client->OnServiceClose();
    SetPaneText(101, "SvcClose");
}

void CMainFrame::OnSnapshotRequest()
{
    if (m_client)
        m_client->OnSnapshotRequest();
}

ScreenMetrics CMainFrame::Metrics() const
{
    ScreenMetrics m;
    // Stored rectangles are relative to the primary screen's work area, on saving and on
    // restoring alike.
    QScreen *s = QGuiApplication::primaryScreen();
    if (!s)
        return m;
    const QRect g = s->geometry();
    const QRect w = s->availableGeometry();
    m.screen = { g.x(), g.y(), g.width(), g.height() };
    m.workArea = { w.x(), w.y(), w.width(), w.height() };
    m.iconWidth = m.iconHeight = style()->pixelMetric(QStyle::PM_LargeIconSize);
    return m;
}

void CMainFrame::RestorePlacement()
{
    // The default leaves room for a 640 x 480 picture under the menu and toolbar and above
    // the status bar.
    const int bars = menuBar()->sizeHint().height();
    const PlacementRect r
        = ClampFramePlacement(ReadFramePlacement(m_profile), Metrics(), 640, 480 + 3 * bars);
    setGeometry(r.x, r.y, r.width, r.height);
}

void CMainFrame::SavePlacement()
{
    // The normal rectangle, also while minimised, so the window opens where it was shown.
    const QRect g = normalGeometry().isValid() ? normalGeometry() : geometry();
    WriteFramePlacement(m_profile,
                        PlacementToStore({ g.x(), g.y(), g.width(), g.height() }, Metrics()));
}

void CMainFrame::closeEvent(QCloseEvent *event)
{
    LeaveContextHelpMode();
    if (!m_closed) {
        m_closed = true;
        if (m_client)
            m_client->OnClose();
        SavePlacement();
    }
    event->accept();
}

void CMainFrame::changeEvent(QEvent *event)
{
    // A maximise from the window manager (its button or a double click on the caption) is
    // turned back at once.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMaximized))
        QTimer::singleShot(0, this, [this] {
            if (windowState() & Qt::WindowMaximized)
                setWindowState(windowState() & ~Qt::WindowMaximized);
        });
    QMainWindow::changeEvent(event);
}

} // namespace vorlund
