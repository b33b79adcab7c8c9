#include "core/local/RecordPipeline.h"

#include <thread>

RecordPipeline::RecordPipeline() : m_buffers(bufferCount)
{
    for (RecordBuffer& buffer : m_buffers)
        m_free.push_back(&buffer);
}

RecordPipeline::~RecordPipeline() = default;

RecordBuffer* RecordPipeline::acquire()
{
    static const bool neverDone = false;
    RecordBuffer* buffer = take(m_free, neverDone);
    // Allocated on first use only, so short inputs never pay for the whole ring.
    if (buffer && !buffer->storage)
        buffer->storage.reset(static_cast<std::uint8_t*>(::operator new[](
            RecordBuffer::alignment + RecordBuffer::capacity, std::align_val_t(RecordBuffer::alignment))));
    return buffer;
}

void RecordPipeline::deliver(RecordBuffer* buffer)
{
    put(m_filled, buffer);
}

void RecordPipeline::release(RecordBuffer* buffer)
{
    put(m_free, buffer);
}

RecordBuffer* RecordPipeline::take(std::deque<RecordBuffer*>& queue, const bool& producerDone)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_stopped || !queue.empty() || producerDone; });
    if (m_stopped || queue.empty())
        return nullptr;
    RecordBuffer* buffer = queue.front();
    queue.pop_front();
    return buffer;
}

void RecordPipeline::put(std::deque<RecordBuffer*>& queue, RecordBuffer* buffer)
{
    {
        std::lock_guard lock(m_mutex);
        queue.push_back(buffer);
    }
    m_changed.notify_all();
}

void RecordPipeline::finish(bool& producerDone)
{
    {
        std::lock_guard lock(m_mutex);
        producerDone = true;
    }
    m_changed.notify_all();
}

void RecordPipeline::fail(std::exception_ptr error)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_error)
            m_error = std::move(error);
        m_stopped = true;
    }
    m_changed.notify_all();
}

void RecordPipeline::run(const Reader& reader, const Transform& transform, const Writer& writer)
{
    std::thread readerThread, transformThread;
    try {
        startStages(readerThread, transformThread, reader, transform);
        writeStage(writer);
    } catch (...) {
        // Includes a thread that could not be started: the other stages stop and are joined.
        fail(std::current_exception());
    }
    if (readerThread.joinable())
        readerThread.join();
    if (transformThread.joinable())
        transformThread.join();
    if (m_error)
        std::rethrow_exception(m_error);
}

void RecordPipeline::startStages(std::thread& readerThread, std::thread& transformThread, const Reader& reader,
                                 const Transform& transform)
{
    readerThread = std::thread([&] {
        try {
            reader(*this);
            finish(m_readerDone);
        } catch (...) {
            fail(std::current_exception());
        }
    });
    transformThread = std::thread([&] {
        try {
            while (RecordBuffer* buffer = take(m_filled, m_readerDone)) {
                transform(*buffer);
                put(m_transformed, buffer);
            }
            finish(m_transformDone);
        } catch (...) {
            fail(std::current_exception());
        }
    });
}

void RecordPipeline::writeStage(const Writer& writer)
{
    RecordBuffer* batch[maxWriteBatch];
    while (RecordBuffer* first = take(m_transformed, m_transformDone)) {
        int count = 1;
        batch[0] = first;
        {
            // Whatever else is ready goes out in the same write.
            std::lock_guard lock(m_mutex);
            while (count < maxWriteBatch && !m_transformed.empty()) {
                batch[count++] = m_transformed.front();
                m_transformed.pop_front();
            }
        }
        writer(std::span<RecordBuffer* const>(batch, count));
        for (int i = 0; i < count; ++i)
            release(batch[i]);
    }
}
