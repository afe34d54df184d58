#include "RunConfiguration.h"

#include "ConfigurationDialog.h"
#include "ServerContext.h"

namespace vorlund {

namespace {

// The flag is cleared on every way out.
class ConfigurationOpenFlag
{
public:
    explicit ConfigurationOpenFlag(ViewState &view) : m_view(view)
    {
        m_view.ConfigurationOpen = true;
    }
    ~ConfigurationOpenFlag() { m_view.ConfigurationOpen = false; }
    ConfigurationOpenFlag(const ConfigurationOpenFlag &) = delete;
    ConfigurationOpenFlag &operator=(const ConfigurationOpenFlag &) = delete;

private:
    ViewState &m_view;
};

} // namespace

bool RunConfiguration(QWidget *parent, ServerContext &context, ConfigEnvironment &environment,
                      const std::function<int(CConfiguration &)> &run)
{
    ConfigurationOpenFlag open(context.view);
    CConfiguration dialog(context.notifier, parent);
    dialog.Values = CopyInConfiguration(context);
    dialog.RunCredentials = environment.RunCredentials;
    dialog.SendTestMail = environment.SendTestMail;
    const int result = run ? run(dialog) : dialog.exec();
    if (result != QDialog::Accepted)
        return false;
    ApplyConfigurationValues(context, environment, dialog.Values);
    return true;
}

} // namespace vorlund
