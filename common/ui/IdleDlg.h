#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <initializer_list>
#include <map>
#include <vector>

namespace vorlund {

// Grows a window that Qt sized by itself to what its layout asks for now (with its title
// text), never beyond the available screen.
void FitWindowToLayout(QWidget &window);

// Base of the settings dialogs. Its contract:
// - the caller fills the dialog's public value fields, runs it (exec) and reads the fields
//   back only when it returned Accepted;
// - each show copies the fields into the controls (OnInitDialog, DoDataExchange(false)),
//   OK copies them back (DoDataExchange(true)) and stays open when that fails;
// - enable rules run on show, after every change signal of a control, after a nested dialog
//   returns and whenever the dialog becomes active again;
// - F1, or a click in "?" help mode, opens the help balloon of the control's id
//   (its objectName); an id without a help entry shows nothing.
class CIdleDlg : public QDialog
{
    Q_OBJECT

public:
    // The template id names the dialog (its objectName), as control ids name controls.
    explicit CIdleDlg(int templateId = 0, QWidget *parent = nullptr);

    struct HelpEntry
    {
        QString title;
        QString text;
    };

    // Re-evaluates every enable rule now.
    void UpdateDialogControls();

    // Runs a dialog opened from this one; the enable rules then see what it changed.
    int RunNested(QDialog &nested);

    // Opens the help balloon for a control, centred on it. Returns whether one opened.
    bool OnHelpInfo(QWidget *control);

    // The control with this id, or null.
    QWidget *Control(int id) const;

    // The id of the control or of the nearest enclosing widget that has one, or -1.
    int ControlId(const QWidget *widget) const;

    void accept() override;
    void setVisible(bool visible) override;

protected:
    // Every child with this id is enabled exactly when the condition holds. Controls without
    // a rule keep their state.
    void SetEnableRule(int id, std::function<bool()> condition);
    void SetHelpEntry(int id, const QString &title, const QString &text);

    // Check boxes whose state other controls depend on copy the controls into the fields as
    // soon as they are clicked, so that rules written on the fields see the change.
    void UpdateDataOnClick(std::initializer_list<int> ids);

    bool IsDlgButtonChecked(int id) const;

    // Copies fields to controls (false) or controls to fields (true, may refuse).
    bool UpdateData(bool saveAndValidate);
    virtual bool DoDataExchange(bool saveAndValidate);
    // Runs on each show before the rules; fills lists, then copies the fields in.
    virtual void OnInitDialog();

    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool event(QEvent *event) override;

private Q_SLOTS:
    void OnControlChanged();

private:
    void ConnectChangeSignals();

    struct Rule
    {
        int id;
        std::function<bool()> condition;
    };
    std::vector<Rule> m_rules;
    std::map<int, HelpEntry> m_help;
    bool m_inRules = false;
};

} // namespace vorlund
