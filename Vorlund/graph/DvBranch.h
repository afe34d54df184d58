// The camcorder's parts of the capture graph: the record branch's DV splitter and decoder in
// front of "VorlundAVI-2", and the camcorder's own sound into the multiplexer.
#pragma once

#include "GraphBuild.h"

namespace vorlund {

struct WmProfileInfo;

int BuildDvFrontEnd(const GraphBuild &build);
// The splitter's sound, encoded as the recording format wants (a Windows Media one as
// `profile` says), linked once the splitter makes its pads.
int JoinDvAudio(const GraphBuild &build, const WmProfileInfo *profile);

} // namespace vorlund
