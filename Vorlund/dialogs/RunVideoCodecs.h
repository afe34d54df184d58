#pragma once

#include <functional>

class QWidget;

namespace vorlund {

class CaptureGraph;
class CCodecProperties;
class CConfigWM9;
class CVideoCodecs;
class ICaptureGraph;
struct ServerContext;

// Replace the modal runs (tests); each returns the dialog's result.
struct CodecDialogRuns
{
    std::function<int(CVideoCodecs &)> chooser;
    std::function<int(CCodecProperties &)> properties;
    std::function<int(CConfigWM9 &)> wm9;
};

// Command 155 "Video &Compression": the graph is down while the chooser is open; OK stores
// CodecName, UseWmProfile and WmProfilePath and saves; either way the graph is built again for
// the codec chosen. `capture` is the graph whose encoder "Configure" edits (none: no settings
// to show). Returns whether OK was chosen.
bool ChooseVideoCodec(QWidget *parent, ServerContext &context, ICaptureGraph &graph,
                      CaptureGraph *capture, const CodecDialogRuns &runs = {});

} // namespace vorlund
