#include "core/NativePath.h"

#include "zip/Utf8.h"

#include <QDir>
#include <QUrl>

#include <cerrno>
#include <sys/stat.h>

namespace {

constexpr char16_t carriedByteBase = 0xDC00;   // a carried byte b is the unit 0xDC00 + b, b >= 0x80
const char* const changedNameText =
    "The name of “%1” is not valid UTF-8 and reached Korvo changed, so the file cannot be found; "
    "rename it and try again.";

// A lone surrogate standing for a byte: one in U+DC80..U+DCFF that is not the second half of a
// surrogate pair.
bool isCarriedByte(const QString& text, qsizetype i)
{
    const char16_t unit = text.at(i).unicode();
    return unit >= carriedByteBase + 0x80 && unit <= carriedByteBase + 0xFF
        && !(i > 0 && text.at(i - 1).isHighSurrogate());
}

} // namespace

namespace NativePath {

QString fromNative(const QByteArray& bytes)
{
    const std::string_view view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    QString text;
    std::size_t runStart = 0, at = 0;
    while (at < view.size()) {
        const std::size_t length = zip::utf8SequenceLength(view, at);
        if (length > 0) {
            at += length;
            continue;
        }
        text += QString::fromUtf8(bytes.constData() + runStart, static_cast<qsizetype>(at - runStart));
        text += QChar(static_cast<char16_t>(carriedByteBase + static_cast<unsigned char>(view[at])));
        runStart = ++at;
    }
    return text + QString::fromUtf8(bytes.constData() + runStart, static_cast<qsizetype>(at - runStart));
}

QByteArray toNative(const QString& path)
{
    QByteArray bytes;
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (!isCarriedByte(path, i))
            continue;
        bytes += QStringView(path).mid(runStart, i - runStart).toUtf8();
        bytes += static_cast<char>(path.at(i).unicode() - carriedByteBase);
        runStart = i + 1;
    }
    return bytes + QStringView(path).mid(runStart).toUtf8();
}

QString fromUrl(const QUrl& url)
{
    if (!url.isLocalFile())
        return {};
    return fromNative(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

QString displayText(const QString& path)
{
    QString text = path;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isCarriedByte(path, i))
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

} // namespace NativePath

UnrepresentableNameError::UnrepresentableNameError(const QString& path)
    : KorvoError(QString::fromUtf8(changedNameText).arg(QDir::cleanPath(path).section(QLatin1Char('/'), -1)))
{
}

void UnrepresentableNameError::throwIfChanged(const QString& path)
{
    if (!path.contains(QChar::ReplacementCharacter))
        return;
    struct stat info {};
    if (::lstat(NativePath::toNative(path).constData(), &info) != 0 && errno == ENOENT)
        throw UnrepresentableNameError(path);
}
