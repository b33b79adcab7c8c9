#include "cli/OutputNames.h"

namespace OutputNames {

QString lockedName(const QString& fileName)
{
    return fileName + lockedExtension;
}

QString openedName(const QString& fileName)
{
    if (fileName.endsWith(lockedExtension))
        return fileName.chopped(lockedExtension.size());
    if (fileName.endsWith(accountExtension))
        return fileName.chopped(accountExtension.size());
    QString name = fileName;
    return name.remove(QStringLiteral(".zip"));
}

} // namespace OutputNames
