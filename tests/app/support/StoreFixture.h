#pragma once

#include "KorvoStore.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <deque>
#include <functional>

// Open and save panels that answer from a script and remember what they were asked.
class ScriptedFileDialogs : public FileDialogs {
public:
    std::deque<std::optional<QStringList>> openAnswers;
    std::deque<std::optional<QString>> saveAnswers;
    QList<OpenRequest> openRequests;
    QStringList saveTitles;
    QStringList suggestedNames;

    std::optional<QStringList> chooseFiles(const OpenRequest& request) override;
    QStringList startFolders;
    // Runs when the save panel is asked, before it answers (a panel is a window of its own).
    std::function<void()> onSave;
    std::optional<QString> chooseSaveLocation(const QString& title, const QString& suggestedName,
                                              const QString& startFolder) override;
};

// A keychain whose writes and deletions can be made to fail with a status code.
class SwitchableKeychainBackend : public KeychainBackend {
public:
    std::shared_ptr<KeychainBackend> inner = makeInMemoryKeychainBackend();
    int failWrites = 0;   // status returned by add/replace/remove when not 0
    int failReads = 0;

    KeychainReadResult copyMatching(const KeychainItemQuery& query) override;
    int add(const KeychainItemQuery& query, const QByteArray& data, KeychainContent content) override;
    int replace(const KeychainItemQuery& query, const QByteArray& data, KeychainContent content) override;
    int remove(const KeychainItemQuery& query) override;
};

// A store on a temporary data folder, a temporary bundle folder, an in-memory keychain,
// scripted dialogs and a bridge that cannot be found.
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override;

    // A fresh store with the given launch environment (replaces any earlier one).
    KorvoStore& makeStore(QHash<QString, QString> environment = {});
    KorvoStore& store() { return *m_store; }

    void saveIdentity(const QString& email, std::optional<qint64> selectedSecretId = std::nullopt);

    // The fixture bridge answering each command from `table` ({"command": envelope or list});
    // takes effect with the next makeStore().
    void answer(const nlohmann::json& table);
    // The requests the fixture bridge received, in order.
    std::vector<nlohmann::json> requests() const;
    std::vector<std::string> commands() const;
    // Runs the event loop for a while (debounces, background refreshes).
    static void spin(int milliseconds);
    // Spins until `done` holds or ten seconds pass (a loaded machine starts node slowly).
    static bool spinUntil(const std::function<bool()>& done);
    // Writes a file of the given size into the work folder and returns its path.
    QString writeFile(const QString& name, const QByteArray& contents);
    // The whole contents of a file, or nothing when it cannot be read.
    static QByteArray readFile(const QString& path);
    QString workPath(const QString& name) const { return m_work.filePath(name); }
    // Files in the temporary bundle folder.
    QStringList temporaryFiles() const;

    QTemporaryDir m_data;
    QTemporaryDir m_temporary;
    QTemporaryDir m_work;
    std::shared_ptr<SwitchableKeychainBackend> m_keychain;
    std::shared_ptr<ScriptedFileDialogs> m_dialogs;
    std::unique_ptr<KorvoStore> m_store;
    QHash<QString, QString> m_bridgeEnvironment;
};

// Runs a task to completion on the test's event loop.
template <typename T>
T await(QCoro::Task<T>&& task)
{
    return QCoro::waitFor(std::move(task));
}
