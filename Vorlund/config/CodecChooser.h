#pragma once

// Command 155 "Video &Compression" without widgets: the graph is down while the chooser is
// open; "Configure" builds it for the selection and edits that encoder's settings; OK stores
// CodecName, UseWmProfile and WmProfilePath and saves; either way the graph is built again for
// the codec chosen. The windows get and give plain data.

#include "CodecChoice.h"
#include "CodecProperties.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace vorlund {

class ICaptureGraph;
class ICodecAccess;
struct ServerContext;

// What the chooser window shows at opening and holds when it closes.
struct CodecChooserData
{
    std::vector<std::string> compressorNames;
    std::string selection; // the chosen compressor or profile name
    bool useProfiles = false;
    std::string currentCompressor; // CodecName at opening
    std::string currentProfile; // WmProfilePath at opening
    std::filesystem::path workingFolder; // its "profiles" folder holds the profiles
    ProfileMap profiles; // what the window listed
};

// The chooser's windows. "Configure" and "Create/Edit" call `configure` while the chooser is
// open; the nested windows open over it.
class ICodecChooserWindows
{
public:
    using Configure = std::function<void(bool useProfiles, const std::string &selection)>;
    using Accepts = std::function<bool(const std::string &name, const std::string &value)>;

    virtual ~ICodecChooserWindows() = default;
    // True on OK, with `data` holding the choice.
    virtual bool RunChooser(CodecChooserData &data, const Configure &configure) = 0;
    // "Configure WMVideo9 Encoder"; true on OK with the values edited.
    virtual bool RunWm9(Wm9Values &values) = 0;
    // The encoder's settings; true on OK with the values edited. `accepts` checks a text.
    virtual bool RunProperties(const std::string &codecName, std::vector<CodecProperty> &properties,
                               const Accepts &accepts)
        = 0;
};

// Returns whether OK was chosen. Without `codecs` there is nothing to choose from.
bool ChooseVideoCodec(ServerContext &context, ICaptureGraph &graph, ICodecAccess *codecs,
                      ICodecChooserWindows &windows);

} // namespace vorlund
