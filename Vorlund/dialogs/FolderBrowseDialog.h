#pragma once

#include "IdleDlg.h"
#include "Notifier.h"

#include <string>

class QFileSystemModel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace vorlund {

// A folder picker: a folder tree with an edit box. OK takes the edit box's text, checks it,
// and offers to create every missing level; it stays open while the folder is refused.
class CFolderBrowseDialog : public CIdleDlg
{
public:
    // An empty start folder starts at the working folder (the current directory).
    CFolderBrowseDialog(const QString &caption, const QString &prompt,
                        const std::string &startFolder, INotifier &notifier,
                        QWidget *owner = nullptr);

    // 1 when a folder was accepted, else -1.
    int DoModal();
    std::string GetPath() const { return m_path; }

    void accept() override;

protected:
    void OnInitDialog() override;

private:
    void OnSelectionChanged();
    void OnDirectoryLoaded(const QString &folder);
    void SelectStart();

    INotifier &m_notifier;
    std::string m_start;
    std::string m_path;
    QString m_pendingStart; // selected when the model has loaded it; empty once done
    QFileSystemModel *m_model;
    QTreeView *m_tree;
    QLineEdit *m_edit;
    QPushButton *m_ok;
};

} // namespace vorlund
