#pragma once

#include "KorvoStore.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <deque>
#include <functional>

// Open and save panels that answer from a script (no answer left: cancelled) and remember what
// they were asked.
class ScriptedFileDialogs : public FileDialogs {
public:
    std::deque<std::optional<QStringList>> openAnswers;
    std::deque<std::optional<QString>> saveAnswers;
    QList<OpenRequest> openRequests;
    QStringList saveTitles;
    QStringList suggestedNames;
    // Runs when the save panel is asked, before it answers (a panel is a window of its own).
    std::function<void()> onSave;

    std::optional<QStringList> chooseFiles(const OpenRequest& request) override;
    std::optional<QString> chooseSaveLocation(const QString& title, const QString& suggestedName,
                                              const QString& startFolder) override;
};

// A keychain whose reads, or writes and deletions, can be made to fail with a status code.
class SwitchableKeychainBackend : public KeychainBackend {
public:
    std::shared_ptr<KeychainBackend> inner = makeInMemoryKeychainBackend();
    int failWrites = 0;
    int failReads = 0;
    using Query = KeychainItemQuery;

    KeychainReadResult copyMatching(const Query& q) override { return failReads ? KeychainReadResult{failReads, {}} : inner->copyMatching(q); }
    int add(const Query& q, const QByteArray& d, KeychainContent c) override { return failWrites ? failWrites : inner->add(q, d, c); }
    int replace(const Query& q, const QByteArray& d, KeychainContent c) override { return failWrites ? failWrites : inner->replace(q, d, c); }
    int remove(const Query& q) override { return failWrites ? failWrites : inner->remove(q); }
};

// Runs a task to completion on the test's event loop.
template <typename T>
T await(QCoro::Task<T>&& task) { return QCoro::waitFor(std::move(task)); }

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
    // The requests the fixture bridge received, in order, and their commands.
    std::vector<nlohmann::json> requests() const;
    std::vector<std::string> commands() const;
    // Runs the file job on `selection`, the save panel answering `saveAs` (none: cancelled).
    bool runJob(const QStringList& selection, std::optional<QString> saveAs = std::nullopt)
    {
        store().setSelectedURLs(selection);
        if (saveAs)
            m_dialogs->saveAnswers.push_back(*saveAs);
        return await(store().runFileOperationTask());
    }
    static void spin(int milliseconds) { QTest::qWait(milliseconds); }
    // Spins until `done` holds or ten seconds pass (a loaded machine starts node slowly).
    static bool spinUntil(const std::function<bool()>& done) { return QTest::qWaitFor(done, 10000); }
    // Writes a file (a name in the work folder, or a full path) and returns its path.
    QString writeFile(const QString& name, const QByteArray& contents);
    // The whole contents of a file, or nothing when it cannot be read.
    static QByteArray readFile(const QString& path);
    QString workPath(const QString& name) const { return m_work.filePath(name); }
    // Files in the temporary bundle folder.
    QStringList temporaryFiles() const;
    // The recent-activity list, an entry a line: "title: detail".
    QStringList activityLines() const;

    QTemporaryDir m_data;
    QTemporaryDir m_temporary;
    QTemporaryDir m_work;
    std::shared_ptr<SwitchableKeychainBackend> m_keychain;
    std::shared_ptr<ScriptedFileDialogs> m_dialogs;
    std::unique_ptr<KorvoStore> m_store;
    QHash<QString, QString> m_bridgeEnvironment;
};
