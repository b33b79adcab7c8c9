#pragma once

#include <QString>

// Suggested names for saved files, from the input's file name (its last path component).
// Shared by everything that proposes an output name, so the rules exist once.
namespace OutputNames {

inline const QString localExtension = QStringLiteral(".korvolocal");
inline const QString accountExtension = QStringLiteral(".korvo");

// report.pdf -> report.pdf.korvolocal (local mode) or report.pdf.korvo (account mode).
QString protectedName(const QString& fileName, bool localMode);

// In local mode a trailing ".korvolocal" is dropped; otherwise a trailing ".korvo"; otherwise
// every ".zip" anywhere in the name is removed. Case-sensitive. May return an empty name.
QString openedName(const QString& fileName, bool localMode);

} // namespace OutputNames
