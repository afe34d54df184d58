#pragma once

#include "CaptureFormat.h"
#include "GraphPlan.h"
#include "GstHandles.h"

#include <string>
#include <string_view>

namespace vorlund {

class INotifier;

// The element of that instance name anywhere inside `bin` ("VorlundAVI", "InfTee", ...).
ElementRef FindElementByName(GstBin *bin, std::string_view name);

// The n-th pad (from 0) of that direction, linked or not; null when there is none.
PadRef FindPinByDirection(GstElement *element, GstPadDirection direction, unsigned n);
inline PadRef FindFirstPin(GstElement *element, GstPadDirection direction)
{
    return FindPinByDirection(element, direction, 0);
}

// The kind of stream a pad carries, from its caps.
enum class MajorType {
    Video, // raw or compressed pictures (video/..., image/...)
    Audio,
    Interleaved, // DV with sound and picture in one stream
    Stream, // a multiplexed transport or program stream
    Other,
};
MajorType MajorTypeOf(const GstStructure *structure);

// The first pad of that direction carrying the major type: a linked pad by its negotiated
// caps, an unlinked one by what it can carry.
PadRef GetPinByMajorType(GstElement *element, GstPadDirection direction, MajorType type);

// Unlinks and removes from their bins every element downstream of `element` (set to NULL
// first). The element stays, unlinked on its output side; its request pads are released.
void RemoveDownstreamFilters(GstElement *element);

enum class CreateFilterStatus { Ok, MissingPlugin, AddFailed };

struct CreatedFilter
{
    CreateFilterStatus status = CreateFilterStatus::MissingPlugin;
    ElementRef element;
    std::string error; // empty on success
};

// Creates an element of `factory` and adds it to `graph` under `name`. A missing factory
// gives an error naming the element and the package that ships it; a name already taken
// in the graph shows "CreateFilter: Failed to add filter!" (when a notifier is given).
CreatedFilter CreateFilter(std::string_view factory, GstBin *graph, std::string_view name,
                           INotifier *notifier = nullptr);

// The Debian package that ships an element factory we use ("" when we don't know it).
std::string_view PackageForFactory(std::string_view factory);

// "The GStreamer element "x264enc" is not installed (Debian package ...)."
std::string MissingElementMessage(std::string_view factory);

// The caps a capsfilter holds (null when it has none).
CapsRef CapsOf(GstElement *capsfilter);

// Raw video caps of that format and size, with the rate when one is given.
CapsRef RawCaps(const char *format, PictureSize size, FrameRate rate = {});

// Links two elements (false when either is missing or they cannot link).
bool Link(GstElement *a, GstElement *b);

// Where a demultiplexer's or decoder's pads go when they appear on the streaming thread: the
// first video pad to `videoHead`; the first sound pad to `audioHead`, with `audioTail` joined
// to a new sound pad of `mux` (then an application message kDvAudioMessage is posted).
struct PadLinks
{
    ElementRef videoHead;
    ElementRef audioHead, audioTail, mux;
};
inline constexpr const char *kDvAudioMessage = "vorlund-dv-audio";

// Connects `links` (owned from then on, freed with the element) to the element's new pads.
void ConnectPadLinks(GstElement *element, PadLinks *links);

// The open device of a V4L2 source element (READY or above), or nullopt.
std::optional<int> SourceDeviceFd(GstElement *source);

} // namespace vorlund
