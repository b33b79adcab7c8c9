// Opens arbitrary bytes as a local protected file, through a path (the parallel reader) and
// through a descriptor (the streaming reader). Both must agree, and a failure must be one of
// the service's own errors with nothing left at the output path.
#include "core/LocalFileProtectionService.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The key the committed seeds were sealed with: bytes 0, 1, ..., 31.
QByteArray seedKey()
{
    QByteArray key(32, '\0');
    for (int i = 0; i < key.size(); ++i)
        key[i] = char(i);
    return key;
}

struct Outcome {
    bool opened = false;
    LocalFileProtectionError::Kind failure{};
    QByteArray plain;
};

Outcome openPath(const QString& input, const QString& output, const QByteArray& key)
{
    Outcome outcome;
    try {
        LocalFileProtectionService::open(input, output, key);
        QFile file(output);
        if (!file.open(QIODevice::ReadOnly))
            std::abort();
        outcome.opened = true;
        outcome.plain = file.readAll();
        QFile::remove(output);
    } catch (const LocalFileProtectionError& error) {
        outcome.failure = error.kind();
        if (QFile::exists(output))
            std::abort(); // a failed open left an output behind
    }
    return outcome;
}

Outcome openDescriptor(const std::uint8_t* data, std::size_t size, const QByteArray& key)
{
    const int input = memfd_create("sealed", 0);
    const int output = memfd_create("plain", 0);
    if (input < 0 || output < 0 || write(input, data, size) != ssize_t(size) || lseek(input, 0, SEEK_SET) != 0)
        std::abort();
    Outcome outcome;
    try {
        LocalFileProtectionService::openStream(input, output, key);
        outcome.opened = true;
        const off_t length = lseek(output, 0, SEEK_END);
        outcome.plain.resize(qsizetype(length));
        if (pread(output, outcome.plain.data(), size_t(length), 0) != length)
            std::abort();
    } catch (const LocalFileProtectionError& error) {
        outcome.failure = error.kind();
    }
    close(input);
    close(output);
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/korvo-fuzz-XXXXXX"));
    static const QByteArray key = seedKey();
    const QString input = folder.filePath(QStringLiteral("input.korvo"));
    const QString output = folder.filePath(QStringLiteral("output"));
    {
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
            std::abort();
    }
    const Outcome byPath = openPath(input, output, key);
    const Outcome byDescriptor = openDescriptor(data, size, key);
    if (byPath.opened != byDescriptor.opened || byPath.plain != byDescriptor.plain)
        std::abort(); // the two readers disagree about the same bytes
    if (!byPath.opened && byPath.failure != LocalFileProtectionError::Kind::invalidFile)
        std::abort(); // a readable input can only be invalid
    return 0;
}
