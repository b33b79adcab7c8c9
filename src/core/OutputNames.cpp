#include "core/OutputNames.h"

namespace OutputNames {

QString protectedName(const QString& fileName, bool localMode)
{
    return fileName + (localMode ? localExtension : accountExtension);
}

QString openedName(const QString& fileName, bool localMode)
{
    if (localMode && fileName.endsWith(localExtension))
        return fileName.chopped(localExtension.size());
    if (fileName.endsWith(accountExtension))
        return fileName.chopped(accountExtension.size());
    QString name = fileName;
    return name.remove(QStringLiteral(".zip"));
}

} // namespace OutputNames
