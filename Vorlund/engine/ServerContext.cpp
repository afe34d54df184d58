#include "ServerContext.h"

#include "DeviceSettings.h"

namespace vorlund {

bool SaveDeviceSettings(ServerContext &context)
{
    SaveRequest request;
    request.HaveDevice
        = !context.view.VideoDeviceNames[0].empty() || !context.view.VideoDeviceNames[1].empty();
    request.DeviceCommandId = context.view.DeviceCommandId;
    request.ProfileValues = context.view.Startup;
    request.ProfileValues.LastDevice = context.view.DeviceCommandId;
    return context.settings.SaveDeviceConfig(request, context.profile);
}

} // namespace vorlund
