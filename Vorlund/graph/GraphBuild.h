// What every part of the capture graph's build works on: the server's context, the elements
// built so far and the pipeline they go into, and how a failed step tells the user.
#pragma once

#include "GraphParts.h"
#include "ServerContext.h"

#include <gst/gst.h>

#include <string_view>

namespace vorlund {

// Results of a build step, as the callers test them (only the sign counts).
inline constexpr int kGraphOk = 0; // S_OK
inline constexpr int kGraphFailed = int(0x80004005); // E_FAIL
// A build step's answer that a nested build (the codec fallback) already made the graph.
inline constexpr int kGraphRebuilt = 1;

struct GraphBuild
{
    ServerContext &context;
    GraphParts &parts;

    GstBin *Bin() const { return GST_BIN(parts.m_pGraph.get()); }
    // Creates `factory` as `name` in the pipeline (a unique name when null); null (nothing
    // added) on failure.
    ElementRef Add(const char *factory, const char *name) const;
    void Box(std::string_view text) const; // "Error!" box
    void ErrBox(std::string_view text) const; // the error box with its log line
};

} // namespace vorlund
