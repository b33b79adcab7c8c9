#pragma once

#include <QString>

// Every user-facing sentence is written once, in the words of the desktop system the product
// was designed on ("this Mac"). This is the one place that adapts them to the platform the
// build runs on: unchanged on macOS, "computer" for the word "Mac" everywhere else.
// Texts already stored (history files) are never passed through again.
QString platformText(const QString& text);
