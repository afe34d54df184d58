#include "FolderBrowseDialog.h"

#include "DialogControls.h"
#include "FolderRules.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QPushButton>
#include <QTimer>
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
    connect(m_model, &QFileSystemModel::directoryLoaded, this,
            &CFolderBrowseDialog::OnDirectoryLoaded);
    // Once the user picks or types, a late load moves nothing.
    connect(m_tree, &QAbstractItemView::pressed, this, [this] { m_pendingStart.clear(); });
    connect(m_edit, &QLineEdit::textEdited, this, [this] { m_pendingStart.clear(); });
}

void CFolderBrowseDialog::OnInitDialog()
{
    const QString start = m_start.empty() ? QDir::currentPath() : FromUtf8(m_start);
    m_edit->setText(start);
    // The model lists folders in the background: the start folder is selected once the
    // folder holding it is loaded (and again on every load until then).
    m_pendingStart = QDir::cleanPath(start);
    SelectStart();
    m_edit->setText(start);
    CIdleDlg::OnInitDialog();
}

void CFolderBrowseDialog::OnDirectoryLoaded(const QString &folder)
{
    if (m_pendingStart.isEmpty())
        return;
    const QString parent = QFileInfo(m_pendingStart).path();
    SelectStart();
    if (QDir::cleanPath(folder) == parent) {
        // The model sorts what it loaded after this signal; select once more after that.
        QTimer::singleShot(0, this, [this] {
            SelectStart();
            m_pendingStart.clear();
        });
    }
}

void CFolderBrowseDialog::SelectStart()
{
    const QModelIndex index = m_model->index(m_pendingStart);
    if (!index.isValid())
        return;
    m_tree->setCurrentIndex(index);
    m_tree->scrollTo(index, QAbstractItemView::PositionAtCenter);
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
