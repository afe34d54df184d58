#pragma once

namespace vorlund::viewer {

// Command ids of the viewer's menus and toolbar.
enum CommandId : int {
    ID_HOST_CONNECT = 130,
    ID_CONFIGURE = 131,
    ID_HOST_DISCONNECT = 132,
    ID_CAM1 = 135, // 136-138: cameras 2-4
    ID_GO_LIVE = 139,
    ID_REVIEW = 140,
    ID_SLIDESHOW = 141,
    ID_ALWAYS_ON_TOP = 145,
    ID_TOOLBAR_BUTTON_A = 32784, // toolbar buttons without a command
    ID_TOOLBAR_BUTTON_B = 32785,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
    ID_APP_ABOUT = 57664,
};

} // namespace vorlund::viewer
