// vorlund-relay: the web lookup and the relay that the viewers' Automatic mode needs.
#include "RelayService.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("vorlund-relay");
    QCommandLineParser parser;
    parser.setApplicationDescription("Lookup and relay service for Vorlund remote viewing.");
    parser.addHelpOption();
    const QCommandLineOption users("users", "Relay logins, one \"login:password\" a line.", "file");
    const QCommandLineOption address(
        "address", "The address the lookup answers (at most 19 characters).", "address");
    const QCommandLineOption lookupPort("lookup-port", "Port of the web lookup (0 = any).", "port",
                                        "80");
    const QCommandLineOption relayPort("relay-port", "Port for servers and viewers (0 = any).",
                                       "port", "443");
    const QCommandLineOption bind("bind", "Listen on this address only.", "address");
    parser.addOptions({ users, address, lookupPort, relayPort, bind });
    parser.process(app);

    vorlund::relay::RelayConfig config;
    std::string error;
    if (!parser.isSet(users) || !parser.isSet(address)) {
        std::fprintf(stderr, "vorlund-relay: --users and --address are needed\n");
        return 2;
    }
    if (!vorlund::relay::LoadUsers(parser.value(users).toStdString(), config.users, error)) {
        std::fprintf(stderr, "vorlund-relay: %s\n", error.c_str());
        return 2;
    }
    bool okLookup = false, okRelay = false;
    const uint lookup = parser.value(lookupPort).toUInt(&okLookup);
    const uint relay = parser.value(relayPort).toUInt(&okRelay);
    if (!okLookup || !okRelay || lookup > 65535 || relay > 65535) {
        std::fprintf(stderr, "vorlund-relay: ports are 0 to 65535\n");
        return 2;
    }
    config.lookupPort = static_cast<uint16_t>(lookup);
    config.relayPort = static_cast<uint16_t>(relay);
    config.publicAddress = parser.value(address).toStdString();
    config.bindAddress = parser.value(bind).toStdString();

    vorlund::relay::RelayService service;
    if (!service.Start(config, error)) {
        std::fprintf(stderr, "vorlund-relay: %s\n", error.c_str());
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::printf("lookup port %u\nrelay port %u\n", service.LookupPort(), service.RelayPort());
    std::fflush(stdout);
    return QCoreApplication::exec();
}
