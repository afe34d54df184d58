#pragma once

#include "Seams.h"

#include <memory>
#include <string>
#include <string_view>

class QSerialPort;

namespace vorlund {

class Profile;

// The device path of a settings port name: the profile's "Serial" section may map "ComN" to a
// path; otherwise "ComN" is /dev/ttyS<N-1>. Empty for a name that is no port.
std::string SerialDevicePath(const Profile &profile, std::string_view portName);

// One serial port over QSerialPort, opened per exchange (UI thread).
class SerialLine : public ISerialLine
{
public:
    explicit SerialLine(const Profile &profile);
    ~SerialLine() override;

    bool Open(std::string_view portName, std::string &errorText) override;
    bool SetLine(int baud) override;
    void Purge() override;
    bool WriteBytes(const uint8_t *bytes, size_t count) override;
    int ReadSerialBytes(uint8_t *buffer, int count) override;
    void Close() override;

    // A read waits at most this long for a byte; a reply not complete after the limit has
    // timed out. Tests shorten both.
    int ReadWaitMs = 500;
    int ReadLimitMs = 1200;

private:
    const Profile &m_profile;
    std::unique_ptr<QSerialPort> m_port;
};

} // namespace vorlund
