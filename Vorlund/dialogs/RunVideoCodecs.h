#pragma once

#include <functional>

class QWidget;

namespace vorlund {

class CCodecProperties;
class CConfigWM9;
class CVideoCodecs;
class ICaptureGraph;
class ICodecAccess;
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
// the codec chosen. `codecs` lists the compressors and holds the settings "Configure" edits
// (none: no compressors to choose from). Returns whether OK was chosen.
bool ChooseVideoCodec(QWidget *parent, ServerContext &context, ICaptureGraph &graph,
                      ICodecAccess *codecs, const CodecDialogRuns &runs = {});

} // namespace vorlund
