#pragma once

#include "ViewCommands.h"

class QWidget;

namespace vorlund::viewer {

// What the main frame needs of the view that does the work: the commands it routes there and
// their enable and check rules, and the Disconnect that closing the window runs first.
class IRemoteView
{
public:
    virtual ~IRemoteView() = default;
    virtual QWidget *Widget() = 0;
    // 130-141 and 145; also 59392 and 59393 after the frame has shown or hidden the bar.
    virtual void OnCommand(int id) = 0;
    virtual bool IsCommandEnabled(int id) const = 0;
    virtual bool IsCommandChecked(int id) const = 0;
    virtual void OnHostDisconnect() = 0;
};

} // namespace vorlund::viewer
