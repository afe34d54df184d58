#include "SerialLine.h"

#include "DeviceConfig.h"
#include "Profile.h"

#include <QElapsedTimer>
#include <QSerialPort>

namespace vorlund {

namespace {

constexpr int kWriteWaitMs = 500;

} // namespace

std::string SerialDevicePath(const Profile &profile, std::string_view portName)
{
    const int32_t number = ComPortNumber(portName);
    if (number < 1 || number > 256)
        return {};
    const std::string fallback = "/dev/ttyS" + std::to_string(number - 1);
    return profile.GetProfileString("Serial", ComPortName(number), fallback);
}

SerialLine::SerialLine(const Profile &profile) : m_profile(profile) { }

SerialLine::~SerialLine() = default;

bool SerialLine::Open(std::string_view portName, std::string &errorText)
{
    Close();
    const std::string path = SerialDevicePath(m_profile, portName);
    if (path.empty()) {
        errorText = "No such port.";
        return false;
    }
    m_port = std::make_unique<QSerialPort>();
    m_port->setPortName(QString::fromStdString(path));
    if (!m_port->open(QIODevice::ReadWrite)) {
        errorText = m_port->errorString().toStdString();
        m_port.reset();
        return false;
    }
    return true;
}

bool SerialLine::SetLine(int baud)
{
    return m_port && m_port->setBaudRate(baud) && m_port->setDataBits(QSerialPort::Data8)
        && m_port->setParity(QSerialPort::NoParity) && m_port->setStopBits(QSerialPort::OneStop)
        && m_port->setFlowControl(QSerialPort::NoFlowControl);
}

void SerialLine::Purge()
{
    if (!m_port)
        return;
    // Whatever arrived late belongs to an earlier exchange.
    m_port->waitForReadyRead(0);
    m_port->clear(QSerialPort::AllDirections);
    m_port->readAll();
}

bool SerialLine::WriteBytes(const uint8_t *bytes, size_t count)
{
    if (!m_port)
        return false;
    for (size_t i = 0; i < count; ++i) {
        if (m_port->write(reinterpret_cast<const char *>(bytes + i), 1) != 1)
            return false;
        while (m_port->bytesToWrite() > 0) {
            if (!m_port->waitForBytesWritten(kWriteWaitMs))
                return false;
        }
    }
    return true;
}

int SerialLine::ReadSerialBytes(uint8_t *buffer, int count)
{
    if (count <= 0)
        return 0;
    if (!m_port)
        return -1;
    QElapsedTimer started;
    started.start();
    int got = 0;
    for (;;) {
        if (m_port->bytesAvailable() == 0)
            m_port->waitForReadyRead(ReadWaitMs);
        const qint64 n = m_port->read(reinterpret_cast<char *>(buffer + got), count - got);
        if (n > 0)
            got += int(n);
        // Bytes first: a reply that completes late is still a reply.
        if (got >= count)
            return 0;
        if (started.elapsed() > ReadLimitMs)
            return -1;
    }
}

void SerialLine::Close()
{
    if (m_port) {
        m_port->close();
        m_port.reset();
    }
}

} // namespace vorlund
