#pragma once

#include "FileDialogs.h"

#include <memory>

// The application's open and save panels (QFileDialog). The open panel can return files and
// folders together when folders are allowed.
std::shared_ptr<FileDialogs> makeWidgetFileDialogs();
