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
    // One try to send a few bytes without waiting; false when they did not all go (yet).
    bool TrySend(const std::vector<uint8_t> &bytes);
    void Abort(); // closes with a reset

    // What a viewer who logs in and gives the password saw at each step.
    struct Entry
    {
        std::vector<uint8_t> hello; // the 22-byte answer to the login line
        std::vector<uint8_t> answer; // the 8-byte answer to the password
        uint8_t camera = 0; // the first frame's camera
        std::vector<uint8_t> jpeg;
    };
    // Sends `login` and reads the hello, runs `typing` (the person types: the server and the
    // clock go on; may be empty), gives `password`, reads the answer and asks camera `camera`
    // for a frame at `value`. False at the first step that fails; `entry` holds what came.
    bool LogInAndTakeFrame(const std::vector<uint8_t> &login, const std::function<void()> &typing,
                           std::string_view password, uint8_t camera, uint8_t value, Entry &entry);

    static std::vector<uint8_t> Login(uint8_t quality, uint8_t sizeCode, std::string_view id = {});
    static std::vector<uint8_t> Request(char kind, uint8_t a, uint8_t b);
    // The password line: its length byte, then the text (at most 255 bytes).
    static std::vector<uint8_t> Password(std::string_view password);

private:
    int m_fd = -1;
    Pump m_pump;
    bool m_closed = false;
    std::vector<uint8_t> m_pending;
};

// Links that hold the door from one source address: each sends `opening` (nothing: an idle
// link; a login line: one that waits in the password stage) and then waits, and is opened again
// as soon as the peer drops it. Keep() looks at them without waiting.
class IdleCrowd
{
public:
    IdleCrowd(uint16_t port, std::string source, size_t count, std::vector<uint8_t> opening = {});
    void Keep();
    size_t Reopened() const { return m_reopened; }

private:
    struct Link
    {
        std::unique_ptr<RawClient> client;
        bool opened = false; // its opening went out
    };
    Link Open() const;

    uint16_t m_port;
    std::string m_source;
    std::vector<uint8_t> m_opening;
    std::vector<Link> m_links;
    size_t m_reopened = 0;
};

// Peers holding the door without the password: from `addresses` loopback addresses from
// 127.0.0.2 on, 8 idle links and 8 that sent `login` each; with `ownAddress` 2 of each from
// 127.0.0.1, a viewer's own (4 links: the places an address keeps beside its viewer).
struct DoorHolding
{
    const char *name;
    int addresses;
    bool ownAddress;
};
inline constexpr DoorHolding kDoorHoldings[] = {
    { "16 addresses", 16, false },
    { "the viewer's own address", 0, true },
    { "both", 16, true },
};
void AddDoorHolders(std::vector<std::unique_ptr<IdleCrowd>> &crowds, uint16_t port,
                    const DoorHolding &holding, const std::vector<uint8_t> &login);

// Decodes a JPEG to top-down BGR; false when it does not decode.
bool DecodeJpeg(const std::vector<uint8_t> &jpeg, int &width, int &height,
                std::vector<uint8_t> &bgr);

// A frame in the server's layout (bottom-up BGR): the upper half red, the lower half blue.
std::vector<uint8_t> RedOverBlueFrame(int width, int height);

} // namespace vorlund::test
