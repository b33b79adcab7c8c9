#pragma once

#include <QString>

#include <cstdio>

// What korvo-cli prints. Messages go to standard error as "korvo-cli: ..." so that standard
// output carries only results (the saved path, or the data itself when writing to "-").
namespace Console {

enum class Level { quiet, normal, verbose };
void setLevel(Level level);
Level level();

// Raw bytes of the text (file names keep their own bytes) and a newline.
void printLine(std::FILE* stream, const QString& text);
// "korvo-cli: <text>" on standard error: always for errors, else unless quiet.
void error(const QString& text);
void note(const QString& text);
// Only with -v.
void detail(const QString& text);

} // namespace Console
