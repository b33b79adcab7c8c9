#pragma once

// Helpers shared by the local file protection tests: files in a temporary folder, deterministic
// contents, a record parser of the test's own, and the exact sentences of each failure.

#include "core/LocalFileProtectionService.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace lfp {

inline constexpr qsizetype chunk = 1'048'576;
inline const char* const invalidSentence = "This file was not protected on this Mac, or it has been changed.";
inline const char* const unreadableSentence = "The selected file could not be read.";
inline const char* const writeFailedSentence = "The protected file could not be saved.";

inline QByteArray testKey(char seed = 7)
{
    QByteArray key(32, '\0');
    for (int i = 0; i < key.size(); ++i)
        key[i] = static_cast<char>(seed * 31 + i * 17);
    return key;
}

// Bytes that differ from one position to the next and never repeat with a 1 MiB period.
inline QByteArray pattern(qsizetype size, quint32 seed = 1)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = seed * 2654435761u + 1;
    for (qsizetype i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline quint32 bigEndian32(const QByteArray& bytes, qsizetype at)
{
    quint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<quint8>(bytes[at + i]);
    return value;
}

// A record as found in a protected file, parsed without the engine.
struct Record {
    quint8 flag;
    qsizetype offset; // of the flag byte
    quint32 sealedLength;
    qsizetype end() const { return offset + 5 + sealedLength; }
};

inline std::vector<Record> parseRecords(const QByteArray& file)
{
    std::vector<Record> records;
    qsizetype at = 11;
    while (at + 5 <= file.size()) {
        const Record record{static_cast<quint8>(file[at]), at, bigEndian32(file, at + 1)};
        records.push_back(record);
        at = record.end();
    }
    return records;
}

inline QByteArray recordBytes(const QByteArray& file, const Record& record)
{
    return file.mid(record.offset, record.end() - record.offset);
}

// Fails the test unless call throws the given kind with its exact sentence.
inline void expectError(LocalFileProtectionError::Kind kind, const char* sentence, const std::function<void()>& call)
{
    try {
        call();
        ADD_FAILURE() << "no error was thrown";
    } catch (const LocalFileProtectionError& error) {
        EXPECT_EQ(error.kind(), kind);
        EXPECT_EQ(error.message().toStdString(), sentence);
    }
}

// Names in a folder, hidden ones included: temporary files must never be left behind.
inline QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

class LocalFileProtectionTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString folder() const { return m_dir.path(); }

    // Seals bytes and returns the protected file's contents.
    QByteArray seal(const QByteArray& plain, const QByteArray& key = testKey())
    {
        writeFile(path("plain.in"), plain);
        LocalFileProtectionService::protect(path("plain.in"), path("sealed.korvolocal"), key);
        return readFile(path("sealed.korvolocal"));
    }

    QTemporaryDir m_dir;
};

} // namespace lfp
