#include "CodecChooser.h"

#include "DeviceSettings.h"
#include "FieldChecks.h"
#include "ServerContext.h"

#include <optional>

namespace vorlund {

namespace {

constexpr std::string_view kNoCodecsText
    = "Failed to get any Video Compression Codecs.\r\nIs gstreamer1.0-libav installed?";
constexpr std::string_view kNoDialogsText = "This CODEC filter has no Dialogs.";
constexpr std::string_view kNoConfigDialogsText = "This CODEC filter had no Configuration Dialogs.";

// What a graph was built for: a rebuild is due when the settings now ask for something else.
struct BuiltChoice
{
    std::string codec;
    int32_t useProfile = 0;
    std::string profile;
    bool operator==(const BuiltChoice &) const = default;
};

BuiltChoice ChoiceOf(const DeviceConfig &c)
{
    return { c.CodecName, c.UseWmProfile, c.WmProfilePath };
}

// The flag is cleared on every way out.
class CodecDialogFlag
{
public:
    explicit CodecDialogFlag(ViewState &view) : m_view(view) { m_view.CodecDialogOpen = true; }
    ~CodecDialogFlag() { m_view.CodecDialogOpen = false; }
    CodecDialogFlag(const CodecDialogFlag &) = delete;
    CodecDialogFlag &operator=(const CodecDialogFlag &) = delete;

private:
    ViewState &m_view;
};

class ChooserRun
{
public:
    ChooserRun(ServerContext &context, ICaptureGraph &graph, ICodecAccess *codecs,
               ICodecChooserWindows &windows)
        : m_c(context), m_config(context.settings.Config), m_graph(graph), m_codecs(codecs),
          m_windows(windows)
    { }

    bool Run()
    {
        CodecDialogFlag open(m_c.view);
        m_c.engine.KeepDeviceFilter = m_c.view.DeviceReady ? 1 : 0;
        m_graph.TearDownGraph();
        const std::vector<std::string> names
            = m_codecs ? m_codecs->ListVideoCompressors() : std::vector<std::string>();
        if (names.empty()) {
            ShowErrorBox(m_c.notifier, kNoCodecsText);
            m_config.CodecName = "(None)";
            if (!Build())
                m_c.view.DeviceReady = false;
            m_c.engine.KeepDeviceFilter = 0;
            return false;
        }
        const BuiltChoice opened = ChoiceOf(m_config);
        CodecChooserData data;
        data.compressorNames = names;
        data.selection = m_config.UseWmProfile ? std::string() : m_config.CodecName;
        data.useProfiles = m_config.UseWmProfile != 0;
        data.currentCompressor = m_config.CodecName;
        data.currentProfile = m_config.WmProfilePath;
        data.workingFolder = m_c.view.WorkingFolder;
        const auto configure = [this](bool useProfiles, const std::string &selection) {
            m_config.UseWmProfile = useProfiles ? 1 : 0;
            if (useProfiles)
                return;
            if (!FitsField(selection, kCodecNameWidth)) {
                m_c.notifier.ShowMessage(TooLongMessage(kCodecNameWidth), kPlainCaption);
                return;
            }
            m_config.CodecName = selection;
            ShowCodecConfigPage();
        };
        const bool ok = m_windows.RunChooser(data, configure);
        if (ok) {
            ApplyCodecChoice(m_config, data.selection, data.useProfiles, data.profiles);
            SaveDeviceSettings(m_c);
            m_c.view.DeviceReady = true;
        } else {
            // What "Configure" changed goes back with the rest.
            m_config.CodecName = opened.codec;
            m_config.UseWmProfile = opened.useProfile;
        }
        // A graph that "Configure" built for another choice is built again.
        if (!(m_graph.IsBuilt() && m_built == ChoiceOf(m_config)) && !Build()) {
            m_c.engine.KeepDeviceFilter = 0;
            if (!Build())
                m_c.view.DeviceReady = false;
        }
        m_c.engine.KeepDeviceFilter = 0;
        return ok;
    }

private:
    bool Build()
    {
        const bool ok = m_graph.BuildCaptureGraph(false) == BuildResult::Ok;
        m_built = ok ? std::optional(ChoiceOf(m_config)) : std::nullopt;
        return ok;
    }

    // The WMV9 encoder's own dialog opens before a build would replace the codec by its
    // fallback; its values reach the encoder that records in its place.
    void ConfigureWmv9()
    {
        Wm9Values values = Wm9ValuesFrom(m_config);
        if (!m_windows.RunWm9(values))
            return;
        ApplyWm9Values(values, m_config);
        m_c.engine.KeepDeviceFilter = 1;
        const bool ok = Build();
        m_c.engine.KeepDeviceFilter = 0;
        if (!ok)
            m_c.view.DeviceReady = false;
    }

    void ShowCodecConfigPage()
    {
        if (IsWmv9CodecName(m_config.CodecName)) {
            ConfigureWmv9();
            return;
        }
        if (m_graph.IsBuilt()) {
            m_c.engine.KeepDeviceFilter = 1;
            m_graph.TearDownGraph();
        }
        const bool ok = Build();
        m_c.engine.KeepDeviceFilter = 0;
        if (!ok) {
            m_c.view.DeviceReady = false;
            return;
        }
        if (!m_codecs || !m_codecs->HasVideoEncoder()) {
            m_c.notifier.ShowMessage(kNoConfigDialogsText, kPlainCaption);
            return;
        }
        const std::vector<CodecProperty> properties = m_codecs->VideoCodecProperties();
        if (properties.empty()) {
            m_c.notifier.ShowMessage(kNoDialogsText, kPlainCaption);
            return;
        }
        std::vector<CodecProperty> edited = properties;
        const auto accepts = [this](const std::string &name, const std::string &value) {
            return m_codecs->AcceptsVideoCodecValue(name, value);
        };
        if (!m_windows.RunProperties(m_config.CodecName, edited, accepts))
            return;
        m_codecs->KeepVideoCodecChanges(m_config.CodecName, properties, edited);
    }

    ServerContext &m_c;
    DeviceConfig &m_config;
    ICaptureGraph &m_graph;
    ICodecAccess *m_codecs;
    ICodecChooserWindows &m_windows;
    std::optional<BuiltChoice> m_built;
};

} // namespace

bool ChooseVideoCodec(ServerContext &context, ICaptureGraph &graph, ICodecAccess *codecs,
                      ICodecChooserWindows &windows)
{
    ChooserRun run(context, graph, codecs, windows);
    return run.Run();
}

} // namespace vorlund
