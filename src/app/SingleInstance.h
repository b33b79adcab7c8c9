#pragma once

#include <QObject>
#include <functional>

class QLocalServer;

// One Korvo per user session. Where there is no dock to click, launching Korvo again is how a
// person brings back a closed main window: the second launch asks the running one to reopen its
// window and then quits.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // Listens under `socketPath` (a file in the user's runtime folder by default).
    explicit SingleInstance(QString socketPath = defaultSocketPath(), QObject* parent = nullptr);

    static QString defaultSocketPath();

    // True when another instance answered and was asked to reopen: this one should quit.
    bool askRunningInstanceToReopen() const;
    // Starts listening; `reopen` runs on every later launch's request.
    bool listen(std::function<void()> reopen);

private:
    QString m_socketPath;
    QLocalServer* m_server = nullptr;
};
