#include "core/LocalFileProtectionService.h"
#include "core/KeychainStore.h"
#include "core/PlatformWording.h"

#include "core/Cancellation.h"
#include "core/local/FileIo.h"
#include "core/local/GcmCipher.h"
#include "core/local/LocalFormat.h"
#include "core/NativePath.h"
#include "core/local/WorkerGroup.h"

#include <algorithm>
#include <cstring>
#include <cerrno>
#include <atomic>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace {

constexpr const char* invalidFileMessage = "This file was not protected on this Mac, or it has been changed.";
constexpr const char* unreadableFileMessage = "The selected file could not be read.";
constexpr const char* writeFailedMessage = "The protected file could not be saved.";
constexpr const char* noKeyMessage = "This keyring holds no Korvo key, so files locked on another computer or by "
                                     "another user cannot be opened here.";

QString messageFor(LocalFileProtectionError::Kind kind)
{
    switch (kind) {
    case LocalFileProtectionError::Kind::invalidFile:
        return platformText(QString::fromUtf8(invalidFileMessage));
    case LocalFileProtectionError::Kind::unreadableFile:
        return QString::fromUtf8(unreadableFileMessage);
    case LocalFileProtectionError::Kind::noKey:
        return QString::fromUtf8(noKeyMessage);
    case LocalFileProtectionError::Kind::writeFailed:
        break;
    }
    return QString::fromUtf8(writeFailedMessage);
}

} // namespace

LocalFileProtectionError::LocalFileProtectionError(Kind kind, int errorNumber, Found found)
    : KorvoError(messageFor(kind)), m_kind(kind), m_errorNumber(errorNumber), m_found(found)
{
}

namespace LocalFileProtectionService {
namespace {

using Error = LocalFileProtectionError;
using namespace LocalFormat;

// One record in a buffer: shifted so that the bytes copied to or from the page cache in bulk
// sit within a cache line as they sit in the file, which keeps the kernel's copies fast.
constexpr std::size_t bufferSize = AlignedBuffer::alignment + recordPrefixSize + maxSealedLength;
constexpr std::uint64_t fullRecordSize = recordPrefixSize + chunkSize + boxOverhead;

// Counts finished input bytes across workers; worker 0 (the calling thread) reports them.
class ProgressReport {
public:
    ProgressReport(const Progress& progress, qint64 total) : m_progress(progress), m_total(total) {}
    void add(qint64 bytes, int worker)
    {
        const qint64 done = m_done.fetch_add(bytes) + bytes;
        if (worker == 0)
            report(done);
    }
    void finish() { report(m_done.load()); }

private:
    void report(qint64 done)
    {
        if (m_progress)
            m_progress(done, std::max(m_total, done));
    }
    const Progress& m_progress;
    qint64 m_total;
    std::atomic<qint64> m_done{0};
};

// Fails unless the first bytes read are this format's header, telling what they are instead.
void checkFound(const Header& found, std::size_t length)
{
    if (length == found.size() && found == header)
        return;
    const auto startsWith = [&](const void* bytes, std::size_t size) {
        return length >= size && std::memcmp(found.data(), bytes, size) == 0;
    };
    static constexpr char accountMagic[] = "KORVOACCT";   // the account mode's files
    using Found = Error::Found;
    // A file cut inside the magic is one of ours cut short.
    if (startsWith(magic.data(), std::clamp<std::size_t>(length, 1, magic.size())))
        throw Error::invalidFile(Found::protectedFile);
    throw Error::invalidFile(startsWith(accountMagic, sizeof accountMagic - 1) ? Found::accountFile : Found::otherFile);
}

void throwIfCancelled(const Cancellation* cancel)
{
    if (cancel)
        cancel->throwIfRequested();
}

std::unique_ptr<GcmCipher> makeCipher(GcmCipher::Direction direction, const QByteArray& keyData, Error::Kind failure)
{
    if (keyData.size() != static_cast<qsizetype>(GcmCipher::keySize))
        throw Error(failure);
    try {
        return std::make_unique<GcmCipher>(direction, reinterpret_cast<const std::uint8_t*>(keyData.constData()));
    } catch (const std::runtime_error&) {
        throw Error(failure);
    }
}

// Runs the workers; running out of memory or threads fails the operation like any other fault.
void runWorkers(Error::Kind failure, const std::function<void(WorkerGroup&, int)>& work)
{
    try {
        WorkerGroup group;
        group.run(WorkerGroup::defaultSize(), [&](int worker) { work(group, worker); });
    } catch (const std::bad_alloc&) {
        throw Error(failure);
    } catch (const std::system_error&) {
        throw Error(failure);
    }
}

// Which chunks of the input become records. Every record but the last holds a whole chunk, so
// chunk i is sealed at a known place in the output; the last record is the first chunk that is
// short, or the full chunk after which the input ends. Should the input change while it is
// read, the records must still form one unbroken run, or sealing fails.
class SealingPlan {
public:
    std::optional<std::uint64_t> claim()
    {
        std::lock_guard lock(m_mutex);
        if (m_final && m_next > *m_final)
            return std::nullopt;
        return m_next++;
    }
    void markFinal(std::uint64_t index, std::uint64_t outputEnd)
    {
        std::lock_guard lock(m_mutex);
        if (!m_final || index < *m_final) {
            m_final = index;
            m_outputEnd = outputEnd;
        }
    }
    void markMissing(std::uint64_t index)
    {
        std::lock_guard lock(m_mutex);
        m_firstMissing = std::min(m_firstMissing.value_or(index), index);
    }
    // The output's size once every worker is done, or nullopt when the records do not add up.
    std::optional<std::uint64_t> outputEnd() const
    {
        if (!m_final || (m_firstMissing && *m_firstMissing <= *m_final))
            return std::nullopt;
        return m_outputEnd;
    }

private:
    std::mutex m_mutex;
    std::uint64_t m_next = 0;
    std::optional<std::uint64_t> m_final;
    std::optional<std::uint64_t> m_firstMissing;
    std::uint64_t m_outputEnd = 0;
};

void sealChunks(WorkerGroup& group, int worker, SealingPlan& plan, int input, const ReplacingOutputFile& output,
                const QByteArray& keyData, ProgressReport& report, const Cancellation* cancel)
{
    const auto cipher = makeCipher(GcmCipher::Direction::seal, keyData, Error::Kind::writeFailed);
    AlignedBuffer buffer(bufferSize);
    while (!group.stopped()) {
        throwIfCancelled(cancel);
        const auto index = plan.claim();
        if (!index)
            return;
        const std::uint64_t outputOffset = headerSize + *index * fullRecordSize;
        std::uint8_t* record = buffer.data() + outputOffset % AlignedBuffer::alignment;
        std::uint8_t* text = record + textOffset;
        const auto length = readFullyAt(input, text, chunkSize, *index * chunkSize);
        if (!length)
            throw Error::writeFailed();
        if (*length == 0 && *index > 0) {
            plan.markMissing(*index); // past the end: an earlier chunk is the last one
            return;
        }
        bool isFinal = *length < chunkSize;
        if (!isFinal) {
            std::uint8_t next = 0;
            const auto more = readFullyAt(input, &next, 1, (*index + 1) * chunkSize);
            if (!more)
                throw Error::writeFailed(errno);
            isFinal = *more == 0;
        }

        const std::size_t sealedLength = *length + boxOverhead;
        if (!sealRecord(*cipher, record, *length, *index, isFinal))
            throw Error::writeFailed();
        if (!writeAllAt(output.fd(), record, recordPrefixSize + sealedLength, outputOffset))
            throw Error::writeFailed(errno);
        output.startWriteBack(outputOffset, recordPrefixSize + sealedLength);
        if (isFinal)
            plan.markFinal(*index, outputOffset + recordPrefixSize + sealedLength);
        report.add(static_cast<qint64>(*length), worker);
    }
}

// The sealed length a record prefix announces, once `bytesRead` of it were read; a prefix cut
// short (the file ended before a record marked last), a bad flag or a length out of range make
// the file invalid.
std::uint32_t checkedSealedLength(const std::uint8_t* prefix, std::optional<std::size_t> bytesRead)
{
    if (!bytesRead || *bytesRead < recordPrefixSize || prefix[0] > flagFinal)
        throw Error::invalidFile();
    const std::uint32_t sealedLength = decodeUInt32(prefix + 1);
    if (sealedLength < boxOverhead || sealedLength > maxSealedLength)
        throw Error::invalidFile();
    return sealedLength;
}

// Walks the record prefixes in order and hands out one record at a time; the framing is
// checked here, the contents by the worker that opens the record.
class OpeningPlan {
public:
    struct Job {
        std::uint64_t index;
        bool isFinal;
        std::uint32_t sealedLength;
        std::uint64_t inputOffset;  // of the sealed box
        std::uint64_t outputOffset; // of its plain text
    };

    explicit OpeningPlan(int input) : m_input(input) {}

    std::optional<Job> claim()
    {
        std::lock_guard lock(m_mutex);
        if (m_finished)
            return std::nullopt;
        std::uint8_t prefix[recordPrefixSize];
        const std::uint32_t sealedLength = checkedSealedLength(prefix, readFullyAt(m_input, prefix, sizeof prefix, m_scan));
        const Job job{m_index++, prefix[0] == flagFinal, sealedLength, m_scan + recordPrefixSize, m_output};
        m_scan += recordPrefixSize + sealedLength;
        m_output += sealedLength - boxOverhead;
        if (job.isFinal) {
            m_finished = true;
            std::uint8_t extra = 0;
            const auto trailing = readFullyAt(m_input, &extra, 1, m_scan);
            if (!trailing || *trailing != 0)
                throw Error::invalidFile();
        }
        return job;
    }

private:
    std::mutex m_mutex;
    int m_input;
    bool m_finished = false;
    std::uint64_t m_index = 0;
    std::uint64_t m_scan = headerSize;
    std::uint64_t m_output = 0;
};

void openRecords(WorkerGroup& group, int worker, OpeningPlan& plan, int input, const ReplacingOutputFile& output,
                 const QByteArray& keyData, ProgressReport& report, const Cancellation* cancel)
{
    const auto cipher = makeCipher(GcmCipher::Direction::open, keyData, Error::Kind::invalidFile);
    AlignedBuffer buffer(bufferSize);
    // The plain text starts on a cache-line boundary, as it does in the output.
    std::uint8_t* box = buffer.data() + AlignedBuffer::alignment - nonceSize;
    while (!group.stopped()) {
        throwIfCancelled(cancel);
        const auto job = plan.claim();
        if (!job)
            return;
        const auto length = readFullyAt(input, box, job->sealedLength, job->inputOffset);
        if (!length || *length < job->sealedLength)
            throw Error::invalidFile();
        const std::size_t plainLength = job->sealedLength - boxOverhead;
        std::uint8_t* text = box + nonceSize;
        if (!openBox(*cipher, box, job->sealedLength, job->index, job->isFinal))
            throw Error::invalidFile();
        // A failing output (a full disk) is reported as such, not as a damaged input.
        if (!writeAllAt(output.fd(), text, plainLength, job->outputOffset))
            throw Error::writeFailed(errno);
        output.startWriteBack(job->outputOffset, plainLength);
        report.add(static_cast<qint64>(recordPrefixSize + job->sealedLength + (job->index == 0 ? headerSize : 0)),
                   worker);
    }
}

} // namespace

void protect(const QString& inputPath, const QString& outputPath, const QByteArray& keyData,
             const Progress& progress, const Cancellation* cancel, bool replaceExisting)
{
    FileHandle input = openForReading(inputPath);
    if (!input.isOpen()) {
        UnrepresentableNameError::throwIfChanged(inputPath);
        throw Error::unreadableFile();
    }
    ReplacingOutputFile output(outputPath, replaceExisting);
    if (!output.isOpen())
        throw Error::writeFailed(errno);
    makeCipher(GcmCipher::Direction::seal, keyData, Error::Kind::writeFailed); // fails early on a bad key
    if (!writeAllAt(output.fd(), header.data(), header.size(), 0))
        throw Error::writeFailed(errno);

    ProgressReport report(progress, sizeOf(input));
    SealingPlan plan;
    runWorkers(Error::Kind::writeFailed, [&](WorkerGroup& group, int worker) {
        sealChunks(group, worker, plan, input.fd(), output, keyData, report, cancel);
    });
    // Records sealed past the last one (an input that grew while it was read) are cut off.
    const auto end = plan.outputEnd();
    if (!end || ::ftruncate(output.fd(), static_cast<off_t>(*end)) != 0)
        throw Error::writeFailed();
    report.finish();
    throwIfCancelled(cancel);
    if (!output.commit())
        throw Error::writeFailed(errno);
}

void open(const QString& inputPath, const QString& outputPath, const QByteArray& keyData,
          const Progress& progress, const Cancellation* cancel, bool replaceExisting)
{
    FileHandle input = openForReading(inputPath);
    if (!input.isOpen()) {
        UnrepresentableNameError::throwIfChanged(inputPath);
        throw Error::unreadableFile();
    }
    Header found{};
    const auto headerRead = readFullyAt(input.fd(), found.data(), found.size(), 0);
    if (!headerRead)
        throw Error::unreadableFile();
    checkFound(found, *headerRead);
    ReplacingOutputFile output(outputPath, replaceExisting);
    if (!output.isOpen())
        throw Error::writeFailed(errno);
    makeCipher(GcmCipher::Direction::open, keyData, Error::Kind::invalidFile);

    ProgressReport report(progress, sizeOf(input));
    OpeningPlan plan(input.fd());
    runWorkers(Error::Kind::invalidFile, [&](WorkerGroup& group, int worker) {
        openRecords(group, worker, plan, input.fd(), output, keyData, report, cancel);
    });
    report.finish();
    throwIfCancelled(cancel);
    if (!output.commit())
        throw Error::writeFailed(errno);
}

} // namespace LocalFileProtectionService

namespace LocalFileProtectionService {

QByteArray localKey(const KeychainStore& keychain, bool sealing)
{
    if (sealing)
        return keychain.loadOrCreateLocalProtectionKey();
    auto key = keychain.loadLocalProtectionKey();
    if (!key)
        throw Error::noKey();
    return *key;
}

void checkHeader(const QByteArray& firstBytes)
{
    Header found{};
    const std::size_t length = std::min<std::size_t>(found.size(), static_cast<std::size_t>(firstBytes.size()));
    std::memcpy(found.data(), firstBytes.constData(), length);
    checkFound(found, length);
}

void protectStream(int inputFd, int outputFd, const QByteArray& keyData, const Cancellation* cancel)
{
    const auto cipher = makeCipher(GcmCipher::Direction::seal, keyData, Error::Kind::writeFailed);
    if (!writeAll(outputFd, header.data(), header.size()))
        throw Error::writeFailed(errno);
    // Two records in turn: the chunk after the current one tells whether the current one is last.
    const AlignedBuffer buffers[2] = {AlignedBuffer(bufferSize), AlignedBuffer(bufferSize)};
    const auto readChunk = [inputFd](std::uint8_t* record) {
        const auto length = readFully(inputFd, record + textOffset, chunkSize);
        if (!length)
            throw Error::unreadableFile();
        return *length;
    };
    std::size_t length = readChunk(buffers[0].data());
    for (std::uint64_t index = 0;; ++index) {
        throwIfCancelled(cancel);
        std::uint8_t* record = buffers[index % 2].data();
        // A short chunk ends the input; a full one is the last only when nothing follows it.
        const std::size_t next = length < chunkSize ? 0 : readChunk(buffers[(index + 1) % 2].data());
        const bool isFinal = next == 0;
        if (!sealRecord(*cipher, record, length, index, isFinal))
            throw Error::writeFailed();
        if (!writeAll(outputFd, record, recordPrefixSize + length + boxOverhead))
            throw Error::writeFailed(errno);
        if (isFinal)
            return;
        length = next;
    }
}

void openStream(int inputFd, int outputFd, const QByteArray& keyData, const Cancellation* cancel)
{
    const auto cipher = makeCipher(GcmCipher::Direction::open, keyData, Error::Kind::invalidFile);
    Header found{};
    const auto headerRead = readFully(inputFd, found.data(), found.size());
    if (!headerRead)
        throw Error::unreadableFile();
    checkFound(found, *headerRead);
    const AlignedBuffer buffer(bufferSize);
    std::uint8_t* box = buffer.data();
    for (std::uint64_t index = 0;; ++index) {
        throwIfCancelled(cancel);
        std::uint8_t prefix[recordPrefixSize];
        const std::uint32_t sealedLength = checkedSealedLength(prefix, readFully(inputFd, prefix, sizeof prefix));
        const auto boxRead = readFully(inputFd, box, sealedLength);
        const bool isFinal = prefix[0] == flagFinal;
        if (!boxRead || *boxRead < sealedLength || !openBox(*cipher, box, sealedLength, index, isFinal))
            throw Error::invalidFile();
        if (!writeAll(outputFd, box + nonceSize, sealedLength - boxOverhead))
            throw Error::writeFailed(errno);
        if (isFinal)
            break;
    }
    std::uint8_t extra = 0;
    const auto trailing = readFully(inputFd, &extra, 1);
    if (!trailing || *trailing != 0)
        throw Error::invalidFile();
}

} // namespace LocalFileProtectionService
