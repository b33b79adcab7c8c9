#pragma once

#include "core/KorvoError.h"

#include <QDir>
#include <QString>
#include <QStringList>
#include <optional>

class Cancellation;

// What a bundle left out of a selection, counted.
struct LeftOut {
    int special = 0;   // sockets, pipes and devices
    int hidden = 0;    // hidden items inside folders (a hidden folder counts once)

    // Sentences about the items left out, for the status; empty when there were none.
    QString note() const;
};

// The one file an operation works on, made from what the user chose.
struct PreparedInput {
    QString url;                        // the file the operation reads
    std::optional<QString> cleanupURL;  // a temporary file to remove when the operation ends
    QString displayName;                // last path component of url
    LeftOut leftOut;                    // what the bundle left out

    QString skippedNote() const { return leftOut.note(); }
};

class FilePreparationError : public KorvoError {
public:
    enum class Kind { noFiles, zipFailed };

    explicit FilePreparationError(Kind kind);

    static FilePreparationError noFiles() { return FilePreparationError(Kind::noFiles); }
    static FilePreparationError zipFailed() { return FilePreparationError(Kind::zipFailed); }

    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// Turns a selection of files and folders (folders end in "/") into one input file. Holds no
// state; everything happens on the calling thread inside the call.
namespace FilePreparationService {

// One plain file is used as it is. Anything else is packed, stored and uncompressed, into a new
// archive "korvo-<UUID>.zip" in `temporaryDirectory`, which the caller removes afterwards with
// removeBundle(). Throws FilePreparationError, the ZIP writer's error (zip::ArchiveError)
// unchanged, or OperationCancelled once `cancel` is requested; a partly written archive is
// removed before the error leaves.
PreparedInput prepare(const QStringList& urls, const QString& temporaryDirectory = QDir::tempPath(),
                      const Cancellation* cancel = nullptr);

// Whether prepare() packs this selection (anything but one plain file).
bool bundles(const QStringList& urls);

// Packs the selection into a new archive at `archivePath`, which must not exist yet, whatever
// the selection holds, and returns what was left out. Same errors and clean-up as prepare();
// the archive stays listed as a scratch file (see Cancellation.h) until the caller removes it
// or renames it and releases it.
LeftOut writeBundle(const QStringList& urls, const QString& archivePath, const Cancellation* cancel = nullptr);

// The same into an empty file the caller has open for writing at `fd` and disposes of
// afterwards; `archivePath` names it in errors (zip::ArchiveError, also when it cannot be
// written at all). The archive itself and the files at `leaveOut` (the earlier file a new
// archive replaces, the archive's scratch name) are never packed or counted, wherever they
// turn up in the selection.
LeftOut writeBundleTo(int fd, const QString& archivePath, const QStringList& urls, const QStringList& leaveOut = {},
                      const Cancellation* cancel = nullptr);

// Removes the temporary bundle of a prepared input, if it has one.
void removeBundle(const PreparedInput& prepared);

} // namespace FilePreparationService
