#include "PulsePorts.h"

#include <pulse/pulseaudio.h>

#include <chrono>

namespace vorlund {

namespace {

constexpr auto kServerWait = std::chrono::seconds(2);

// One short-lived connection on a private main loop, iterated here until the answer or the
// deadline: no thread, no callbacks left behind.
class PulseCall
{
public:
    PulseCall()
    {
        m_loop = pa_mainloop_new();
        if (!m_loop)
            return;
        m_context = pa_context_new(pa_mainloop_get_api(m_loop), "Vorlund");
        if (!m_context
            || pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return;
        while (Iterate()) {
            const pa_context_state_t state = pa_context_get_state(m_context);
            if (state == PA_CONTEXT_READY) {
                m_ready = true;
                return;
            }
            if (!PA_CONTEXT_IS_GOOD(state))
                return;
        }
    }
    ~PulseCall()
    {
        if (m_context) {
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
        if (m_loop)
            pa_mainloop_free(m_loop);
    }
    PulseCall(const PulseCall &) = delete;
    PulseCall &operator=(const PulseCall &) = delete;

    bool Ready() const { return m_ready; }
    pa_context *Context() const { return m_context; }

    // Runs the loop until the operation is done; false when it failed or took too long.
    bool Wait(pa_operation *operation)
    {
        if (!operation)
            return false;
        bool done = false;
        while (Iterate()) {
            if (pa_operation_get_state(operation) != PA_OPERATION_RUNNING) {
                done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
                break;
            }
        }
        if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
            pa_operation_cancel(operation);
        pa_operation_unref(operation);
        return done;
    }

private:
    bool Iterate()
    {
        if (std::chrono::steady_clock::now() > m_deadline)
            return false;
        // Blocks at most 50 ms, so the deadline is kept even when the server is silent.
        if (pa_mainloop_prepare(m_loop, 50 * 1000) < 0 || pa_mainloop_poll(m_loop) < 0
            || pa_mainloop_dispatch(m_loop) < 0)
            return false;
        return true;
    }

    pa_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    bool m_ready = false;
    std::chrono::steady_clock::time_point m_deadline
        = std::chrono::steady_clock::now() + kServerWait;
};

struct PortQuery
{
    bool found = false;
    std::vector<PulsePort> ports;
};

void OnSourceInfo(pa_context *, const pa_source_info *info, int eol, void *data)
{
    auto *query = static_cast<PortQuery *>(data);
    if (eol || !info || query->found)
        return;
    query->found = true;
    for (uint32_t i = 0; i < info->n_ports; ++i) {
        const pa_source_port_info *port = info->ports[i];
        if (port)
            query->ports.push_back(
                { port->name ? port->name : "", port->description ? port->description : "" });
    }
}

void OnSuccess(pa_context *, int success, void *data)
{
    *static_cast<bool *>(data) = success != 0;
}

const char *SourceName(const std::string &source)
{
    return source.empty() ? "@DEFAULT_SOURCE@" : source.c_str();
}

} // namespace

std::optional<std::vector<PulsePort>> PulseSourcePorts(const std::string &source)
{
    PulseCall call;
    if (!call.Ready())
        return std::nullopt;
    PortQuery query;
    if (!call.Wait(pa_context_get_source_info_by_name(call.Context(), SourceName(source),
                                                      OnSourceInfo, &query))
        || !query.found)
        return std::nullopt;
    return query.ports;
}

bool SetPulseSourcePort(const std::string &source, const std::string &port)
{
    PulseCall call;
    if (!call.Ready())
        return false;
    bool success = false;
    return call.Wait(pa_context_set_source_port_by_name(call.Context(), SourceName(source),
                                                        port.c_str(), OnSuccess, &success))
        && success;
}

} // namespace vorlund
