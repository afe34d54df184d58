// Windows Media profiles for the tests, as the profile editor writes them (UTF-16 with a
// byte-order mark).
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund::test {

inline constexpr std::string_view kAudioStreamConfig
    = R"(<streamconfig majortype="{73647561-0000-0010-8000-00AA00389B71}" streamnumber="1" )"
      R"(streamname="Audio Stream" inputname="Audio409" bitrate="64016" bufferwindow="-1">
   <wmmediatype subtype="{00000161-0000-0010-8000-00AA00389B71}" lsamplesize="2973">
     <waveformatex wFormatTag="353" nChannels="2" nSamplesPerSec="48000"/>
   </wmmediatype>
 </streamconfig>
)";

inline constexpr std::string_view kVideoStreamConfig
    = R"(<streamconfig majortype="{73646976-0000-0010-8000-00AA00389B71}" streamnumber="2" )"
      R"(streamname="Video Stream" inputname="Video409" bitrate="400000" bufferwindow="5000">
   <videomediaprops maxkeyframespacing="80000000" quality="75"/>
   <wmmediatype subtype="{33564D57-0000-0010-8000-00AA00389B71}" btemporalcompression="1">
     <videoinfoheader dwbitrate="400000" dwbiterrorrate="0" avgtimeperframe="400000">
       <rcsource left="0" top="0" right="320" bottom="240"/>
       <bitmapinfoheader biwidth="320" biheight="240" biplanes="1" bibitcount="24"/>
     </videoinfoheader>
   </wmmediatype>
 </streamconfig>
)";

inline std::string ProfileText(bool audio, bool video)
{
    std::string text = R"(<profile version="589824" storageformat="1" name="Test" description="">
)";
    if (audio)
        text += kAudioStreamConfig;
    if (video)
        text += kVideoStreamConfig;
    return text + "</profile>\n";
}

inline std::vector<uint8_t> Utf16(std::string_view text)
{
    std::vector<uint8_t> bytes { 0xFF, 0xFE };
    for (char c : text) {
        bytes.push_back(uint8_t(c));
        bytes.push_back(0);
    }
    return bytes;
}

inline void WriteBytes(const std::filesystem::path &file, const std::vector<uint8_t> &bytes)
{
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

} // namespace vorlund::test
