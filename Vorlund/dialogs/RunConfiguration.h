#pragma once

#include "ConfigApply.h"

#include <functional>

class QWidget;

namespace vorlund {

class CConfiguration;
struct ServerContext;

// Command 141 "&Configuration": copies the settings in, runs the dialog modally, and on OK
// applies and saves them. The configuration-open flag is set for the whole run. `run` replaces
// the modal run (tests); it returns the dialog's result. Returns whether OK was chosen.
bool RunConfiguration(QWidget *parent, ServerContext &context, ConfigEnvironment &environment,
                      const std::function<int(CConfiguration &)> &run = {});

} // namespace vorlund
