#pragma once

#include "ServerContext.h"
#include "ZoneGrid.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace vorlund {

// Key codes the view forwards to OnKeyDown/OnKeyUp: digits and letters as their upper-case
// characters (lower case is taken too), the other keys as these codes.
namespace PtzKey {
inline constexpr int PageUp = 0x21;
inline constexpr int PageDown = 0x22;
inline constexpr int Home = 0x24;
inline constexpr int Left = 0x25;
inline constexpr int Up = 0x26;
inline constexpr int Right = 0x27;
inline constexpr int Down = 0x28;
inline constexpr int Select = 0x29;
inline constexpr int Insert = 0x2D;
inline constexpr int Delete = 0x2E;
} // namespace PtzKey

// The key code of a Qt::Key value; 0 for a key the table has no use for.
int PtzKeyFromQt(int qtKey);

// Movement bits of a command code (bits 1-6 as they go into byte 3 of the frame; focus near
// goes into byte 2 as code 1).
inline constexpr uint8_t kPtzFocusNear = 0x01;
inline constexpr uint8_t kPtzRight = 0x02;
inline constexpr uint8_t kPtzLeft = 0x04;
inline constexpr uint8_t kPtzUp = 0x08;
inline constexpr uint8_t kPtzDown = 0x10;
inline constexpr uint8_t kPtzZoomIn = 0x20;
inline constexpr uint8_t kPtzZoomOut = 0x40;
inline constexpr uint8_t kPtzFocusFar = 0x80;

// Code of the special frame (preset, pattern) whose two command bytes are given apart.
inline constexpr int kPtzSpecial = -1;

// Special frames: command 1, command 2.
struct PtzSpecial
{
    uint8_t command1 = 0;
    uint8_t command2 = 0;
};
inline constexpr PtzSpecial kStorePreset1 { 0x03, 1 };
inline constexpr PtzSpecial kGoToPreset1 { 0x07, 1 };
inline constexpr PtzSpecial kStartPattern1 { 0x1F, 1 };
inline constexpr PtzSpecial kStopPattern { 0x21, 0 };
inline constexpr PtzSpecial kRunPattern1 { 0x23, 1 };

using PtzFrame = std::array<uint8_t, 7>;

struct PtzSpeeds
{
    uint8_t pan = 50;
    uint8_t tilt = 50;
    bool operator==(const PtzSpeeds &) const = default;
};

// The 7-byte frame: sync, address, two command bytes, two data bytes, checksum of bytes 1-5.
// Code >= 0 is a movement (1 = focus near), kPtzSpecial the special frame `special`.
PtzFrame BuildPtzFrame(uint8_t address, int code, PtzSpeeds speeds, PtzSpecial special = {});

// Speeds after a command: zooming in slows both speeds, zooming out brings them back.
void FollowUpSpeeds(int code, PtzSpeeds &speeds);

// A click-to-move: three timed moves (vertical, horizontal, zoom in).
struct PtzPlan
{
    std::array<uint8_t, 3> commands {};
    std::array<uint32_t, 3> durations {};
    int64_t zoomAdded = 0;
};
// Offsets and zoom come from the relay too: anything beyond twice the largest frame is cut
// down to it, so no step runs longer than a few seconds.
inline constexpr int kMaxPtzOffset = 2 * kMaxFrameWidth;
PtzPlan PlanPtzMove(int x, int y, int zoom, int64_t zoomTotal);

// The 4:3 corner of the drag rectangle from the press point to the current point.
GridPoint DragCorner(GridPoint press, GridPoint current);

// The move a drag rectangle asks for: how far its centre lies from the middle of the camera's
// tile, and how much narrower than the tile it is.
struct PtzMove
{
    int x = 0;
    int y = 0;
    int zoom = 0;
    bool operator==(const PtzMove &) const = default;
};
PtzMove DragToMove(GridPoint press, GridPoint corner, const GridRect &tile);

// Pan/tilt/zoom control over a serial port: keys, presets, patterns, click-to-move and the
// viewers' commands, each sent as one frame with the port opened for it. Motion detection is
// off while a camera moves. UI thread only.
class Ptz : public IPtzControl
{
public:
    Ptz(ServerContext &context, ISerialLine &port, IDevicePages &pages, IRemoteLink &remote);

    void SendHomeCommand() override;
    void SendPtzCommand(int code) override;
    void StartPtzMove(int x, int y, int zoom) override;

    // PTZ_STEP_TIMER.
    void OnPtzStepTimer();

    // The view's keys (codes as PtzKey; `ctrl` while a Ctrl key is down).
    void OnKeyDown(int key, bool ctrl);
    void OnKeyUp(int key);

    // The view's left button and pointer, in client coordinates.
    void OnLButtonDown(int x, int y);
    void OnMouseMove(int x, int y, bool leftButtonDown);
    void OnLButtonUp(int x, int y);

    // Capture starts with no key held.
    void ResetKeys() { m_bits = 0; }

    // The drag rectangle the view draws: from DragStart() to DragCornerPoint(), while they
    // differ.
    bool Dragging() const { return !(m_press == m_current); }
    GridPoint DragStart() const { return m_press; }
    GridPoint DragCornerPoint() const { return DragCorner(m_press, m_current); }

    // Runs a command of the view by id (Z opens Timed Zones, 144).
    std::function<void(int)> RunCommand;

    uint8_t MoveBits() const { return m_bits; }
    PtzSpeeds Speeds() const { return m_speeds; }
    uint8_t HomeCommand() const { return m_homeCommand; }
    int64_t ZoomTotal() const { return m_zoomTotal; }

private:
    enum class Origin { Key, Other };

    bool ControlOn() const;
    bool SelectedIsPtz() const;
    GridRect Tile(int camera) const;
    // Sends one command; true when the frame went out.
    bool Send(int code, Origin origin);
    bool SendSpecial(PtzSpecial special, Origin origin);
    bool WriteFrame(const PtzFrame &frame, Origin origin);
    void Fail(const std::string &text, const std::string &detail, Origin origin);
    void SuspendDetection(int code, bool sent);
    void Press(uint8_t bit, uint8_t pair);
    void Release(uint8_t bit);
    void StartPlan(int x, int y, int zoom);
    void Box(const char *text);

    ServerContext &m_context;
    ISerialLine &m_port;
    IDevicePages &m_pages;
    IRemoteLink &m_remote;

    uint8_t m_bits = 0;
    PtzSpeeds m_speeds;
    PtzSpecial m_special;
    uint8_t m_homeCommand = kGoToPreset1.command1;
    int64_t m_zoomTotal = 0;
    PtzPlan m_plan;
    int m_step = 3; // above 2: the next step stops
    GridPoint m_press;
    GridPoint m_current;
    // A failing port is shown once per run of failures; the next success re-arms the box.
    bool m_failureShown = false;
};

} // namespace vorlund
