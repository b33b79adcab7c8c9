#pragma once

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTask>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>
#include <optional>
#include <type_traits>

// Runs blocking work on a thread pool (the global one unless given) and resumes the awaiting coroutine on its own
// thread. Any exception the work throws is rethrown to the awaiter unchanged.
// Coroutines here never co_await an expression holding temporaries with destructors (GCC 12
// destroys such temporaries twice): the awaited task or future is always a named local.
template <typename Work>
auto runInBackground(Work work, QThreadPool* pool = QThreadPool::globalInstance())
    -> QCoro::Task<std::invoke_result_t<Work>>
{
    using Result = std::invoke_result_t<Work>;
    if constexpr (std::is_void_v<Result>) {
        auto guarded = [work = std::move(work)]() -> std::exception_ptr {
            try {
                work();
                return nullptr;
            } catch (...) {
                return std::current_exception();
            }
        };
        QFuture<std::exception_ptr> future = QtConcurrent::run(pool, std::move(guarded));
        const std::exception_ptr error = co_await future;
        if (error)
            std::rethrow_exception(error);
    } else {
        struct Outcome {
            std::optional<Result> value;
            std::exception_ptr error;
        };
        auto guarded = [work = std::move(work)]() -> Outcome {
            try {
                return Outcome{work(), nullptr};
            } catch (...) {
                return Outcome{std::nullopt, std::current_exception()};
            }
        };
        QFuture<Outcome> future = QtConcurrent::run(pool, std::move(guarded));
        Outcome outcome = co_await future;
        if (outcome.error)
            std::rethrow_exception(outcome.error);
        co_return std::move(*outcome.value);
    }
}
