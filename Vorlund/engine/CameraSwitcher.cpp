#include "CameraSwitcher.h"

#include "DeviceSettings.h"

#include <algorithm>
#include <cstdio>

namespace vorlund {

namespace {

constexpr int kSwitcherBaud = 9600;
constexpr int kProbeTries = 3;

std::string Format(const char *format, const std::string &a, const std::string &b = {})
{
    char text[512];
    std::snprintf(text, sizeof text, format, a.c_str(), b.c_str());
    return text;
}

} // namespace

CameraSwitcher::CameraSwitcher(ServerContext &context, ISerialLine &port, IInputRouter &inputs)
    : m_context(context), m_port(port), m_inputs(inputs)
{ }

bool CameraSwitcher::ReplyIsSwitcher(const std::array<uint8_t, 6> &reply)
{
    return reply[0] == 0x00 && reply[1] == 0xFF && reply[2] == 0x02 && reply[5] == 0x02;
}

std::string CameraSwitcher::PortName() const
{
    return ComPortName(m_context.settings.Config.Block.SwitcherComPort);
}

void CameraSwitcher::Report(const std::string &text, bool quiet)
{
    // A port left unplugged fails at every switch: the log gets the first failure of the run.
    if (!m_failureLogged) {
        m_failureLogged = true;
        m_context.log.AppendErrorLog(text);
    }
    if (quiet || m_failing)
        return;
    m_failing = true;
    m_context.notifier.ShowMessage(text, kPlainCaption);
}

void CameraSwitcher::Recovered()
{
    if (m_failureLogged)
        m_context.log.AppendErrorLog("Swivane on " + PortName() + " ok again");
    m_failureLogged = false;
    m_failing = false;
}

bool CameraSwitcher::OpenPort(const char *openFormat, bool quiet)
{
    std::string error;
    if (!m_port.Open(PortName(), error)) {
        Report(Format(openFormat, PortName(), error), quiet);
        return false;
    }
    if (!m_port.SetLine(kSwitcherBaud)) {
        Report("Comm Port not ready!", quiet);
        m_port.Close();
        return false;
    }
    return true;
}

bool CameraSwitcher::Send(const uint8_t *bytes, size_t count)
{
    m_port.Purge();
    return m_port.WriteBytes(bytes, count);
}

std::array<uint8_t, 6> CameraSwitcher::Exchange(const uint8_t *bytes, size_t count, bool &timedOut)
{
    std::array<uint8_t, 6> reply {};
    Send(bytes, count);
    // A timed-out reply is read as zeros.
    timedOut = m_port.ReadSerialBytes(reply.data(), int(reply.size())) != 0;
    if (timedOut)
        reply.fill(0);
    return reply;
}

int CameraSwitcher::NextCamera(int n)
{
    EngineState &e = m_context.engine;
    const int current = e.CurrentCamera;
    const int count = std::clamp<int>(e.CameraCount, 1, kMaxCameras);
    int next;
    if (e.CameraOnePriority) {
        if (current == 1) {
            int following = e.PriorityNext + 1;
            if (following > count)
                following = 2;
            e.PriorityNext = following;
            next = following;
        } else {
            next = 1;
        }
    } else {
        next = current >= count ? 1 : current + 1;
    }
    if (n > 0)
        next = n;
    return IsCamera(next) ? next : 1;
}

void CameraSwitcher::NewVisit(int camera)
{
    EngineState &e = m_context.engine;
    e.Armed.Arm();
    EngineState::DecrementIfPositive(e.SuppressCount);
    if (++e.VisitCount[camera] > 2) {
        if (e.MotionEnabled[camera])
            e.RefreshRequest.Request();
        e.VisitCount[camera] = 0;
    }
    e.CurrentCamera = camera;
}

void CameraSwitcher::SwitchCamera(int n)
{
    EngineState &e = m_context.engine;
    if (e.RecordCountdown != 0)
        return;
    if (n < -1 || n > kMaxCameras)
        return;
    if (e.CycleCount < 2 && n != -1) {
        NewVisit(IsCamera(e.CurrentCamera) ? int(e.CurrentCamera) : 1);
        return;
    }
    const int next = NextCamera(n);

    if (e.SwitchType == 1) {
        if (n == -1)
            return;
        m_inputs.RouteVideoInput(next - 1);
        NewVisit(next);
        return;
    }

    if (!OpenPort("Unable to open: %s\nError: %s", false))
        return;
    if (n == -1) {
        bool timedOut = false;
        if (!ReplyIsSwitcher(Exchange(kInitialise.data(), kInitialise.size(), timedOut)))
            Report("Wrong response from Swivane.", false);
        Exchange(kSecondSetup.data(), kSecondSetup.size(), timedOut);
    }
    // The initialisation selects the camera that becomes current, so the first visit examines
    // the input it is labelled with.
    const uint8_t select = uint8_t('0' + next);
    if (m_port.WriteBytes(&select, 1))
        Recovered();
    m_port.Close();
    NewVisit(next);
}

void CameraSwitcher::DetectSwitcher(bool quiet)
{
    if (m_context.engine.SwitchType == 1) {
        m_context.view.SwitcherPresent = true;
        return;
    }
    if (!OpenPort("Unable to open- %s", quiet))
        return;
    std::array<uint8_t, 6> reply {};
    bool timedOut = true;
    for (int attempt = 0; attempt < kProbeTries && timedOut; ++attempt)
        reply = Exchange(kProbe.data(), kProbe.size(), timedOut);
    m_port.Close();
    if (timedOut) {
        Report("Response timeout for Swivane on " + PortName()
                   + "\nCheck all cables and power supply.",
               quiet);
        return;
    }
    if (!ReplyIsSwitcher(reply)) {
        Report("Incorrect device on " + PortName() + "\nLooking for Swivane.", quiet);
        return;
    }
    Recovered();
    m_context.view.SwitcherPresent = true;
    if (m_context.view.Idle)
        m_context.shell.ShowBalloon({ "Vorlund Switcher Detected", "", 32516, 0, 1000 });
}

} // namespace vorlund
