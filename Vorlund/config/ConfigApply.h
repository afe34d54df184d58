#pragma once

#include "ConfigValues.h"
#include "Profile.h"
#include "Seams.h"

#include <functional>
#include <string>

namespace vorlund {

struct ServerContext;

inline constexpr std::string_view kRestartMessage
    = "You must close and restart the\nVORLUND application for the new\n settings to take effect";
inline constexpr std::string_view kCountersResetMessage = "Snapshot counters have been reset.";

// What applying the configuration reaches besides the shared context.
struct ConfigEnvironment
{
    ICaptureGraph &graph;
    // Creates and destroys the listener and the relay client as the remote mode asks.
    IRemoteLink &remote;
    // Review mode's four stored-picture positions back to the start; may be empty.
    std::function<void()> ResetReviewPositions;
    // The nested relay credentials dialog: edits the two texts, true on OK. May be empty.
    std::function<bool(std::string &login, std::string &password)> RunCredentials;
    // The e-mail dialog's Test button: sends one test mail with the typed values.
    std::function<void(const TestMailValues &)> SendTestMail;
};

// Writes back what the Configuration dialog returned with OK, in the fixed order: settle time,
// remote mode (the remote objects are swapped only on a change), listen port (inbound mode
// only), password, ports and counts, auto-start, folder, the restart notice, the other flags,
// mail and relay texts, continuous recording, PTZ, DV (tears the graph down when a value it was
// built with changed), the counters reset, then the save and the camera menu.
void ApplyConfigurationValues(ServerContext &context, ConfigEnvironment &environment,
                              const ConfigurationValues &values);

// Whether the DV values changed in a way the built graph depends on.
bool DvChangeNeedsRebuild(const ProfileSettings &before, const AdvancedValues &after,
                          std::string_view codecName);

} // namespace vorlund
