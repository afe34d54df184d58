// The grabber branch: from the tee to the appsink that feeds the motion detector, through
// whatever the source needs to become BGR frames of the detector's size (the colour-space
// filter for YUY2, the second DV splitter and decoder at half rate for a camcorder).
#pragma once

#include "GraphBuild.h"

namespace vorlund {

class CMotionGrabber;
class GrabberSink;

int BuildGrabberBranch(const GraphBuild &build, GrabberSink &sink, CMotionGrabber &grabber);

} // namespace vorlund
