#pragma once

#include "ServerContext.h"

#include <array>
#include <cstdint>
#include <string>

namespace vorlund {

// Visits the cameras in turn: through the capture card's inputs or an external switcher on a
// serial port (9600 8N1), re-arming the detector for each visit. UI thread only.
class CameraSwitcher : public ICameraSwitch
{
public:
    CameraSwitcher(ServerContext &context, ISerialLine &port, IInputRouter &inputs);

    // n > 0: camera n; 0: the next camera of the cycle; -1: initialise the serial switcher and
    // take the next camera. Nothing changes while a post-motion recording runs.
    void SwitchCamera(int n) override;

    // Probes for the switcher and sets SwitcherPresent. Quiet probes (automatic restarts) only
    // log what went wrong.
    void DetectSwitcher(bool quiet = false) override;

    static constexpr std::array<uint8_t, 4> kProbe { 0x02, 0xFE, 0x00, 0x00 };
    static constexpr std::array<uint8_t, 13> kInitialise { 0x10, 0xFE, 0x09, 0x00, 0x01, 0x02, 0x03,
                                                           0x04, 0x01, 0x01, 0x01, 0x01, 0x25 };
    static constexpr std::array<uint8_t, 5> kSecondSetup { 0x19, 0xFE, 0x01, 0x01, 0x19 };
    static bool ReplyIsSwitcher(const std::array<uint8_t, 6> &reply);

private:
    int NextCamera(int n);
    // Opens and sets up the port; false (reported) when it can't.
    bool OpenPort(const char *openFormat, bool quiet);
    bool Send(const uint8_t *bytes, size_t count);
    std::array<uint8_t, 6> Exchange(const uint8_t *bytes, size_t count, bool &timedOut);
    void Report(const std::string &text, bool quiet);
    void Recovered();
    void NewVisit(int camera);
    std::string PortName() const;

    ServerContext &m_context;
    ISerialLine &m_port;
    IInputRouter &m_inputs;
    // A failing port is shown and logged once per run of failures; a success logs the recovery
    // and re-arms both.
    bool m_failing = false;
    bool m_failureLogged = false;
};

} // namespace vorlund
