#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

class QLocalServer;

// One Korvo per user session. Where there is no dock to click, launching Korvo again is how a
// person brings back a closed main window, and how a file manager hands over files: the second
// launch passes its files to the running one, which shows its window with them, and then quits.
// Paths travel as the system's bytes, so names that are not UTF-8 arrive intact.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // Listens under `socketPath` (a file in the user's runtime folder by default).
    explicit SingleInstance(QString socketPath = defaultSocketPath(), QObject* parent = nullptr);

    static QString defaultSocketPath();

    // True when another instance answered and took the request (its window comes back, with
    // `files` selected when there are any): this one should quit.
    bool askRunningInstanceToReopen(const QStringList& files = {}) const;
    // Starts listening; `reopen` runs on every later launch's request with that launch's files.
    bool listen(std::function<void(const QStringList& files)> reopen);

private:
    QString m_socketPath;
    QLocalServer* m_server = nullptr;
};
