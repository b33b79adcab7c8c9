#pragma once

#include <QString>
#include <QStringList>

// The environment variables read at launch to start in a fixed state (automated interface
// checks) or to report the main window's visibility.
//
// Automated-interface-check states, applied once the launch decision has run (they change no
// saved data and are meant for screen captures):
//   KORVO_START_SELECTION  paths separated by ":" become the selected files and folders
//                          (a folder may end in "/"; empty parts are skipped);
//   KORVO_START_BUSY       a busy line: the store stays busy and shows it as its status;
//   KORVO_START_ERROR      a sentence shown as the store's error;
//   KORVO_OPEN_SETTINGS=1  the settings window opens after the main window.
namespace LaunchEnvironment {
inline const QString startRoute = QStringLiteral("KORVO_START_ROUTE");
inline const QString startTarget = QStringLiteral("KORVO_START_TARGET");
inline const QString recipientSecretId = QStringLiteral("KORVO_RECIPIENT_SECRET_ID");
inline const QString registrationProbeEmail = QStringLiteral("KORVO_REGISTRATION_PROBE_EMAIL");
inline const QString registrationProbePassword = QStringLiteral("KORVO_REGISTRATION_PROBE_PASSWORD");
inline const QString launchProbePath = QStringLiteral("KORVO_LAUNCH_PROBE_PATH");
inline const QString startSelection = QStringLiteral("KORVO_START_SELECTION");
inline const QString startBusy = QStringLiteral("KORVO_START_BUSY");
inline const QString startError = QStringLiteral("KORVO_START_ERROR");
inline const QString openSettings = QStringLiteral("KORVO_OPEN_SETTINGS");

// The paths of KORVO_START_SELECTION in their order, without empty parts.
inline QStringList selectionPaths(const QString& value)
{
    return value.split(QLatin1Char(':'), Qt::SkipEmptyParts);
}
}
