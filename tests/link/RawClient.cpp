#include "RawClient.h"

#include <turbojpeg.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vorlund::test {

namespace {

constexpr auto kDeadline = std::chrono::seconds(30);

bool Expired(std::chrono::steady_clock::time_point start)
{
    return std::chrono::steady_clock::now() - start > kDeadline;
}

} // namespace

RawClient::RawClient(uint16_t port, Pump pump, int receiveBuffer, const char *source)
    : m_pump(std::move(pump))
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (m_fd < 0)
        return;
    if (receiveBuffer > 0)
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (source) {
        sockaddr_in local {};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, source, &local.sin_addr);
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
    }
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int rc = ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    if (rc != 0 && errno != EINPROGRESS) {
        ::close(m_fd);
        m_fd = -1;
    }
}

RawClient::~RawClient()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void RawClient::Abort()
{
    if (m_fd < 0)
        return;
    linger hard { 1, 0 };
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(m_fd);
    m_fd = -1;
}

bool RawClient::Send(std::string_view bytes)
{
    const auto start = std::chrono::steady_clock::now();
    while (!bytes.empty() && m_fd >= 0 && !Expired(start)) {
        const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOTCONN)
            return false;
        m_pump();
    }
    return bytes.empty();
}

bool RawClient::Send(const std::vector<uint8_t> &bytes)
{
    return Send(std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
}

bool RawClient::TrySend(const std::vector<uint8_t> &bytes)
{
    if (m_fd < 0)
        return false;
    const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return n == static_cast<ssize_t>(bytes.size());
}

bool RawClient::Poll()
{
    if (m_fd < 0 || m_closed)
        return false;
    uint8_t chunk[65536];
    while (true) {
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            m_pending.insert(m_pending.end(), chunk, chunk + n);
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOTCONN)) {
            m_closed = true;
            return false;
        }
        return true;
    }
}

bool RawClient::Read(size_t n, std::vector<uint8_t> &out)
{
    const auto start = std::chrono::steady_clock::now();
    while (m_pending.size() < n && !Expired(start)) {
        if (!Poll() && m_pending.size() < n)
            break;
        if (m_pending.size() < n)
            m_pump();
    }
    if (m_pending.size() < n)
        return false;
    out.assign(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(n));
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(n));
    return true;
}

bool RawClient::ReadUntilClosed(std::vector<uint8_t> &out)
{
    const auto start = std::chrono::steady_clock::now();
    while (!m_closed && !Expired(start)) {
        if (Poll())
            m_pump();
    }
    out = std::move(m_pending);
    m_pending.clear();
    return m_closed;
}

bool RawClient::ReadFrame(uint8_t &camera, std::vector<uint8_t> &jpeg)
{
    std::vector<uint8_t> header;
    if (!Read(8, header) || std::memcmp(header.data(), ":HE", 3) != 0)
        return false;
    camera = header[3];
    const uint32_t length = uint32_t(header[4]) | uint32_t(header[5]) << 8
        | uint32_t(header[6]) << 16 | uint32_t(header[7]) << 24;
    return length > 0 && length <= 921600 && Read(length, jpeg);
}

std::vector<uint8_t> RawClient::Login(uint8_t quality, uint8_t sizeCode, std::string_view id)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(8 + id.size());
    for (const uint8_t b :
         { uint8_t('5'), uint8_t('8'), uint8_t('6'), uint8_t('?'), quality, sizeCode })
        bytes.push_back(b);
    for (const char c : id)
        bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back('\r');
    bytes.push_back('\n');
    return bytes;
}

std::vector<uint8_t> RawClient::Request(char kind, uint8_t a, uint8_t b)
{
    if (kind == 'k')
        return { '>', 'k', a, '\r', '\n' };
    if (kind == 'P')
        return { '>', 'P', 'N', '\r', '\n' };
    return { '>', static_cast<uint8_t>(kind), a, b, '\r', '\n' };
}

std::vector<uint8_t> RawClient::Password(std::string_view password)
{
    std::string text = ">p";
    text += static_cast<char>(password.size());
    text += password;
    text += "\r\n";
    return std::vector<uint8_t>(text.begin(), text.end());
}

bool RawClient::LogInAndTakeFrame(const std::vector<uint8_t> &login,
                                  const std::function<void()> &typing, std::string_view password,
                                  uint8_t camera, uint8_t value, Entry &entry)
{
    if (!Send(login) || !Read(22, entry.hello))
        return false;
    if (typing)
        typing();
    return Send(Password(password)) && Read(8, entry.answer) && Send(Request('c', camera, value))
        && ReadFrame(entry.camera, entry.jpeg);
}

IdleCrowd::IdleCrowd(uint16_t port, std::string source, size_t count, std::vector<uint8_t> opening)
    : m_port(port), m_source(std::move(source)), m_opening(std::move(opening))
{
    for (size_t i = 0; i < count; ++i)
        m_links.push_back(Open());
}

IdleCrowd::Link IdleCrowd::Open() const
{
    return { std::make_unique<RawClient>(
                 m_port, [] {}, 0, m_source.c_str()),
             m_opening.empty() };
}

void IdleCrowd::Keep()
{
    for (auto &link : m_links) {
        if (link.client->Connected() && link.client->Poll()) {
            if (!link.opened)
                link.opened = link.client->TrySend(m_opening);
            continue;
        }
        link = Open();
        ++m_reopened;
    }
}

void AddDoorHolders(std::vector<std::unique_ptr<IdleCrowd>> &crowds, uint16_t port,
                    const DoorHolding &holding, const std::vector<uint8_t> &login)
{
    auto add = [&](const std::string &source, size_t count) {
        crowds.push_back(std::make_unique<IdleCrowd>(port, source, count));
        crowds.push_back(std::make_unique<IdleCrowd>(port, source, count, login));
    };
    for (int a = 0; a < holding.addresses; ++a)
        add("127.0.0." + std::to_string(2 + a), 8);
    if (holding.ownAddress)
        add("127.0.0.1", 2);
}

bool DecodeJpeg(const std::vector<uint8_t> &jpeg, int &width, int &height,
                std::vector<uint8_t> &bgr)
{
    tjhandle handle = tjInitDecompress();
    int subsampling = 0, colourspace = 0;
    auto *data = const_cast<unsigned char *>(jpeg.data());
    bool ok = tjDecompressHeader3(handle, data, jpeg.size(), &width, &height, &subsampling,
                                  &colourspace)
        == 0;
    if (ok) {
        bgr.resize(static_cast<size_t>(width) * height * 3);
        ok = tjDecompress2(handle, data, jpeg.size(), bgr.data(), width, width * 3, height,
                           TJPF_BGR, 0)
            == 0;
    }
    tjDestroy(handle);
    return ok;
}

std::vector<uint8_t> RedOverBlueFrame(int width, int height)
{
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 3);
    for (int row = 0; row < height; ++row) { // row 0 is the bottom line
        const bool upper = row >= height / 2;
        for (int x = 0; x < width; ++x) {
            uint8_t *px = &frame[(static_cast<size_t>(row) * width + x) * 3];
            px[0] = upper ? 0 : 255; // B
            px[1] = 0; // G
            px[2] = upper ? 255 : 0; // R
        }
    }
    return frame;
}

} // namespace vorlund::test
