#include "WidgetFileDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QListView>
#include <QPalette>
#include <QSettings>
#include <QTreeView>

namespace {
const QString chooseTitle = QStringLiteral("Choose files or folders");
const QString chooseProtectedTitle = QStringLiteral("Choose protected file");
const QString protectedFilesFilter = QStringLiteral("Protected files (*.korvolocal *.korvo)");
const QString allFilesFilter = QStringLiteral("All files (*)");
const QString lastFolderKey = QStringLiteral("dialogs/lastFolder");

// The folder the last choice was made in, kept between launches; the home folder at first.
QString lastFolder()
{
    const QString folder = QSettings().value(lastFolderKey).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

void rememberFolderOf(const QString& path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    QSettings().setValue(lastFolderKey, QFileInfo(trimmed).absolutePath());
}

QString withFolderSlash(const QString& path)
{
    return QFileInfo(path).isDir() && !path.endsWith(QLatin1Char('/')) ? path + QLatin1Char('/') : path;
}

// Qt's own dialog (Fusion, Qt's style off any desktop) in the window's dark colours; a native
// one ignores them.
void styleDialog(QFileDialog& dialog)
{
    QPalette palette;
    const QColor window(0x17, 0x1c, 0x1a), base(0x10, 0x14, 0x12), text(0xee, 0xf2, 0xf0);
    const QColor accent(0x3d, 0xdb, 0x9e), muted(0x80, 0x88, 0x84);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, window);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, muted);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x22, 0x29, 0x26));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Highlight, accent);
    palette.setColor(QPalette::HighlightedText, QColor(0x04, 0x1f, 0x13));
    palette.setColor(QPalette::Link, accent);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, muted);
    dialog.setPalette(palette);
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
            styleDialog(dialog);
            dialog.setDirectory(lastFolder());
            if (!request.allowsMultipleSelection)
                dialog.setFileMode(QFileDialog::ExistingFile);
            if (dialog.exec() != QDialog::Accepted || dialog.chosen.isEmpty())
                return std::nullopt;
            rememberFolderOf(dialog.chosen.first());
            return dialog.chosen;
        }
        // Protected files first; any other file may still be one (a renamed file), so "All
        // files" stays a choice.
        QFileDialog dialog(nullptr, chooseProtectedTitle, lastFolder());
        styleDialog(dialog);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters({protectedFilesFilter, allFilesFilter});
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        rememberFolderOf(dialog.selectedFiles().first());
        return QStringList{dialog.selectedFiles().first()};
    }

    std::optional<QString> chooseSaveLocation(const QString& title, const QString& suggestedName,
                                              const QString& startFolder) override
    {
        const QString folder = !startFolder.isEmpty() && QFileInfo(startFolder).isDir() ? startFolder : lastFolder();
        QFileDialog dialog(nullptr, title, folder);
        styleDialog(dialog);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.selectFile(suggestedName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().first();
    }
};
} // namespace

std::shared_ptr<FileDialogs> makeWidgetFileDialogs()
{
    return std::make_shared<WidgetFileDialogs>();
}
