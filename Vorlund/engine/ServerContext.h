#pragma once

#include "Clock.h"
#include "EngineState.h"
#include "ErrorLog.h"
#include "Notifier.h"
#include "Seams.h"
#include "ViewState.h"

namespace vorlund {

class DeviceSettings;
class Profile;

// The shared services every topic of the server works with. The view core owns each of them;
// topics hold this record by reference.
struct ServerContext
{
    EngineState &engine;
    ViewState &view;
    DeviceSettings &settings;
    Profile &profile;
    const IClock &clock;
    INotifier &notifier;
    const ErrorLog &log;
    IMessageSink &sink;
    ITimers &timers;
    IViewShell &shell;
    ISound &sound;
};

// Writes the current device's settings file and the profile keys that go with it. Returns false
// when nothing was written (the user has been told why).
bool SaveDeviceSettings(ServerContext &context);

} // namespace vorlund
