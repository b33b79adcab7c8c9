#pragma once

#include "core/KorvoError.h"

#include <QByteArray>
#include <QString>
#include <functional>

class Cancellation;
class KeychainStore;

class LocalFileProtectionError : public KorvoError {
public:
    // noKey: the keyring holds no local key to open with (opening never makes one).
    enum class Kind { invalidFile, unreadableFile, writeFailed, noKey };
    // What an invalid file turned out to be, for callers that word the cases apart.
    enum class Found { protectedFile, otherFile, accountFile };

    explicit LocalFileProtectionError(Kind kind, int errorNumber = 0, Found found = Found::protectedFile);

    // A file of this format that does not open under the key (another key, or changed), or, by
    // its first bytes, no protected file at all or one locked for an account.
    static LocalFileProtectionError invalidFile(Found found = Found::protectedFile)
    {
        return LocalFileProtectionError(Kind::invalidFile, 0, found);
    }
    static LocalFileProtectionError unreadableFile() { return LocalFileProtectionError(Kind::unreadableFile); }
    static LocalFileProtectionError writeFailed(int errorNumber = 0)
    {
        return LocalFileProtectionError(Kind::writeFailed, errorNumber);
    }
    static LocalFileProtectionError noKey() { return LocalFileProtectionError(Kind::noKey); }

    Kind kind() const { return m_kind; }
    // The system's reason (an errno value) behind a failed write, when known; else 0.
    int errorNumber() const { return m_errorNumber; }
    Found found() const { return m_found; }

private:
    Kind m_kind;
    int m_errorNumber;
    Found m_found;
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
// decoding before it got here gives UnrepresentableNameError (see NativePath.h). With
// `replaceExisting` false, a file that is at the output path when the result is ready (put there
// by anyone, at any moment) is kept and the call fails with writeFailed(EEXIST).

// Throws LocalFileProtectionError: unreadableFile when the input cannot be opened or is not a
// regular file, writeFailed for everything after that.
void protect(const QString& inputPath, const QString& outputPath, const QByteArray& keyData,
             const Progress& progress = {}, const Cancellation* cancel = nullptr, bool replaceExisting = true);

// Throws LocalFileProtectionError: unreadableFile when the input cannot be opened, is not a
// regular file or its header cannot be read,
// invalidFile when it is not a file sealed under this key or has been changed in any way,
// writeFailed when the output cannot be created or written.
void open(const QString& inputPath, const QString& outputPath, const QByteArray& keyData,
          const Progress& progress = {}, const Cancellation* cancel = nullptr, bool replaceExisting = true);

// The local key from the keychain: for sealing, made on first use; for opening, never made
// (noKey when there is none: nothing could open here). Throws the keychain's errors.
QByteArray localKey(const KeychainStore& keychain, bool sealing);

// Throws invalidFile, telling what the file is instead, unless `firstBytes` (the first bytes of a
// file, as many as it has up to the header's 11) begin a file of this format. Needs no key.
void checkHeader(const QByteArray& firstBytes);

// The same format through descriptors that need not be files (pipes, a terminal): records are
// read and written in order, one at a time, and nothing is written anywhere else. Opening a
// stream writes the plain text of each record as soon as it authenticates, so after a failure
// whatever was already written must be thrown away. Same errors as protect() and open().
void protectStream(int inputFd, int outputFd, const QByteArray& keyData, const Cancellation* cancel = nullptr);
void openStream(int inputFd, int outputFd, const QByteArray& keyData, const Cancellation* cancel = nullptr);

} // namespace LocalFileProtectionService
