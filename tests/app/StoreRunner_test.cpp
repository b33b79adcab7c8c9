// The operation runner: busy state, the one error sentence, and its rewording rules.
#include "support/StoreFixture.h"

#include <QSignalSpy>

namespace {
const QString unavailable = QStringLiteral("Korvo is temporarily unavailable. Check your connection and try again.");
const QString restoreAccess = QStringLiteral("This computer needs to restore private access. Sign in again to continue.");

template <typename Error>
KorvoStore::Operation failing(Error error)
{
    return [error]() -> QCoro::Task<> {
        throw error;
        co_return;
    };
}
} // namespace

TEST(StoreRunnerWording, OnlyExactFetchFailedOrAnyConnectionRefusalIsReworded)
{
    const std::pair<const char*, QString> cases[] = {
        {"fetch failed", unavailable},
        {"Fetch failed", "Fetch failed"},
        {"connect econnrefused 127.0.0.1:3010", unavailable},
        {"bad ED25519PRIVATEKEYHEX value", restoreAccess},
        {"ECONNREFUSED while checking ed25519PrivateKeyHex", unavailable},
        {"The selected file could not be read.", "The selected file could not be read."},
    };
    for (const auto& [description, expected] : cases)
        EXPECT_EQ(KorvoStore::userFacingSentence(QString::fromUtf8(description)), expected) << description;
}

TEST_F(StoreTest, RunnerMarksBusyShowsTheBusyLineAndReportsFailures)
{
    QSignalSpy busy(&store(), &KorvoStore::isBusyChanged);
    std::pair<bool, QString> inside;
    EXPECT_TRUE(await(store().perform("Working...", [&]() -> QCoro::Task<> {
        inside = {store().isBusy(), store().statusMessage()};
        co_return;
    })));
    EXPECT_EQ(inside, std::pair(true, QString("Working...")));
    EXPECT_EQ(busy.count(), 2);   // on, then off
    // An operation that sets no line of its own leaves the busy line, which reports no result.
    EXPECT_EQ(store().statusMessage(), "Working...");
    EXPECT_FALSE(store().statusIsResult());

    EXPECT_FALSE(await(store().perform("Again...", failing(StoreError::message("fetch failed")))));
    EXPECT_EQ(store().errorMessage(), unavailable);
    EXPECT_FALSE(store().isBusy());
    EXPECT_EQ(store().statusMessage(), "Again...");
    EXPECT_FALSE(store().statusIsResult());

    // The next success clears the previous error.
    EXPECT_TRUE(await(store().perform("Third...", []() -> QCoro::Task<> { co_return; })));
    EXPECT_TRUE(store().errorMessage().isEmpty());

    // Any error type gives its sentence.
    EXPECT_FALSE(await(store().perform("x", failing(std::runtime_error("Disk full.")))));
    EXPECT_EQ(store().errorMessage(), "Disk full.");
    EXPECT_FALSE(await(store().perform("x", failing(KeychainStoreError::unexpectedStatus(-25293)))));
    EXPECT_EQ(store().errorMessage(), KeychainStoreError::unexpectedStatus(-25293).message());
}
