#pragma once

#include <QString>

// The environment variables read at launch to start in a fixed state (automated interface
// checks) or to report the main window's visibility.
namespace LaunchEnvironment {
inline const QString startRoute = QStringLiteral("KORVO_START_ROUTE");
inline const QString startTarget = QStringLiteral("KORVO_START_TARGET");
inline const QString recipientSecretId = QStringLiteral("KORVO_RECIPIENT_SECRET_ID");
inline const QString registrationProbeEmail = QStringLiteral("KORVO_REGISTRATION_PROBE_EMAIL");
inline const QString registrationProbePassword = QStringLiteral("KORVO_REGISTRATION_PROBE_PASSWORD");
inline const QString launchProbePath = QStringLiteral("KORVO_LAUNCH_PROBE_PATH");
}
