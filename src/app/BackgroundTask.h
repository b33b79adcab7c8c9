#pragma once

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTask>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>
#include <optional>
#include <type_traits>

// Runs blocking work on the global thread pool and resumes the awaiting coroutine on its own
// thread. Any exception the work throws is rethrown to the awaiter unchanged.
template <typename Work>
auto runInBackground(Work work) -> QCoro::Task<std::invoke_result_t<Work>>
{
    using Result = std::invoke_result_t<Work>;
    if constexpr (std::is_void_v<Result>) {
        const std::exception_ptr error = co_await QtConcurrent::run([work = std::move(work)]() -> std::exception_ptr {
            try {
                work();
                return nullptr;
            } catch (...) {
                return std::current_exception();
            }
        });
        if (error)
            std::rethrow_exception(error);
    } else {
        struct Outcome {
            std::optional<Result> value;
            std::exception_ptr error;
        };
        Outcome outcome = co_await QtConcurrent::run([work = std::move(work)]() -> Outcome {
            try {
                return Outcome{work(), nullptr};
            } catch (...) {
                return Outcome{std::nullopt, std::current_exception()};
            }
        });
        if (outcome.error)
            std::rethrow_exception(outcome.error);
        co_return std::move(*outcome.value);
    }
}
