// The elements of a built capture graph under the names the server's code knows them by.
// Null when absent; the graph holds one reference of each and drops them at teardown.
#pragma once

#include "AudioFilterControl.h"
#include "AviFilterControl.h"
#include "ColorSpaceFilterControl.h"
#include "GraphPlan.h"
#include "GstHandles.h"

namespace vorlund {

struct GraphParts
{
    ElementRef m_pGraph; // the pipeline
    ElementRef m_pCapture; // the video source bound by FindVideoDevice
    ElementRef m_pCaptureFormat; // the capsfilter holding the stored capture format
    ElementRef m_pGrabber; // the appsink of the grabber branch ("SampleGrabber")
    ElementRef m_pTee; // "InfTee"
    ElementRef m_pVideoCodec; // the encoder chosen by CodecName ("Video Comp. Codec")
    ElementRef m_pAudioCodec; // the audio encoder ("Audio Comp. Codec")
    ElementRef m_pMux; // avimux, mp4mux or asfmux
    ElementRef m_pFileSink; // the filesink writing m_recordFile
    ElementRef m_pDvDecoder; // "my DV Decoder" of the record branch
    ElementRef m_pDvSplitter; // "my DV Splitter" of the record branch
    IAviFilterControl m_pAviControl; // "VorlundAVI": record gate and stamp
    IAudioFilterControl m_pAudioControl; // "VorlundAudio" (the audio chain's)
    ElementRef m_pAudioCapture; // the audio source (the audio chain's)
    ElementRef m_pAudioLevel; // "Audio Level": the input level behind the audio source
    IColorSpaceFilterControl m_pColorSpace; // "VorlundColorSpace" (YUY2 sources only)

    // Where the DV splitters' video and sound go once they appear (they make their pads
    // when the first frame arrives).
    ElementRef dvVideoHead; // record branch: first element behind "my DV Splitter"
    ElementRef dvAudioHead; // record branch: DV sound on its way to the multiplexer
    ElementRef dvAudioTail;
    ElementRef dvGrabberHead; // grabber branch: first element behind "my DV Splitter2"
    ElementRef decodedHead; // first element behind a decoder of an `Other` source

    SourceKind kind = SourceKind::Other;
    RecordingFormat format = RecordingFormat::Avi;
    PictureSize grabberSize; // the detector's frame geometry
};

} // namespace vorlund
