#pragma once

#include "core/KorvoError.h"

#include <QByteArray>
#include <QString>

class QUrl;

// File names are bytes to the system and text to Qt. A name whose bytes are not UTF-8 (a file
// named in a legacy encoding) is carried through QString with each byte that is not part of a
// UTF-8 sequence as a lone surrogate U+DC80..U+DCFF, and turned back into the very same bytes
// here. Every path the engine hands to the system goes through toNative().
namespace NativePath {

// Bytes from the system (a command-line argument, a folder listing, a percent-decoded URL).
QString fromNative(const QByteArray& bytes);
// The bytes to hand to the system; the exact inverse of fromNative().
QByteArray toNative(const QString& path);
// A local file URL (a drop, a dialog's answer) with its bytes kept; empty for other URLs.
QString fromUrl(const QUrl& url);
// The same text for showing: carried bytes read as U+FFFD.
QString displayText(const QString& path);

} // namespace NativePath

// A path that reached the engine already changed: a name holding bytes that are not UTF-8 was
// decoded into text with replacement characters before the engine saw it (some dialogs and
// toolkits do that), so the file it named cannot be found under it.
class UnrepresentableNameError : public KorvoError {
public:
    explicit UnrepresentableNameError(const QString& path);

    // Throws when `path` is missing and its name shows the marks of such a decoding.
    static void throwIfChanged(const QString& path);
};
