#include "cli/Console.h"

#include "core/NativePath.h"

namespace Console {
namespace {

Level currentLevel = Level::normal;

void message(const QString& text)
{
    printLine(stderr, QStringLiteral("korvo-cli: ") + text);
}

} // namespace

void setLevel(Level level)
{
    currentLevel = level;
}

Level level()
{
    return currentLevel;
}

void printLine(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = NativePath::toNative(text) + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

void error(const QString& text)
{
    message(text);
}

void note(const QString& text)
{
    if (currentLevel != Level::quiet)
        message(text);
}

void detail(const QString& text)
{
    if (currentLevel == Level::verbose)
        message(text);
}

} // namespace Console
