#include "core/LocalFileProtectionService.h"

#include "core/local/FileIo.h"
#include "core/local/GcmCipher.h"
#include "core/local/LocalFormat.h"
#include "core/local/RecordPipeline.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>

namespace {

constexpr const char* invalidFileMessage = "This file was not protected on this Mac, or it has been changed.";
constexpr const char* unreadableFileMessage = "The selected file could not be read.";
constexpr const char* writeFailedMessage = "The protected file could not be saved.";

QString messageFor(LocalFileProtectionError::Kind kind)
{
    switch (kind) {
    case LocalFileProtectionError::Kind::invalidFile:
        return QString::fromUtf8(invalidFileMessage);
    case LocalFileProtectionError::Kind::unreadableFile:
        return QString::fromUtf8(unreadableFileMessage);
    case LocalFileProtectionError::Kind::writeFailed:
        break;
    }
    return QString::fromUtf8(writeFailedMessage);
}

} // namespace

LocalFileProtectionError::LocalFileProtectionError(Kind kind) : KorvoError(messageFor(kind)), m_kind(kind) {}

namespace LocalFileProtectionService {
namespace {

using Error = LocalFileProtectionError;
using namespace LocalFormat;

// Sums what the writer has finished and reports it.
class ProgressReport {
public:
    ProgressReport(const Progress& progress, qint64 total) : m_progress(progress), m_total(total) {}
    void add(std::span<RecordBuffer* const> batch)
    {
        for (const RecordBuffer* record : batch)
            m_done += record->inputBytes;
        if (m_progress)
            m_progress(m_done, std::max(m_total, m_done));
    }

private:
    const Progress& m_progress;
    qint64 m_total;
    qint64 m_done = 0;
};

// Writes the output parts of a batch of records with one call, after an optional lead-in.
void writeRecords(int fd, std::span<RecordBuffer* const> batch, const std::uint8_t* leadIn,
                  std::size_t leadInSize, Error::Kind failure)
{
    struct iovec vectors[RecordPipeline::maxWriteBatch + 1];
    int count = 0;
    if (leadInSize > 0)
        vectors[count++] = {const_cast<std::uint8_t*>(leadIn), leadInSize};
    for (const RecordBuffer* record : batch) {
        if (record->outputLength > 0)
            vectors[count++] = {record->bytes() + record->outputOffset, record->outputLength};
    }
    if (!writeAll(fd, vectors, count))
        throw Error(failure);
}

std::unique_ptr<GcmCipher> makeCipher(GcmCipher::Direction direction, const QByteArray& keyData,
                                      Error::Kind failure)
{
    if (keyData.size() != static_cast<qsizetype>(GcmCipher::keySize))
        throw Error(failure);
    try {
        return std::make_unique<GcmCipher>(direction, reinterpret_cast<const std::uint8_t*>(keyData.constData()));
    } catch (const std::runtime_error&) {
        throw Error(failure);
    }
}

// Runs the stages; running out of memory or threads fails the operation like any other fault.
void runPipeline(Error::Kind failure, const RecordPipeline::Reader& reader, const RecordPipeline::Transform& transform,
                 const RecordPipeline::Writer& writer)
{
    try {
        RecordPipeline pipeline;
        pipeline.run(reader, transform, writer);
    } catch (const std::bad_alloc&) {
        throw Error(failure);
    } catch (const std::system_error&) {
        throw Error(failure);
    }
}

// Reads the input in whole chunks. A chunk is the last one when the input ends inside it, or,
// for a full chunk, when nothing follows it.
void readPlainChunks(RecordPipeline& pipeline, int fd)
{
    // Every record but the last holds a whole chunk, so where each one starts in the output
    // is known before it is read.
    auto fill = [fd](RecordBuffer* record, std::uint64_t index) {
        const std::uint64_t outputOffset = headerSize + index * (recordPrefixSize + chunkSize + boxOverhead);
        record->shift = outputOffset % RecordBuffer::alignment;
        const auto count = readFully(fd, record->bytes() + textOffset, chunkSize);
        if (!count)
            throw Error::writeFailed();
        record->textLength = *count;
        record->inputBytes = static_cast<qint64>(*count);
    };
    RecordBuffer* current = pipeline.acquire();
    if (!current)
        return;
    fill(current, 0);
    for (std::uint64_t index = 0;; ++index) {
        current->index = index;
        if (current->textLength < chunkSize) {
            current->isFinal = true;
            pipeline.deliver(current);
            return;
        }
        RecordBuffer* next = pipeline.acquire();
        if (!next)
            return;
        fill(next, index + 1);
        current->isFinal = next->textLength == 0;
        pipeline.deliver(current);
        if (next->textLength == 0) {
            pipeline.release(next);
            return;
        }
        current = next;
    }
}

void sealRecord(GcmCipher& cipher, RecordBuffer& record)
{
    std::uint8_t* bytes = record.bytes();
    const std::size_t sealedLength = record.textLength + boxOverhead;
    if (sealedLength > maxSealedLength || !randomBytes(bytes + nonceOffset, nonceSize))
        throw Error::writeFailed();
    const AuthenticatedData aad = authenticatedData(record.index, record.isFinal);
    if (!cipher.seal(bytes + nonceOffset, aad.data(), aad.size(), bytes + textOffset, record.textLength,
                     bytes + textOffset + record.textLength))
        throw Error::writeFailed();
    bytes[0] = record.isFinal ? flagFinal : flagMore;
    encodeUInt32(static_cast<std::uint32_t>(sealedLength), bytes + 1);
    record.outputOffset = 0;
    record.outputLength = recordPrefixSize + sealedLength;
}

// Reads whole records, checking their framing; the cipher checks their contents.
void readSealedRecords(RecordPipeline& pipeline, int fd)
{
    for (std::uint64_t index = 0;; ++index) {
        RecordBuffer* record = pipeline.acquire();
        if (!record)
            return;
        record->shift = RecordBuffer::alignment - textOffset % RecordBuffer::alignment;
        std::uint8_t* bytes = record->bytes();
        const auto prefix = readFully(fd, bytes, recordPrefixSize);
        if (!prefix || *prefix < recordPrefixSize || bytes[0] > flagFinal)
            throw Error::invalidFile();
        const std::uint32_t sealedLength = decodeUInt32(bytes + 1);
        if (sealedLength == 0 || sealedLength > maxSealedLength)
            throw Error::invalidFile();
        const auto body = readFully(fd, bytes + recordPrefixSize, sealedLength);
        if (!body || *body < sealedLength)
            throw Error::invalidFile();
        record->index = index;
        record->isFinal = bytes[0] == flagFinal;
        record->textLength = sealedLength; // the whole box until the cipher has looked at it
        record->inputBytes = static_cast<qint64>(recordPrefixSize + sealedLength + (index == 0 ? headerSize : 0));
        pipeline.deliver(record);
        if (record->isFinal) {
            std::uint8_t extra = 0;
            const auto trailing = readFully(fd, &extra, 1);
            if (!trailing || *trailing != 0)
                throw Error::invalidFile();
            return;
        }
    }
}

void openRecord(GcmCipher& cipher, RecordBuffer& record)
{
    const std::size_t sealedLength = record.textLength;
    if (sealedLength < boxOverhead)
        throw Error::invalidFile();
    std::uint8_t* bytes = record.bytes();
    const std::size_t plainLength = sealedLength - boxOverhead;
    const AuthenticatedData aad = authenticatedData(record.index, record.isFinal);
    if (!cipher.open(bytes + nonceOffset, aad.data(), aad.size(), bytes + textOffset, plainLength,
                     bytes + textOffset + plainLength))
        throw Error::invalidFile();
    record.textLength = plainLength;
    record.outputOffset = textOffset;
    record.outputLength = plainLength;
}

} // namespace

void protect(const QString& inputPath, const QString& outputPath, const QByteArray& keyData,
             const Progress& progress)
{
    FileHandle input = openForReading(inputPath);
    if (!input.isOpen())
        throw Error::unreadableFile();
    ReplacingOutputFile output(outputPath);
    if (!output.isOpen())
        throw Error::writeFailed();
    const auto cipher = makeCipher(GcmCipher::Direction::seal, keyData, Error::Kind::writeFailed);

    ProgressReport report(progress, sizeOf(input));
    bool headerWritten = false;
    runPipeline(Error::Kind::writeFailed, [&](RecordPipeline& p) { readPlainChunks(p, input.fd()); },
                 [&](RecordBuffer& record) { sealRecord(*cipher, record); },
                 [&](std::span<RecordBuffer* const> batch) {
                     writeRecords(output.fd(), batch, header.data(), headerWritten ? 0 : header.size(),
                                  Error::Kind::writeFailed);
                     headerWritten = true;
                     report.add(batch);
                 });
    if (!output.commit())
        throw Error::writeFailed();
}

void open(const QString& inputPath, const QString& outputPath, const QByteArray& keyData,
          const Progress& progress)
{
    FileHandle input = openForReading(inputPath);
    if (!input.isOpen())
        throw Error::unreadableFile();
    Header found{};
    const auto headerRead = readFully(input.fd(), found.data(), found.size());
    if (!headerRead)
        throw Error::unreadableFile();
    if (*headerRead != found.size() || found != header)
        throw Error::invalidFile();
    ReplacingOutputFile output(outputPath);
    if (!output.isOpen())
        throw Error::writeFailed();
    const auto cipher = makeCipher(GcmCipher::Direction::open, keyData, Error::Kind::invalidFile);

    ProgressReport report(progress, sizeOf(input));
    runPipeline(Error::Kind::invalidFile, [&](RecordPipeline& p) { readSealedRecords(p, input.fd()); },
                 [&](RecordBuffer& record) { openRecord(*cipher, record); },
                 [&](std::span<RecordBuffer* const> batch) {
                     // A failing output (a full disk) is reported as such, not as a damaged input.
                     writeRecords(output.fd(), batch, nullptr, 0, Error::Kind::writeFailed);
                     report.add(batch);
                 });
    if (!output.commit())
        throw Error::writeFailed();
}

} // namespace LocalFileProtectionService
