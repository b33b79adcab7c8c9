#include "support/StoreFixture.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

namespace {
template <typename T>
std::optional<T> next(std::deque<std::optional<T>>& answers)
{
    const std::optional<T> answer = answers.empty() ? std::nullopt : answers.front();
    if (!answers.empty())
        answers.pop_front();
    return answer;
}
} // namespace

std::optional<QStringList> ScriptedFileDialogs::chooseFiles(const OpenRequest& request)
{
    openRequests.append(request);
    return next(openAnswers);
}

std::optional<QString> ScriptedFileDialogs::chooseSaveLocation(const QString& title, const QString& suggestedName,
                                                                const QString&)
{
    if (onSave)
        onSave();
    saveTitles.append(title);
    suggestedNames.append(suggestedName);
    return next(saveAnswers);
}

void StoreTest::SetUp()
{
    ASSERT_TRUE(m_data.isValid() && m_temporary.isValid() && m_work.isValid());
    m_keychain = std::make_shared<SwitchableKeychainBackend>();
    m_dialogs = std::make_shared<ScriptedFileDialogs>();
    makeStore();
}

KorvoStore& StoreTest::makeStore(QHash<QString, QString> environment)
{
    QProcessEnvironment bridgeEnvironment;
    bridgeEnvironment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
    for (auto it = m_bridgeEnvironment.cbegin(); it != m_bridgeEnvironment.cend(); ++it)
        bridgeEnvironment.insert(it.key(), it.value());
    BridgeSurroundings surroundings;
    surroundings.environment = bridgeEnvironment;
    surroundings.workingDirectory = m_work.path();
    m_store.reset();
    m_store = std::make_unique<KorvoStore>(StoreDependencies{AppPaths(m_data.filePath(QStringLiteral("Korvo"))),
                                                             m_keychain, m_dialogs, std::move(environment),
                                                             m_temporary.path(),
                                                             std::make_shared<BridgeRunner>(surroundings)});
    return *m_store;
}

void StoreTest::saveIdentity(const QString& email, std::optional<qint64> selectedSecretId)
{
    KeychainStore(m_keychain).save(AccountIdentity{email, QStringLiteral("principal-1"),
                                                   QStringLiteral("ab").repeated(32), selectedSecretId,
                                                   std::nullopt});
}

QByteArray StoreTest::readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString StoreTest::writeFile(const QString& name, const QByteArray& contents)
{
    const QString path = QDir::isAbsolutePath(name) ? name : m_work.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
    return path;
}

QStringList StoreTest::temporaryFiles() const
{
    return QDir(m_temporary.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

QStringList StoreTest::activityLines() const
{
    QStringList lines;
    for (const ActivityItem& item : m_store->activities())
        lines.append(item.title + ": " + item.detail);
    return lines;
}

void StoreTest::answer(const nlohmann::json& table)
{
    const QString tablePath = m_work.filePath(QStringLiteral("bridge-table.json"));
    QFile file(tablePath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray::fromStdString(table.dump()));
    m_bridgeEnvironment.insert(QStringLiteral("KORVO_BRIDGE_SCRIPT"),
                               QStringLiteral(KORVO_SOURCE_DIR "/tests/core/fixtures/bridge/fixture-bridge.mjs"));
    m_bridgeEnvironment.insert(QStringLiteral("FIXTURE_LOG"), m_work.filePath(QStringLiteral("bridge-requests.log")));
    m_bridgeEnvironment.insert(QStringLiteral("FIXTURE_TABLE"), tablePath);
}

std::vector<nlohmann::json> StoreTest::requests() const
{
    std::vector<nlohmann::json> entries;
    for (const QByteArray& line : readFile(m_work.filePath(QStringLiteral("bridge-requests.log"))).split('\n')) {
        if (line.isEmpty())
            continue;
        const nlohmann::json entry = nlohmann::json::parse(line.toStdString());
        if (entry["request"].is_string())
            entries.push_back(nlohmann::json::parse(entry["request"].get<std::string>()));
    }
    return entries;
}

std::vector<std::string> StoreTest::commands() const
{
    std::vector<std::string> names;
    for (const nlohmann::json& request : requests())
        names.push_back(request["command"].get<std::string>());
    return names;
}
