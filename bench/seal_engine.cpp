// Times the local protection engine alone (no keychain, no command line) on one file.
//   bench_seal_engine [SIZE_MIB] [ROUNDS]     (defaults: 1024 MiB, 5 rounds; data in /tmp)
// Prints the median of each step and its ratio to a plain copy of the same file.

#include "core/LocalFileProtectionService.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

double seconds(const std::function<void()>& step)
{
    const auto start = std::chrono::steady_clock::now();
    step();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void makeInput(const QString& path, qint64 size)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 written = 0; written < size; written += block.size()) {
        for (qsizetype i = 0; i < block.size(); i += 8)
            block[i] = static_cast<char>(std::rand());
        file.write(block.constData(), std::min<qint64>(block.size(), size - written));
    }
}

void copyFile(const QString& from, const QString& to)
{
    // The same work cp does on this machine: an in-kernel copy between two files.
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY);
    const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    while (::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0) > 0) {
    }
    ::close(in);
    ::close(out);
}

} // namespace

int main(int argc, char** argv)
{
    const qint64 mib = argc > 1 ? std::atoll(argv[1]) : 1024;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    QTemporaryDir dir(QStringLiteral("/tmp/korvo-bench-XXXXXX"));
    const QString plain = dir.filePath("plain"), sealed = dir.filePath("sealed"), opened = dir.filePath("opened"),
                  copy = dir.filePath("copy");
    makeInput(plain, mib << 20);
    const QByteArray key(32, 'k');

    std::vector<double> copyTimes, lockTimes, openTimes;
    for (int round = 0; round < rounds; ++round) {
        QFile::remove(copy);
        copyTimes.push_back(seconds([&] { copyFile(plain, copy); }));
        QFile::remove(copy);
        QFile::remove(sealed);
        lockTimes.push_back(seconds([&] { LocalFileProtectionService::protect(plain, sealed, key); }));
        QFile::remove(opened);
        openTimes.push_back(seconds([&] { LocalFileProtectionService::open(sealed, opened, key); }));
    }
    const double copyTime = median(copyTimes);
    std::printf("engine, %lld MiB, median of %d rounds\n", static_cast<long long>(mib), rounds);
    std::printf("  copy  %7.3f s\n", copyTime);
    std::printf("  lock  %7.3f s  %5.2fx copy  %7.0f MiB/s\n", median(lockTimes), median(lockTimes) / copyTime,
                mib / median(lockTimes));
    std::printf("  open  %7.3f s  %5.2fx copy  %7.0f MiB/s\n", median(openTimes), median(openTimes) / copyTime,
                mib / median(openTimes));
    return 0;
}
