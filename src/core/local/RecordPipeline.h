#pragma once

#include "core/local/LocalFormat.h"

#include <QtGlobal>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

// One record travelling through the pipeline, laid out as on disk: prefix, nonce, text, tag.
struct RecordBuffer {
    static constexpr std::size_t capacity = LocalFormat::recordPrefixSize + LocalFormat::maxSealedLength;

    // The record starts at bytes(), shift bytes into 64-byte aligned storage. The kernel copies
    // data fastest when source and destination sit alike within a cache line, so the reader
    // picks the shift: when opening, the plain text lands on a line boundary (like its place
    // in the output); when sealing, the record sits as its bytes will sit in the output file.
    std::uint8_t* bytes() const { return storage.get() + shift; }

    static constexpr std::size_t alignment = 64;
    std::size_t shift = 0;
    struct AlignedDelete {
        void operator()(std::uint8_t* p) const { ::operator delete[](p, std::align_val_t(alignment)); }
    };
    std::unique_ptr<std::uint8_t[], AlignedDelete> storage;   // alignment + capacity bytes
    std::uint64_t index = 0;
    bool isFinal = false;
    std::size_t textLength = 0;   // plain or cipher text at LocalFormat::textOffset
    std::size_t outputOffset = 0; // what the writer writes: [outputOffset, outputOffset + outputLength)
    std::size_t outputLength = 0;
    qint64 inputBytes = 0;        // bytes of the input this record stands for (progress)
};

// Three stages over a small fixed ring of record buffers, so reading, the cipher and writing
// overlap while memory stays bounded: the reader runs on its own thread, the transform on a
// second, the writer on the calling thread. Records keep their order. The first exception of
// any stage stops all three and is rethrown by run().
class RecordPipeline {
public:
    static constexpr int bufferCount = 8;
    static constexpr int maxWriteBatch = 4;

    using Reader = std::function<void(RecordPipeline&)>;   // acquire(), fill, deliver(); return at the end
    using Transform = std::function<void(RecordBuffer&)>;
    using Writer = std::function<void(std::span<RecordBuffer* const>)>;

    RecordPipeline();
    ~RecordPipeline();
    RecordPipeline(const RecordPipeline&) = delete;
    RecordPipeline& operator=(const RecordPipeline&) = delete;

    void run(const Reader& reader, const Transform& transform, const Writer& writer);

    // For the reader: a free buffer (blocks), nullptr once the pipeline stops.
    RecordBuffer* acquire();
    // Hands a filled buffer on to the transform, in order.
    void deliver(RecordBuffer* buffer);
    // Gives a buffer back unused.
    void release(RecordBuffer* buffer);

private:
    RecordBuffer* take(std::deque<RecordBuffer*>& queue, const bool& producerDone);
    void put(std::deque<RecordBuffer*>& queue, RecordBuffer* buffer);
    void finish(bool& producerDone);
    void fail(std::exception_ptr error);
    void startStages(std::thread& readerThread, std::thread& transformThread, const Reader& reader,
                     const Transform& transform);
    void writeStage(const Writer& writer);

    std::vector<RecordBuffer> m_buffers;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<RecordBuffer*> m_free, m_filled, m_transformed;
    bool m_readerDone = false;
    bool m_transformDone = false;
    bool m_stopped = false;
    std::exception_ptr m_error;
};
