#pragma once

// The relay link posts WM_RELAY_RECONNECT (connect to the relay again) and WM_RELAY_RESUME (a
// held-back request was offered again) to the server's view; their numbers are in the view's
// message table.
#include "Messages.h"
