// The recipient public-key cache: one fetch per key however many look-ups wait for it, the
// file that carries keys across restarts, and what is never cached.

#include "core/bridge/KorvoPublicKeyCache.h"
#include "fixtures/FixtureBridge.h"
#include "fixtures/TestFiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <qcoro/qcorotimer.h>

#include <gtest/gtest.h>

using fixture::finish;

namespace {

const QString kService = QStringLiteral("https://keys.test:3010");

class PublicKeyCacheTest : public ::testing::Test {
protected:
    void SetUp() override { fixture::ensureApplication(); }

    QString filePath() const { return folder.filePath(KorvoPublicKeyCache::fileName); }
    nlohmann::json stored() const { return nlohmann::json::parse(testfiles::readFile(filePath()).toStdString()); }

    // A fetch that counts its runs, waits `delayMs` and then yields `key` (or fails).
    KorvoPublicKeyCache::Fetch counting(QString key, int delayMs = 0, bool fails = false)
    {
        return [this, key, delayMs, fails]() -> QCoro::Task<QString> {
            ++fetches;
            if (delayMs > 0) {
                auto pause = QCoro::sleepFor(std::chrono::milliseconds(delayMs));
                co_await std::move(pause);
            }
            if (fails)
                throw KorvoError(QStringLiteral("That Korvo could not be verified."));
            co_return key;
        };
    }
    QString lookUp(KorvoPublicKeyCache& cache, qint64 id, const QString& key, const QString& service = kService)
    {
        const auto outcome = finish(cache.publicKey(service, id, counting(key)));
        return outcome.value ? *outcome.value : "error: " + outcome.message();
    }

    QTemporaryDir folder;
    int fetches = 0;
};

TEST_F(PublicKeyCacheTest, ConcurrentLookupsShareOneFetchAndOnlyKeysAreKept)
{
    KorvoPublicKeyCache cache{AppPaths(folder.path())};
    // The waiters of one fetch get its key, or its own error; the next look-up after a failure
    // fetches again.
    auto first = fixture::capture(cache.publicKey(kService, 42, counting("pk-42\n", 100)));
    auto second = fixture::capture(cache.publicKey(kService + "/", 42, counting("never used")));
    auto failing = fixture::capture(cache.publicKey(kService, 5, counting("", 50, true)));
    auto failingToo = fixture::capture(cache.publicKey(kService, 5, counting("never used")));
    EXPECT_EQ(QCoro::waitFor(first).value, "pk-42");
    EXPECT_EQ(QCoro::waitFor(second).value, "pk-42");
    EXPECT_EQ(QCoro::waitFor(failing).message(), "That Korvo could not be verified.");
    EXPECT_EQ(QCoro::waitFor(failingToo).message(), "That Korvo could not be verified.");
    EXPECT_EQ(lookUp(cache, 42, "fetched again"), "pk-42");
    EXPECT_EQ(fetches, 2);

    EXPECT_EQ(lookUp(cache, 5, " \n\t\r\n"), "error: Korvo returned an empty protection key.");
    EXPECT_EQ(stored()["values"].size(), 1u);
    EXPECT_EQ(lookUp(cache, 5, "\tpk-5 \n"), "pk-5");
    EXPECT_EQ(fetches, 4);
}

TEST_F(PublicKeyCacheTest, KeysSurviveARestart)
{
    // Missing folders are created on the first save.
    {
        KorvoPublicKeyCache cache{AppPaths(folder.path() + "/not/yet/there")};
        EXPECT_EQ(lookUp(cache, 9, "pk-9\n", kService + "/"), "pk-9");
    }
    EXPECT_TRUE(QFile::exists(folder.filePath("not/yet/there/public-keys.json")));
    // A run in another folder, then a restart there.
    {
        KorvoPublicKeyCache cache{AppPaths(folder.path())};
        EXPECT_EQ(lookUp(cache, 9, "pk-9"), "pk-9");
        EXPECT_EQ(lookUp(cache, 10, "pk-10"), "pk-10");
    }
    EXPECT_EQ(stored(), nlohmann::json::parse(R"({"values":{"https://keys.test:3010|9":"pk-9","https://keys.test:3010|10":"pk-10"}})"));
    KorvoPublicKeyCache restarted{AppPaths(folder.path())};
    EXPECT_EQ(lookUp(restarted, 10, "fetched again"), "pk-10");
    EXPECT_EQ(lookUp(restarted, 9, "fetched again"), "pk-9");
    EXPECT_EQ(fetches, 3);
}

TEST_F(PublicKeyCacheTest, DamagedFileIsIgnoredThenReplaced)
{
    for (const QByteArray& bytes : {QByteArray("{not json"), QByteArray(R"({"values":"pk"})"),
                                    QByteArray(R"({"values":{"https://keys.test:3010|1":7}})")}) {
        SCOPED_TRACE(bytes.toStdString());
        testfiles::writeFile(filePath(), bytes);
        fetches = 0;
        KorvoPublicKeyCache cache{AppPaths(folder.path())};
        EXPECT_EQ(lookUp(cache, 2, "pk-2"), "pk-2");
        EXPECT_EQ(lookUp(cache, 1, "pk-1"), "pk-1");
        EXPECT_EQ(fetches, 2);
        EXPECT_EQ(stored(), nlohmann::json::parse(R"({"values":{"https://keys.test:3010|1":"pk-1","https://keys.test:3010|2":"pk-2"}})"));
    }
}

TEST_F(PublicKeyCacheTest, UnwritableFolderStillAnswersFromMemory)
{
    testfiles::writeFile(filePath(), "a file where the folder should be");
    KorvoPublicKeyCache cache{AppPaths(filePath() + "/sub")};
    EXPECT_EQ(lookUp(cache, 3, "pk-3"), "pk-3");
    EXPECT_EQ(lookUp(cache, 3, "pk-3"), "pk-3");
    EXPECT_EQ(fetches, 1);
}

} // namespace
