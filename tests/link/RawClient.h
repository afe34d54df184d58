#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund::test {

// A viewer as raw bytes: a non-blocking loopback socket that the test drives while pump()
// runs the server's event loop (and its tick). Waits end on the awaited bytes or the close;
// the long deadline only turns a hang into a failure.
class RawClient
{
public:
    using Pump = std::function<void()>;

    // `source` binds the local end to one loopback address ("127.0.0.2"); null = any.
    RawClient(uint16_t port, Pump pump, int receiveBuffer = 0, const char *source = nullptr);
    ~RawClient();
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool Connected() const { return m_fd >= 0; }
    // Sends everything (pumping while the socket is full); false when the link is gone.
    bool Send(std::string_view bytes);
    bool Send(const std::vector<uint8_t> &bytes);
    // Exactly n bytes; false when the link closed first.
    bool Read(size_t n, std::vector<uint8_t> &out);
    // True when the peer closed the link; what arrived before is in out.
    bool ReadUntilClosed(std::vector<uint8_t> &out);
    // A whole frame: header fields and body. False when something else arrived.
    bool ReadFrame(uint8_t &camera, std::vector<uint8_t> &jpeg);
    // Reads what is there now without waiting; false once closed.
    bool Poll();
    void Abort(); // closes with a reset

    static std::vector<uint8_t> Login(uint8_t quality, uint8_t sizeCode, std::string_view id = {});
    static std::vector<uint8_t> Request(char kind, uint8_t a, uint8_t b);

private:
    int m_fd = -1;
    Pump m_pump;
    bool m_closed = false;
    std::vector<uint8_t> m_pending;
};

// Idle links (connected, sending nothing) from one source address, each opened again as soon
// as the peer drops it. Keep() looks at them without waiting.
class IdleCrowd
{
public:
    IdleCrowd(uint16_t port, const char *source, size_t count);
    void Keep();
    size_t Reopened() const { return m_reopened; }

private:
    uint16_t m_port;
    const char *m_source;
    std::vector<std::unique_ptr<RawClient>> m_links;
    size_t m_reopened = 0;
};

// Decodes a JPEG to top-down BGR; false when it does not decode.
bool DecodeJpeg(const std::vector<uint8_t> &jpeg, int &width, int &height,
                std::vector<uint8_t> &bgr);

// A frame in the server's layout (bottom-up BGR): the upper half red, the lower half blue.
std::vector<uint8_t> RedOverBlueFrame(int width, int height);

} // namespace vorlund::test
