#pragma once

#include "RemoteLinks.h"

#include <memory>
#include <string>

namespace vorlund {

// Where the relay's web lookup is reached (the relay service of this suite).
struct LookupAddress
{
    std::string host = "localhost";
    uint16_t port = 80;
};

// The link libraries' objects: the direct listener and the relay client.
class LinkLibraries : public ILinkFactory
{
public:
    explicit LinkLibraries(LookupAddress lookup = {}) : m_lookup(std::move(lookup)) { }
    std::unique_ptr<IDirectLink> MakeDirect() override;
    std::unique_ptr<IRelayLink> MakeRelay(IMessageSink &view) override;

private:
    LookupAddress m_lookup;
};

} // namespace vorlund
