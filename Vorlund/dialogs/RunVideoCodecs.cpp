#include "RunVideoCodecs.h"

#include "CodecChooser.h"
#include "ServerContext.h"
#include "VideoCodecsDialog.h"

namespace vorlund {

namespace {

// The chooser and the windows it opens, over the view; a nested window opens over the
// chooser.
class QtCodecChooserWindows : public ICodecChooserWindows
{
public:
    QtCodecChooserWindows(QWidget *parent, INotifier &notifier, const CodecDialogRuns &runs)
        : m_parent(parent), m_notifier(notifier), m_runs(runs)
    { }

    bool RunChooser(CodecChooserData &data, const Configure &configure) override
    {
        CVideoCodecs dialog(m_notifier, m_parent);
        dialog.CompressorNames = data.compressorNames;
        dialog.Selection = data.selection;
        dialog.UseProfiles = data.useProfiles ? 1 : 0;
        dialog.CurrentCompressor = data.currentCompressor;
        dialog.CurrentProfile = data.currentProfile;
        dialog.WorkingFolder = data.workingFolder;
        dialog.OnConfigure = configure;
        m_chooser = &dialog;
        const int result = m_runs.chooser ? m_runs.chooser(dialog) : dialog.exec();
        m_chooser = nullptr;
        data.selection = dialog.Selection;
        data.useProfiles = dialog.UseProfiles != 0;
        data.profiles = dialog.Profiles;
        return result == QDialog::Accepted;
    }

    bool RunWm9(Wm9Values &values) override
    {
        CConfigWM9 wm9(m_notifier, m_chooser);
        wm9.Values = values;
        if (Run(wm9, m_runs.wm9) != QDialog::Accepted)
            return false;
        values = wm9.Values;
        return true;
    }

    bool RunProperties(const std::string &codecName, std::vector<CodecProperty> &properties,
                       const Accepts &accepts) override
    {
        CCodecProperties editor(m_notifier, codecName, m_chooser);
        editor.Properties = properties;
        editor.Accepts = accepts;
        if (Run(editor, m_runs.properties) != QDialog::Accepted)
            return false;
        properties = editor.Properties;
        return true;
    }

private:
    template <typename Dialog>
    int Run(Dialog &dialog, const std::function<int(Dialog &)> &replacement)
    {
        if (replacement)
            return replacement(dialog);
        return m_chooser ? m_chooser->RunNested(dialog) : dialog.exec();
    }

    QWidget *m_parent;
    INotifier &m_notifier;
    const CodecDialogRuns &m_runs;
    CVideoCodecs *m_chooser = nullptr;
};

} // namespace

bool ChooseVideoCodec(QWidget *parent, ServerContext &context, ICaptureGraph &graph,
                      ICodecAccess *codecs, const CodecDialogRuns &runs)
{
    QtCodecChooserWindows windows(parent, context.notifier, runs);
    return ChooseVideoCodec(context, graph, codecs, windows);
}

} // namespace vorlund
