// Loads arbitrary bytes as the public-key cache file, then looks up one key. A key found in the
// file is served without a fetch; otherwise the fetched key is saved, and a fresh cache reads
// it back from the file the first one wrote.
#include "core/bridge/KorvoPublicKeyCache.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

const QString kService = QStringLiteral("https://fuzz.example");
constexpr qint64 kKorvo = 7;

QString lookUp(const QTemporaryDir& folder, bool& fetched)
{
    KorvoPublicKeyCache cache{AppPaths(folder.path())};
    auto fetch = [&fetched]() -> QCoro::Task<QString> {
        fetched = true;
        co_return QStringLiteral(" fetched-key ");
    };
    auto task = cache.publicKey(kService, kKorvo, fetch);
    return QCoro::waitFor(task);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QTemporaryDir folder;
    QFile file(folder.filePath(QString::fromLatin1(KorvoPublicKeyCache::fileName)));
    if (!file.open(QIODevice::WriteOnly) || file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        std::abort();
    file.close();

    bool fetched = false;
    const QString first = lookUp(folder, fetched);
    if (fetched && first != QStringLiteral("fetched-key"))
        std::abort();
    bool fetchedAgain = false;
    if (lookUp(folder, fetchedAgain) != first || fetchedAgain)
        std::abort(); // the file the first cache wrote (or kept) did not serve the second
    return 0;
}
