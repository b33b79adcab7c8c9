#pragma once

#include <QString>

// Suggested output names in local mode, from the input's file name (last path component).
namespace OutputNames {

inline const QString lockedExtension = QStringLiteral(".korvolocal");
inline const QString accountExtension = QStringLiteral(".korvo");

// report.pdf -> report.pdf.korvolocal
QString lockedName(const QString& fileName);

// Drops a trailing ".korvolocal"; otherwise a trailing ".korvo"; otherwise removes every ".zip"
// anywhere in the name. Suffixes are matched case-sensitively. May return an empty name.
QString openedName(const QString& fileName);

} // namespace OutputNames
