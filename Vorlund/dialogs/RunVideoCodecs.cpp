#include "RunVideoCodecs.h"

#include "DeviceSettings.h"
#include "FieldChecks.h"
#include "ServerContext.h"
#include "VideoCodecsDialog.h"

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
    ChooserRun(QWidget *parent, ServerContext &context, ICaptureGraph &graph, ICodecAccess *codecs,
               const CodecDialogRuns &runs)
        : m_parent(parent), m_c(context), m_config(context.settings.Config), m_graph(graph),
          m_codecs(codecs), m_runs(runs)
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
        CVideoCodecs dialog(m_c.notifier, m_parent);
        dialog.CompressorNames = names;
        dialog.Selection = m_config.UseWmProfile ? std::string() : m_config.CodecName;
        dialog.UseProfiles = m_config.UseWmProfile != 0;
        dialog.CurrentCompressor = m_config.CodecName;
        dialog.CurrentProfile = m_config.WmProfilePath;
        dialog.WorkingFolder = m_c.view.WorkingFolder;
        dialog.OnConfigure = [this, &dialog](bool useProfiles, const std::string &selection) {
            m_config.UseWmProfile = useProfiles ? 1 : 0;
            if (useProfiles)
                return;
            if (!FitsField(selection, kCodecNameWidth)) {
                m_c.notifier.ShowMessage(TooLongMessage(kCodecNameWidth), kPlainCaption);
                return;
            }
            m_config.CodecName = selection;
            ShowCodecConfigPage(dialog);
        };
        const int result = m_runs.chooser ? m_runs.chooser(dialog) : dialog.exec();
        const bool ok = result == QDialog::Accepted;
        if (ok) {
            ApplyCodecChoice(m_config, dialog.Selection, dialog.UseProfiles != 0, dialog.Profiles);
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
    void ConfigureWmv9(CVideoCodecs &dialog)
    {
        CConfigWM9 wm9(m_c.notifier, &dialog);
        wm9.Values = Wm9ValuesFrom(m_config);
        const int result = m_runs.wm9 ? m_runs.wm9(wm9) : dialog.RunNested(wm9);
        if (result != QDialog::Accepted)
            return;
        ApplyWm9Values(wm9.Values, m_config);
        m_c.engine.KeepDeviceFilter = 1;
        const bool ok = Build();
        m_c.engine.KeepDeviceFilter = 0;
        if (!ok)
            m_c.view.DeviceReady = false;
    }

    void ShowCodecConfigPage(CVideoCodecs &dialog)
    {
        if (IsWmv9CodecName(m_config.CodecName)) {
            ConfigureWmv9(dialog);
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
        CCodecProperties editor(m_c.notifier, m_config.CodecName, &dialog);
        editor.Properties = properties;
        editor.Accepts = [this](const std::string &name, const std::string &value) {
            return m_codecs->AcceptsVideoCodecValue(name, value);
        };
        const int result = m_runs.properties ? m_runs.properties(editor) : dialog.RunNested(editor);
        if (result != QDialog::Accepted)
            return;
        m_codecs->KeepVideoCodecChanges(m_config.CodecName, properties, editor.Properties);
    }

    QWidget *m_parent;
    ServerContext &m_c;
    DeviceConfig &m_config;
    ICaptureGraph &m_graph;
    ICodecAccess *m_codecs;
    const CodecDialogRuns &m_runs;
    std::optional<BuiltChoice> m_built;
};

} // namespace

bool ChooseVideoCodec(QWidget *parent, ServerContext &context, ICaptureGraph &graph,
                      ICodecAccess *codecs, const CodecDialogRuns &runs)
{
    ChooserRun run(parent, context, graph, codecs, runs);
    return run.Run();
}

} // namespace vorlund
