// The recipient public-key cache: one fetch per key however many look-ups wait for it, the
// file that carries keys across restarts, and what is never cached.

#include "core/bridge/KorvoPublicKeyCache.h"
#include "fixtures/FixtureBridge.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <qcoro/qcorotimer.h>

#include <gtest/gtest.h>

using fixture::finish;

namespace {

const QString kService = QStringLiteral("https://keys.test:3010");

class PublicKeyCacheTest : public ::testing::Test {
protected:
    void SetUp() override { fixture::ensureApplication(); }

    QString filePath() const { return folder.filePath(KorvoPublicKeyCache::fileName); }
    QByteArray fileBytes() const
    {
        QFile file(filePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeFile(const QByteArray& bytes) const
    {
        QFile file(filePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    // A fetch that counts its runs, waits `delayMs` and then yields `key` (or fails).
    KorvoPublicKeyCache::Fetch counting(QString key, int delayMs = 0, bool fails = false)
    {
        return [this, key, delayMs, fails]() -> QCoro::Task<QString> {
            ++fetches;
            if (delayMs > 0) {
                QTimer timer;
                timer.setSingleShot(true);
                timer.start(delayMs);
                co_await timer;
            }
            if (fails)
                throw KorvoError(QStringLiteral("That Korvo could not be verified."));
            co_return key;
        };
    }

    QTemporaryDir folder;
    int fetches = 0;
};

TEST(PublicKeyCacheKey, SlashesAtTheEndsDoNotMatter)
{
    EXPECT_EQ(KorvoPublicKeyCache::cacheKey("https://a:3010", 7), "https://a:3010|7");
    EXPECT_EQ(KorvoPublicKeyCache::cacheKey("https://a:3010/", 7), "https://a:3010|7");
    EXPECT_EQ(KorvoPublicKeyCache::cacheKey("/https://a:3010//", 7), "https://a:3010|7");
    EXPECT_EQ(KorvoPublicKeyCache::cacheKey("https://a:3010/v1/", 0), "https://a:3010/v1|0");
    EXPECT_EQ(KorvoPublicKeyCache::cacheKey("///", -3), "|-3");
    EXPECT_NE(KorvoPublicKeyCache::cacheKey("https://a:3010", 7), KorvoPublicKeyCache::cacheKey("https://b:3010", 7));
}

TEST_F(PublicKeyCacheTest, ConcurrentLookupsShareOneBridgeRun)
{
    fixture::Bridge bridge;
    bridge.set("FIXTURE_DELAY_MS", "150");
    bridge.set("FIXTURE_STDOUT", R"({"ok":true,"result":{"chainId":1,"secretId":42,"publicKey":"pk-42\n"}})");
    const BridgeRunner runner = bridge.runner();
    KorvoPublicKeyCache cache{AppPaths(folder.path())};
    const auto fetch = [&runner]() -> QCoro::Task<QString> {
        BridgeRequest request;
        request.command = QStringLiteral("getSecretPublicKey");
        request.secretId = 42;
        const KorvoPublicKeyResult result = co_await runner.run<KorvoPublicKeyResult>(request);
        co_return result.publicKey;
    };

    auto first = fixture::capture(cache.publicKey(kService, 42, fetch));
    auto second = fixture::capture(cache.publicKey(kService + "/", 42, fetch));
    const auto a = QCoro::waitFor(first);
    const auto b = QCoro::waitFor(second);
    ASSERT_TRUE(a.value && b.value) << a.message().toStdString() << b.message().toStdString();
    EXPECT_EQ(*a.value, "pk-42");
    EXPECT_EQ(*b.value, "pk-42");
    EXPECT_EQ(bridge.log().size(), 1u);

    // Known now: no further run.
    EXPECT_EQ(*finish(cache.publicKey(kService, 42, fetch)).value, "pk-42");
    EXPECT_EQ(bridge.log().size(), 1u);
}

TEST_F(PublicKeyCacheTest, FailuresAndBlankKeysAreNotCached)
{
    KorvoPublicKeyCache cache{AppPaths(folder.path())};

    // A failing fetch reaches both waiters with its own error; the next look-up fetches again.
    auto first = fixture::capture(cache.publicKey(kService, 5, counting("", 50, true)));
    auto second = fixture::capture(cache.publicKey(kService, 5, counting("never used")));
    EXPECT_EQ(QCoro::waitFor(first).message(), "That Korvo could not be verified.");
    EXPECT_EQ(QCoro::waitFor(second).message(), "That Korvo could not be verified.");
    EXPECT_EQ(fetches, 1);

    for (const QString& blank : {QString(), QStringLiteral(" \n\t\r\n")}) {
        const auto outcome = finish(cache.publicKey(kService, 5, counting(blank)));
        ASSERT_NE(outcome.errorAs<KorvoPublicKeyCache::CacheError>(), nullptr);
        EXPECT_EQ(outcome.message(), "Korvo returned an empty protection key.");
    }
    EXPECT_EQ(fetches, 3);
    EXPECT_FALSE(QFile::exists(filePath()));

    EXPECT_EQ(*finish(cache.publicKey(kService, 5, counting("\tpk-5 \n"))).value, "pk-5");
    EXPECT_EQ(fetches, 4);
}

TEST_F(PublicKeyCacheTest, KeysSurviveARestart)
{
    // Missing folders are created on the first save.
    {
        KorvoPublicKeyCache cache{AppPaths(folder.path() + "/not/yet/there")};
        EXPECT_EQ(*finish(cache.publicKey(kService + "/", 9, counting("pk-9\n"))).value, "pk-9");
    }
    EXPECT_TRUE(QFile::exists(folder.filePath("not/yet/there/public-keys.json")));
    // A run in another folder, then a restart there.
    {
        KorvoPublicKeyCache cache{AppPaths(folder.path())};
        EXPECT_EQ(*finish(cache.publicKey(kService, 9, counting("pk-9"))).value, "pk-9");
        EXPECT_EQ(*finish(cache.publicKey(kService, 10, counting("pk-10"))).value, "pk-10");
    }
    EXPECT_EQ(fetches, 3);
    EXPECT_EQ(nlohmann::json::parse(fileBytes().toStdString()),
              nlohmann::json::parse(R"({"values":{"https://keys.test:3010|9":"pk-9","https://keys.test:3010|10":"pk-10"}})"));

    KorvoPublicKeyCache restarted{AppPaths(folder.path())};
    EXPECT_EQ(*finish(restarted.publicKey(kService, 10, counting("fetched again"))).value, "pk-10");
    EXPECT_EQ(*finish(restarted.publicKey(kService, 9, counting("fetched again"))).value, "pk-9");
    EXPECT_EQ(fetches, 3);
}

TEST_F(PublicKeyCacheTest, DamagedFileIsIgnoredThenReplaced)
{
    const std::vector<QByteArray> damaged = {
        "{not json",
        "[]",
        R"({"values":"pk"})",
        R"({"values":{"https://keys.test:3010|1":7}})",
        R"({"other":{}})",
    };
    for (const QByteArray& bytes : damaged) {
        SCOPED_TRACE(bytes.toStdString());
        writeFile(bytes);
        fetches = 0;
        KorvoPublicKeyCache cache{AppPaths(folder.path())};
        EXPECT_EQ(*finish(cache.publicKey(kService, 2, counting("pk-2"))).value, "pk-2");
        EXPECT_EQ(*finish(cache.publicKey(kService, 1, counting("pk-1"))).value, "pk-1");
        EXPECT_EQ(fetches, 2);
        EXPECT_EQ(nlohmann::json::parse(fileBytes().toStdString()),
                  nlohmann::json::parse(R"({"values":{"https://keys.test:3010|1":"pk-1","https://keys.test:3010|2":"pk-2"}})"));
    }
}

TEST_F(PublicKeyCacheTest, UnwritableFolderStillAnswersFromMemory)
{
    writeFile("a file where the folder should be");
    KorvoPublicKeyCache cache{AppPaths(filePath() + "/sub")};
    EXPECT_EQ(*finish(cache.publicKey(kService, 3, counting("pk-3"))).value, "pk-3");
    EXPECT_EQ(*finish(cache.publicKey(kService, 3, counting("pk-3"))).value, "pk-3");
    EXPECT_EQ(fetches, 1);
}

} // namespace
