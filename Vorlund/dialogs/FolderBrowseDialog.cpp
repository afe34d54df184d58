#include "FolderBrowseDialog.h"

#include "DialogControls.h"
#include "FolderRules.h"

#include <QDir>
#include <QFileSystemModel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace vorlund {

CFolderBrowseDialog::CFolderBrowseDialog(const QString &caption, const QString &prompt,
                                         const std::string &startFolder, INotifier &notifier,
                                         QWidget *owner)
    : CIdleDlg(0, owner), m_notifier(notifier), m_start(startFolder)
{
    setWindowTitle(caption);
    m_model = new QFileSystemModel(this);
    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    m_model->setRootPath("/");
    m_tree = new QTreeView(this);
    m_tree->setObjectName("14145");
    m_tree->setModel(m_model);
    for (int column = 1; column < m_model->columnCount(); ++column)
        m_tree->hideColumn(column);
    m_tree->setHeaderHidden(true);
    m_edit = MakeTextEdit(14148, kMaxFolderBytes + 1, this);
    auto *buttons = MakeOkCancel(this);
    m_ok = buttons->button(QDialogButtonBox::Ok);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(MakeLabel(prompt, this));
    layout->addWidget(m_edit);
    layout->addWidget(m_tree);
    layout->addWidget(buttons);

    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &CFolderBrowseDialog::OnSelectionChanged);
    connect(m_edit, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_ok->setEnabled(!text.isEmpty()); });
}

void CFolderBrowseDialog::OnInitDialog()
{
    const QString start = m_start.empty() ? QDir::currentPath() : FromUtf8(m_start);
    m_edit->setText(start);
    const QModelIndex index = m_model->index(start);
    if (index.isValid()) {
        m_tree->setCurrentIndex(index);
        m_tree->scrollTo(index);
    }
    m_edit->setText(start);
    CIdleDlg::OnInitDialog();
}

void CFolderBrowseDialog::OnSelectionChanged()
{
    const QString path = m_model->filePath(m_tree->currentIndex());
    m_edit->setText(path.startsWith('/') ? path : QString());
}

int CFolderBrowseDialog::DoModal()
{
    return exec() == QDialog::Accepted ? 1 : -1;
}

void CFolderBrowseDialog::accept()
{
    const std::string path = ToUtf8(m_edit->text());
    if (AcceptBrowsedFolder(path, m_notifier) != FolderOutcome::Accepted) {
        m_edit->setFocus();
        return;
    }
    m_path = path;
    CIdleDlg::accept();
}

} // namespace vorlund
