#pragma once

#include "core/flows/AccountServices.h"

#include <QCoreApplication>

#include <exception>
#include <functional>
#include <optional>

class FileWorkQueue;

// What an account command runs on: an event loop (the bridge's children and the keychain's
// queue report back through it), the application's bridge, keychain and recipients' key cache.
// A first Ctrl-C ends the bridge's children, which remove their unfinished output.
class CliAccountSession {
public:
    CliAccountSession();
    ~CliAccountSession();

    const AccountServices& services() const { return m_services; }
    std::shared_ptr<FileWorkQueue> fileQueue() const { return m_fileQueue; }

    // Runs `task` to its end on the event loop; its error is thrown here. `tick` runs now and
    // then meanwhile (a progress bar).
    template <typename T>
    T wait(QCoro::Task<T> task, std::function<void()> tick = {})
    {
        std::optional<T> value;
        std::exception_ptr error;
        runLoop(capture(std::move(task), value, error), std::move(tick));
        if (error)
            std::rethrow_exception(error);
        return std::move(*value);
    }
    void wait(QCoro::Task<> task) { wait(done(std::move(task))); }

    // The saved identity; nothing when none is saved.
    std::optional<AccountIdentity> savedIdentity();
    // The saved identity; throws CliError when nobody is signed in.
    AccountIdentity signedInIdentity();

private:
    template <typename T>
    static QCoro::Task<> capture(QCoro::Task<T> task, std::optional<T>& value, std::exception_ptr& error)
    {
        try {
            value = co_await task;
        } catch (...) {
            error = std::current_exception();
        }
    }
    static QCoro::Task<bool> done(QCoro::Task<> task)
    {
        co_await task;
        co_return true;
    }
    void runLoop(QCoro::Task<> task, std::function<void()> tick);

    AccountServices m_services;
    std::shared_ptr<FileWorkQueue> m_fileQueue;
};
