#pragma once

#include <QObject>
#include <QTimer>

#include "RelayFrames.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

class QTcpServer;
class QTcpSocket;

namespace vorlund::relay {

struct RelayConfig
{
    std::string bindAddress; // empty = every address
    uint16_t lookupPort = 80; // 0 = any free port
    uint16_t relayPort = 443;
    std::string publicAddress; // what the lookup answers (at most 19 characters)
    std::map<std::string, std::string> users; // relay login → password
    int handshakeTimeoutMs = 10000;
    int refusalDelayMs = 1000;
    size_t highWater = 256 * 1024; // stop reading the other side above this backlog ...
    size_t lowWater = 64 * 1024; // ... and go on below this
    int stallTimeoutMs = 5000; // a viewer that takes nothing this long is dropped
    // Channels are numbered 1 to 255, so at most 255. The server's sessions over the relay (at
    // most 138: waiting for a login or a password, refusals, two viewers) and the connections
    // that may open a channel before the server closes another (maxPending) fit below: the
    // relay never refuses a viewer before the server has made room for it.
    int maxViewersPerServer = 255;
    // Connections that have not said who they are, counted by AddressKey. A newcomer always
    // gets a place (link::MakeRoomFairly): over its address's share it takes that address's
    // oldest, over the total the busiest address's, with room for 18 addresses at their share.
    int maxPending = 108;
    int maxPendingPerAddress = 6;
};

// Reads "login:password" lines ('#' starts a comment). False with a reason on a bad file.
bool LoadUsers(const std::string &path, std::map<std::string, std::string> &users,
               std::string &error);

// The relay: a web lookup that answers with the relay's address, and a port where servers log
// in and viewers ask for a server by its login id. Bytes are passed both ways; a side whose
// peer stops taking them is no longer read, so nothing piles up.
class RelayService : public QObject
{
public:
    RelayService();
    ~RelayService() override;

    bool Start(const RelayConfig &config, std::string &error);
    void Stop();
    uint16_t LookupPort() const;
    uint16_t RelayPort() const;
    int ServerCount() const;
    int ViewerCount() const;

private:
    struct Server;
    struct Viewer;
    struct Pending;

    void AcceptLookup();
    void AcceptRelay();
    void ReadPending(QTcpSocket *socket);
    void BecomeViewer(QTcpSocket *socket, Pending &pending);
    void BecomeServer(QTcpSocket *socket, Pending &pending);
    void PumpServer(Server &server);
    void PumpViewer(Viewer &viewer);
    void HandleServerFrame(Server &server, const Frame &frame);
    void DropServer(QTcpSocket *socket);
    void DropViewer(QTcpSocket *socket, bool tellServer);
    void Refuse(QTcpSocket *socket, uint8_t code);
    void WriteServer(Server &server, const std::vector<uint8_t> &bytes);
    void CheckStalls();
    void Forget(QTcpSocket *socket);

    RelayConfig m_config;
    std::unique_ptr<QTcpServer> m_lookup;
    std::unique_ptr<QTcpServer> m_relay;
    QTimer m_stallTimer;
    std::map<QTcpSocket *, std::unique_ptr<Pending>> m_pending;
    std::map<QTcpSocket *, std::unique_ptr<Server>> m_servers;
    std::map<QTcpSocket *, std::unique_ptr<Viewer>> m_viewers;
    uint64_t m_accepted = 0; // orders the pending connections
};

} // namespace vorlund::relay
