#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The open and save panels the file workflow asks. The application uses QFileDialog
// (makeWidgetFileDialogs); tests script the answers. Folders come back with a trailing "/".
class FileDialogs {
public:
    struct OpenRequest {
        bool canChooseDirectories = false;
        bool allowsMultipleSelection = false;
        // Only generic data files and ZIP archives (opening a protected file).
        bool protectedFilesOnly = false;
    };

    virtual ~FileDialogs() = default;

    // The chosen items in the panel's order; none when the user cancelled.
    virtual std::optional<QStringList> chooseFiles(const OpenRequest& request) = 0;
    // The chosen save path; none when the user cancelled. The panel starts in `startFolder`
    // (the input's folder) when it is given.
    virtual std::optional<QString> chooseSaveLocation(const QString& title, const QString& suggestedName,
                                                      const QString& startFolder = {}) = 0;
};
