#include "core/PlatformWording.h"

#include <QRegularExpression>

QString platformText(const QString& text)
{
#ifdef Q_OS_MACOS
    return text;
#else
    static const QRegularExpression macWord(QStringLiteral("\\bMac(s?)\\b"));
    QString adapted = text;
    return adapted.replace(macWord, QStringLiteral("computer\\1"));
#endif
}
