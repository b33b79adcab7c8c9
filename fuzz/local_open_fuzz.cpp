// Opens bytes as a local protected file, through a path (the parallel reader) and through a
// descriptor (the streaming reader). Both must agree, and a failure must be one of the service's
// own errors with nothing left at the output path.
// An input that starts with the format's magic is the file itself. Any other input is a recipe
// of records, sealed here under the right key so that the readers get past the cipher: units of
// control byte | length byte | plain text. Control bit 0 marks the record final; bits 1-3 spoil
// it (wrong index, wrong flag in the sealed data, box cut short). The file must open exactly
// when no record is spoiled and only the last one is final, giving the concatenated texts.
#include "core/LocalFileProtectionService.h"
#include "core/local/GcmCipher.h"
#include "core/local/LocalFormat.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <optional>
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

struct Recipe {
    QByteArray file;
    QByteArray plain;
    bool valid = true;
};

Recipe cook(const std::uint8_t* data, std::size_t size, const QByteArray& key)
{
    using namespace LocalFormat;
    GcmCipher cipher(GcmCipher::Direction::seal, reinterpret_cast<const std::uint8_t*>(key.constData()));
    Recipe recipe;
    recipe.file = QByteArray(reinterpret_cast<const char*>(header.data()), qsizetype(header.size()));
    std::uint64_t index = 0;
    bool finalSeen = false;
    for (std::size_t at = 0; at + 2 <= size; ++index) {
        const std::uint8_t control = data[at];
        const std::size_t length = std::min<std::size_t>(data[at + 1], size - at - 2);
        const bool isFinal = control & 1;
        QByteArray record(qsizetype(recordPrefixSize + nonceSize + length + tagSize), char(control));
        auto* bytes = reinterpret_cast<std::uint8_t*>(record.data());
        bytes[0] = isFinal ? flagFinal : flagMore;
        encodeUInt32(std::uint32_t(nonceSize + length + tagSize), bytes + 1);
        std::copy(data + at + 2, data + at + 2 + length, bytes + textOffset);
        const auto aad = authenticatedData(index + ((control & 2) ? 1 : 0), isFinal != bool(control & 4));
        if (!cipher.seal(bytes + nonceOffset, aad.data(), aad.size(), bytes + textOffset, length,
                         bytes + textOffset + length))
            std::abort();
        if (control & 8)
            record.chop(1);
        recipe.valid = recipe.valid && !finalSeen && !(control & 0xE);
        finalSeen = finalSeen || isFinal;
        recipe.file += record;
        recipe.plain += QByteArray(reinterpret_cast<const char*>(data + at + 2), qsizetype(length));
        at += 2 + length;
    }
    recipe.valid = recipe.valid && finalSeen;
    return recipe;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/korvo-fuzz-XXXXXX"));
    static const QByteArray key = seedKey();
    const QString input = folder.filePath(QStringLiteral("input.korvo"));
    const QString output = folder.filePath(QStringLiteral("output"));
    std::optional<Recipe> recipe;
    if (size == 0 || data[0] != 'K') {
        recipe = cook(data, size, key);
        data = reinterpret_cast<const std::uint8_t*>(recipe->file.constData());
        size = std::size_t(recipe->file.size());
    }
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
    if (recipe && (byPath.opened != recipe->valid || (byPath.opened && byPath.plain != recipe->plain)))
        std::abort(); // a sound file refused, a spoiled one opened, or the wrong text
    return 0;
}
