#pragma once

#include "core/KorvoError.h"

#include <QByteArray>
#include <QString>
#include <functional>

class Cancellation;

class LocalFileProtectionError : public KorvoError {
public:
    enum class Kind { invalidFile, unreadableFile, writeFailed };

    explicit LocalFileProtectionError(Kind kind, int errorNumber = 0);

    static LocalFileProtectionError invalidFile() { return LocalFileProtectionError(Kind::invalidFile); }
    static LocalFileProtectionError unreadableFile() { return LocalFileProtectionError(Kind::unreadableFile); }
    static LocalFileProtectionError writeFailed(int errorNumber = 0)
    {
        return LocalFileProtectionError(Kind::writeFailed, errorNumber);
    }

    Kind kind() const { return m_kind; }
    // The system's reason (an errno value) behind a failed write, when known; else 0.
    int errorNumber() const { return m_errorNumber; }

private:
    Kind m_kind;
    int m_errorNumber;
};

// Seals files into the local protected format under the 32-byte local key, and opens them.
// Holds no state. Both calls block for the whole file, stream it with bounded memory, and write
// the output under a temporary name beside it: the output path changes only when the whole
// operation succeeded, so a failure leaves whatever was there before (the input included, when
// the output is the input itself) exactly as it was.
namespace LocalFileProtectionService {

// done and total count bytes of the input; called on the calling thread. May be empty.
// A progress function that throws cancels the operation: nothing is saved and its exception
// leaves protect() or open() unchanged.
using Progress = std::function<void(qint64 done, qint64 total)>;

// Both calls stop within about a megabyte of work once `cancel` (may be null) is requested,
// throwing OperationCancelled; nothing is saved then. A path whose name was changed by a lossy
// decoding before it got here gives UnrepresentableNameError (see NativePath.h).

// Throws LocalFileProtectionError: unreadableFile when the input cannot be opened or is not a
// regular file, writeFailed for everything after that.
void protect(const QString& inputPath, const QString& outputPath, const QByteArray& keyData,
             const Progress& progress = {}, const Cancellation* cancel = nullptr);

// Throws LocalFileProtectionError: unreadableFile when the input cannot be opened, is not a
// regular file or its header cannot be read,
// invalidFile when it is not a file sealed under this key or has been changed in any way,
// writeFailed when the output cannot be created or written.
void open(const QString& inputPath, const QString& outputPath, const QByteArray& keyData,
          const Progress& progress = {}, const Cancellation* cancel = nullptr);

// The same format through descriptors that need not be files (pipes, a terminal): records are
// read and written in order, one at a time, and nothing is written anywhere else. Opening a
// stream writes the plain text of each record as soon as it authenticates, so after a failure
// whatever was already written must be thrown away. Same errors as protect() and open().
void protectStream(int inputFd, int outputFd, const QByteArray& keyData, const Cancellation* cancel = nullptr);
void openStream(int inputFd, int outputFd, const QByteArray& keyData, const Cancellation* cancel = nullptr);

} // namespace LocalFileProtectionService
