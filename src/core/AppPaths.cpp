#include "core/AppPaths.h"

#include <QDir>
#include <QStandardPaths>

AppPaths AppPaths::standard()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return AppPaths(QDir(base).filePath(QStringLiteral("Korvo")));
}

AppPaths::AppPaths(QString dataDirectory)
    : m_dataDirectory(std::move(dataDirectory))
{
}

QString AppPaths::dataFile(const QString& fileName) const
{
    QDir().mkpath(m_dataDirectory);
    return QDir(m_dataDirectory).filePath(fileName);
}
