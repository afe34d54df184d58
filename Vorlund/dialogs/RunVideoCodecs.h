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

// Command 155 "Video &Compression" (CodecChooser.h) with the chooser and its windows over
// `parent`. Returns whether OK was chosen.
bool ChooseVideoCodec(QWidget *parent, ServerContext &context, ICaptureGraph &graph,
                      ICodecAccess *codecs, const CodecDialogRuns &runs = {});

} // namespace vorlund
