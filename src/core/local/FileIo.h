#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <sys/types.h>

// Small POSIX file helpers for the streaming engine. Nothing here throws; callers decide which
// error a failure becomes.

// An owned file descriptor, closed when it goes.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : m_fd(fd) {}
    ~FileHandle() { reset(); }
    FileHandle(FileHandle&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int fd() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    // Closes now; false when close reported an error (an unwritten buffer, a full device).
    bool close();
    void reset();

private:
    int m_fd = -1;
};

// Opens a regular file for reading. Returns no handle when it cannot be opened or is not a
// regular file (a folder, a device, a pipe).
FileHandle openForReading(const QString& path);

// The folder that holds `path` (native bytes), held open so that a file in it can be created or
// removed by name even after the folder is moved away. No handle when it cannot be opened.
FileHandle openParentFolder(const QByteArray& path);

// Size of what the handle refers to, or 0 when unknown.
qint64 sizeOf(const FileHandle& file);

// Reads at offset until count bytes are there or the file ends; the number read, or nullopt on
// a read error.
std::optional<std::size_t> readFullyAt(int fd, std::uint8_t* buffer, std::size_t count, std::uint64_t offset);

// Writes every byte at offset, resuming after partial writes. False on a write error, with errno
// telling why.
bool writeAllAt(int fd, const std::uint8_t* buffer, std::size_t count, std::uint64_t offset);

// Renames `from` over `to` (native paths) and flushes the folder that holds `to`. False when
// the rename fails.
bool renameDurably(const QByteArray& from, const QByteArray& to);

// Renames a name in one folder to a name in another (folder descriptors), failing with EEXIST
// instead of replacing a file already there, also when another process puts one there at the
// same moment. Where the file system cannot rename that way, the file is linked under the new
// name and the old name removed.
bool renameWithoutReplacing(int fromFolder, const char* fromName, int toFolder, const char* toName);

// The same for descriptors read and written in order (pipes, terminals).
std::optional<std::size_t> readFully(int fd, std::uint8_t* buffer, std::size_t count);
bool writeAll(int fd, const std::uint8_t* buffer, std::size_t count);

// A fresh hidden name in the folder of finalPath, for writing a file that is renamed into place.
// Empty when no random name could be made.
QString temporarySiblingPath(const QString& finalPath);

// A file written in the folder of its final path and given that path only by commit(). Until
// then it has no name at all where the file system allows (so not even a killed process leaves
// it behind), else a temporary hidden name beside the final path. Nothing at the final path
// changes before commit() (nor when it fails); a file that is never committed is removed.
class ReplacingOutputFile {
public:
    // With `replaceExisting` false, commit() fails (EEXIST) when the final path is taken by then.
    explicit ReplacingOutputFile(const QString& finalPath, bool replaceExisting = true);
    ~ReplacingOutputFile();
    ReplacingOutputFile(const ReplacingOutputFile&) = delete;
    ReplacingOutputFile& operator=(const ReplacingOutputFile&) = delete;

    // False when the file could not be created (errno tells why).
    bool isOpen() const { return m_file.isOpen(); }
    int fd() const { return m_file.fd(); }
    // A path that opens the file as it is being written, for reading it back.
    QString readablePath() const;
    // Starts writing a finished range to the device now, so that commit() has little left to wait
    // for. Never waits itself; a hint that may be ignored.
    void startWriteBack(std::uint64_t offset, std::uint64_t length) const;
    // Flushes the file to the device, puts it at the final path and flushes the folder, so that
    // after a power cut the final path holds either the old file or the whole new one.
    // False on failure (the file is removed; errno tells why).
    bool commit();

private:
    void discard();
    bool linkInPlace();
    QByteArray temporaryName() const;

    QByteArray m_finalPath;
    QByteArray m_temporaryPath;   // empty while the file has no name
    bool m_replaceExisting;
    FileHandle m_folder;   // where the file was made, wherever that folder goes
    FileHandle m_file;
};
