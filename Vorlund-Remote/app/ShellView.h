#pragma once

#include "Notifier.h"
#include "RemoteView.h"
#include "ViewerSettings.h"

#include <QSettings>
#include <QWidget>

namespace vorlund::viewer {

// The view's place in the shell until the live view joins it: it owns the settings (read at
// creation, written when it goes), runs Configure, and shows an empty picture area. Commands
// of the link are disabled here.
class ShellView : public QWidget, public IRemoteView
{
    Q_OBJECT

public:
    ShellView(QSettings &profile, INotifier &notifier, QWidget *parent = nullptr);
    ~ShellView() override;

    QWidget *Widget() override { return this; }
    void OnCommand(int id) override;
    bool IsCommandEnabled(int id) const override;
    bool IsCommandChecked(int id) const override;
    void OnHostDisconnect() override { }

    ViewerSettings &Settings() { return m_settings; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QSettings &m_profile;
    INotifier &m_notifier;
    ViewerSettings m_settings;
};

} // namespace vorlund::viewer
