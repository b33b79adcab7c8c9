#include "WidgetFileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QListView>
#include <QTreeView>

namespace {
const QString chooseTitle = QStringLiteral("Choose files or folders");
const QString chooseProtectedTitle = QStringLiteral("Choose protected file");

QString withFolderSlash(const QString& path)
{
    return QFileInfo(path).isDir() && !path.endsWith(QLatin1Char('/')) ? path + QLatin1Char('/') : path;
}

// An open panel that returns files and folders together: pressing Open takes whatever is
// selected in the list, folders included, instead of entering a selected folder.
class FilesAndFoldersDialog : public QFileDialog {
public:
    FilesAndFoldersDialog()
    {
        setWindowTitle(chooseTitle);
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::ExistingFiles);
    }

    QStringList chosen;

protected:
    // The panel's widgets exist once it is shown: let its views select several items.
    void showEvent(QShowEvent* event) override
    {
        const auto mode = fileMode() == QFileDialog::ExistingFiles ? QAbstractItemView::ExtendedSelection
                                                                   : QAbstractItemView::SingleSelection;
        for (QAbstractItemView* view : findChildren<QAbstractItemView*>()) {
            if (qobject_cast<QListView*>(view) || qobject_cast<QTreeView*>(view))
                view->setSelectionMode(mode);
        }
        QFileDialog::showEvent(event);
    }

public:
    void accept() override
    {
        QStringList paths;
        const QString viewName = viewMode() == QFileDialog::Detail ? QStringLiteral("treeView") : QStringLiteral("listView");
        if (auto* view = findChild<QAbstractItemView*>(viewName); view && view->selectionModel()) {
            for (const QModelIndex& index : view->selectionModel()->selectedIndexes()) {
                if (index.column() == 0)
                    paths.append(withFolderSlash(index.data(QFileSystemModel::FilePathRole).toString()));
            }
        }
        if (paths.isEmpty()) {
            QFileDialog::accept();
            for (const QString& path : selectedFiles())
                chosen.append(withFolderSlash(path));
            return;
        }
        chosen = paths;
        QDialog::accept();
    }
};

class WidgetFileDialogs : public FileDialogs {
public:
    std::optional<QStringList> chooseFiles(const OpenRequest& request) override
    {
        if (request.canChooseDirectories || request.allowsMultipleSelection) {
            FilesAndFoldersDialog dialog;
            if (!request.allowsMultipleSelection)
                dialog.setFileMode(QFileDialog::ExistingFile);
            if (dialog.exec() != QDialog::Accepted || dialog.chosen.isEmpty())
                return std::nullopt;
            return dialog.chosen;
        }
        // Protected files are plain data or ZIP archives: any single file qualifies.
        const QString path = QFileDialog::getOpenFileName(nullptr, chooseProtectedTitle, QString(),
                                                          QStringLiteral("All files (*)"));
        if (path.isEmpty())
            return std::nullopt;
        return QStringList{path};
    }

    std::optional<QString> chooseSaveLocation(const QString& title, const QString& suggestedName) override
    {
        const QString path = QFileDialog::getSaveFileName(nullptr, title, suggestedName);
        if (path.isEmpty())
            return std::nullopt;
        return path;
    }
};
} // namespace

std::shared_ptr<FileDialogs> makeWidgetFileDialogs()
{
    return std::make_shared<WidgetFileDialogs>();
}
