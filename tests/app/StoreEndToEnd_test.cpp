// Two people, each with their own store, keychain and data folder, against the real bridge
// script and the reference service on a free port: sign-up with the e-mailed code, the look-up
// of the other's Korvo number, and a file locked for that Korvo and opened by them. (Sign-in,
// password reset and deletion through the real stack are driven from the installed
// application's screens in tests/desktop.) Prints a transcript of the steps (keys elided).
#include "support/ReferenceService.h"
#include "support/StoreFixture.h"

#include <QFile>
#include <QTest>

using Route = KorvoStore::AppRoute;

namespace {
// One person's computer: a store with its own keychain, data folder and dialogs.
struct Person {
    QTemporaryDir folder;
    std::shared_ptr<ScriptedFileDialogs> dialogs = std::make_shared<ScriptedFileDialogs>();
    std::unique_ptr<KorvoStore> store;

    Person(const ReferenceService& service)
    {
        BridgeSurroundings surroundings;
        surroundings.environment = service.environment();
        surroundings.workingDirectory = folder.path();
        store = std::make_unique<KorvoStore>(StoreDependencies{AppPaths(folder.filePath("data")), makeInMemoryKeychainBackend(),
                                                               dialogs, {}, folder.path(),
                                                               std::make_shared<BridgeRunner>(surroundings, service.url())});
        await(store->bootstrapTask());
        store->leaveLocalMode();
    }
    QString path(const QString& name) const { return folder.filePath(name); }
};

void step(const KorvoStore& store, const char* what, bool succeeded)
{
    qInfo().noquote() << QStringLiteral("%1 -> %2; status \"%3\"%4")
                             .arg(QString::fromUtf8(what), succeeded ? "ok" : "failed", store.statusMessage(),
                                  store.errorMessage().isEmpty() ? QString() : "; error \"" + store.errorMessage() + "\"");
    ASSERT_TRUE(succeeded) << what;
}

void signUp(const ReferenceService& service, KorvoStore& store, const QString& email)
{
    step(store, "register", await(store.registerAccountTask(email, "first password")));
    const QString code = service.latestCode(email);
    step(store, "verifyOtpAndFinish with the e-mailed code",
         await(store.verifyOtpAndFinishTask(email, "first password", store.routePrincipalId(), code)));
    EXPECT_EQ(store.route(), Route::Main);
    ASSERT_TRUE(store.selectedSecretId().has_value());
}
} // namespace

TEST(StoreEndToEnd, SignUpAndShareAFile)
{
    ReferenceService service;
    ASSERT_FALSE(service.url().isEmpty()) << "the reference service did not start";
    Person ana(service), ben(service);
    signUp(service, *ana.store, "ana@example.com");
    signUp(service, *ben.store, "ben@example.com");
    const qint64 benKorvo = *ben.store->selectedSecretId();

    // Ana locks a file for Ben's Korvo number once it checks out.
    KorvoStore& a = *ana.store;
    a.setEncryptionTarget(KorvoStore::EncryptionTarget::Recipient);
    a.setRecipientSecretIdText(QString::number(benKorvo));
    for (int i = 0; i < 300 && a.recipientKorvoState() != KorvoStore::RecipientKorvoState::Ready; ++i)
        QTest::qWait(50);
    step(a, "recipient look-up: Korvo ready", a.activeSecretIsValid());
    QByteArray plain(300 * 1024, '\0');
    for (int i = 0; i < plain.size(); ++i)
        plain[i] = char((i * 131) ^ (i >> 7));
    QFile input(ana.path("report.pdf"));
    ASSERT_TRUE(input.open(QIODevice::WriteOnly) && input.write(plain) == plain.size());
    input.close();
    a.setSelectedURLs({ana.path("report.pdf")});
    ana.dialogs->saveAnswers.push_back(ben.path("report.pdf.korvo"));
    step(a, "encryptFile for Ben's Korvo", await(a.runFileOperationTask()));
    EXPECT_TRUE(a.activities().front().detail.endsWith(" for Korvo #" + QString::number(benKorvo)));   // the history names it

    KorvoStore& b = *ben.store;
    b.setMode(KorvoStore::WorkMode::Decrypt);
    b.setSelectedURLs({ben.path("report.pdf.korvo")});
    ben.dialogs->saveAnswers.push_back(ben.path("report.pdf"));
    step(b, "decryptFile as Ben", await(b.runFileOperationTask()));
    EXPECT_EQ([&] { QFile f(ben.path("report.pdf")); return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray(); }(), plain);
}
