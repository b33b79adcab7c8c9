#pragma once

#include <QString>

// Where Korvo keeps its own files: the "Korvo" folder under the user's application data
// folder. Services take an AppPaths in their constructor so tests can point them at a
// temporary folder.
class AppPaths {
public:
    // The user's real data folder (GenericDataLocation + "/Korvo").
    static AppPaths standard();
    // A data folder chosen by the caller (tests, tools).
    explicit AppPaths(QString dataDirectory);

    // The data folder, without creating it.
    const QString& dataDirectory() const { return m_dataDirectory; }
    // The full path of a file in the data folder; creates the folder when missing.
    QString dataFile(const QString& fileName) const;

private:
    QString m_dataDirectory;
};
