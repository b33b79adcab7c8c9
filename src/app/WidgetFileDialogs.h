#pragma once

#include "FileDialogs.h"

#include <memory>

// The application's open and save panels (QFileDialog): the desktop's own through its portal
// where Qt's portal theme is in use, otherwise Qt's dialog in the main window's dark colours.
// The open panel can return files and folders together when folders are allowed.
std::shared_ptr<FileDialogs> makeWidgetFileDialogs();

