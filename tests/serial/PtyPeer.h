#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vorlund::test {

// The far end of a pseudo-terminal pair: a device emulator on its own thread. The program under
// test opens `SlavePath()`; the emulator reads what it is sent and answers through `reply`,
// which gets all bytes received so far and returns the bytes to send back (possibly none).
class PtyPeer
{
public:
    using Responder = std::function<std::vector<uint8_t>(std::vector<uint8_t> &pending)>;

    explicit PtyPeer(Responder reply);
    ~PtyPeer();
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    const std::string &SlavePath() const { return m_slavePath; }
    std::vector<uint8_t> Received() const;
    // What the peer has received once it holds at least `count` bytes (or, should they never
    // come, what it holds after ten seconds).
    std::vector<uint8_t> WaitForReceived(size_t count) const;
    void Send(const std::vector<uint8_t> &bytes);
    // Line settings the program had set on its end when it first sent something.
    int Baud() const;
    bool Is8N1() const;

private:
    void Run();
    int LineBaud() const;
    bool Line8N1() const;

    int m_master = -1;
    int m_slave = -1;
    std::filesystem::path m_linkFolder;
    std::string m_slavePath;
    Responder m_reply;
    mutable std::mutex m_lock;
    mutable std::condition_variable m_arrived;
    std::vector<uint8_t> m_received;
    int m_baud = -1;
    bool m_8n1 = false;
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};

} // namespace vorlund::test
