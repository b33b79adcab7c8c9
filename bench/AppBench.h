#pragma once

// What the application's benchmarks share: a save panel that always answers with one path, and
// a large input file of varied bytes.
#include "FileDialogs.h"

#include <QByteArray>
#include <QFile>
#include <QString>

class FixedDialogs : public FileDialogs {
public:
    QString output;
    std::optional<QStringList> chooseFiles(const OpenRequest&) override { return std::nullopt; }
    std::optional<QString> chooseSaveLocation(const QString&, const QString&, const QString&) override { return output; }
};

// Writes `mebibytes` MiB at `path`; false when the disk refuses.
inline bool writeInput(const QString& path, qint64 mebibytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 i = 0; i < mebibytes; ++i) {
        for (int j = 0; j < block.size(); j += 64)
            block[j] = char((i * 131 + j) & 0xff);
        if (file.write(block) != block.size())
            return false;
    }
    return true;
}
