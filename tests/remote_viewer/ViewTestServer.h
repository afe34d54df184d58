#pragma once

#include "LoopWait.h"
#include "ProtocolTestUtil.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

namespace vorlund::viewer::test {

// A JPEG picture whose left half has one colour and right half another.
inline std::string SplitJpeg(int width, int height, std::array<uint8_t, 3> left,
                             std::array<uint8_t, 3> right)
{
    std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
    for (size_t i = 0; i < rgb.size(); i += 3) {
        const auto &c = int(i / 3 % size_t(width)) < width / 2 ? left : right;
        std::copy(c.begin(), c.end(), rgb.begin() + long(i));
    }
    tjhandle handle = tjInitCompress();
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(handle, rgb.data(), width, width * 3, height, TJPF_RGB, &jpeg, &size, TJSAMP_444,
                95, 0);
    std::string out(reinterpret_cast<const char *>(jpeg), size);
    tjFree(jpeg);
    tjDestroy(handle);
    return out;
}

// A solid-colour JPEG picture.
inline std::string SolidJpeg(int width, int height, uint8_t r, uint8_t g, uint8_t b)
{
    return SplitJpeg(width, height, { r, g, b }, { r, g, b });
}

// A viewer's server on an ephemeral loopback port that answers as a server does: the hello
// to the login, ">AOK" to a password, a frame of the asked camera to every frame request.
// Keeps every request it got, whole.
class ViewTestServer
{
public:
    char standard = 'A';
    char password = '0';
    char scheme = '0';
    int width = 320;
    int height = 240;
    int count = 4;
    std::string ptz = std::string(4, '\0');
    bool answerLogin = true;
    bool answerFrames = true;
    // The picture sent for camera n (the camera byte of the reply is `replyCamera(n)`).
    std::function<std::string(int)> picture = [](int) { return SolidJpeg(32, 24, 200, 0, 0); };
    std::function<int(int)> replyCamera = [](int camera) { return camera; };

    std::vector<std::string> requests;
    int framesSent = 0;
    QTcpSocket *client = nullptr;

    ViewTestServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            client = m_server.nextPendingConnection();
            QObject::connect(client, &QTcpSocket::readyRead, [this] { OnData(); });
        });
    }
    uint16_t Port() const { return m_server.serverPort(); }
    bool WaitRequests(size_t n)
    {
        return WaitUntil([&] { return requests.size() >= n; });
    }
    void Send(const std::string &bytes) { client->write(bytes.data(), qint64(bytes.size())); }

    void SendFrame(int camera, const std::string &picture)
    {
        Send(FrameReply(camera, picture));
        ++framesSent;
    }

private:
    void OnData()
    {
        m_buffer += client->readAll().toStdString();
        for (;;) {
            size_t length = 0;
            if (m_buffer.rfind("586?", 0) == 0) {
                const size_t end
                    = m_buffer.size() > 6 ? m_buffer.find("\r\n", 6) : std::string::npos;
                if (end == std::string::npos)
                    return;
                length = end + 2;
            } else if (m_buffer.rfind(">c", 0) == 0 || m_buffer.rfind(">s", 0) == 0) {
                length = 6;
            } else if (m_buffer.rfind(">k", 0) == 0 || m_buffer.rfind(">PN", 0) == 0) {
                length = 5;
            } else if (m_buffer.rfind(">p", 0) == 0) {
                if (m_buffer.size() < 4)
                    return;
                length = m_buffer.compare(2, 2, "\r\n") == 0 ? 4 : 5 + uint8_t(m_buffer[2]);
            } else if (!m_buffer.empty()) {
                length = m_buffer.size(); // unknown: kept whole for the test to see
            }
            if (length == 0 || m_buffer.size() < length)
                return;
            const std::string request = m_buffer.substr(0, length);
            m_buffer.erase(0, length);
            requests.push_back(request);
            Answer(request);
        }
    }

    void Answer(const std::string &request)
    {
        if (request.rfind("586?", 0) == 0) {
            if (answerLogin)
                Send(Hello(standard, password, scheme, width, height, int16_t(count), ptz));
        } else if (request.rfind(">p", 0) == 0) {
            Send(">AOK0000");
        } else if (answerFrames && (request[1] == 'c' || request[1] == 's')) {
            const int camera = uint8_t(request[2]);
            SendFrame(replyCamera(camera), picture(camera));
        }
    }

    QTcpServer m_server;
    std::string m_buffer;
};

} // namespace vorlund::viewer::test
