#include "AppDelegate.h"
#include "KorvoStore.h"
#include "SingleInstance.h"
#include "core/Cancellation.h"
#include "core/NativePath.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QQuickStyle>
#include <QtQml/QQmlExtensionPlugin>
#include <qcoro/qcoroqml.h>

#include <unistd.h>

Q_IMPORT_QML_PLUGIN(KorvoPlugin)

namespace {
// Where a desktop portal may run, file dialogs go through it (Qt's platform theme for it falls
// back to Qt's own dialogs when no portal answers). A theme the user chose stays.
void preferPortalDialogs()
{
#ifndef Q_OS_MACOS
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORMTHEME") || !qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        return;
    const QString plugin = QLibraryInfo::path(QLibraryInfo::PluginsPath)
        + QStringLiteral("/platformthemes/libqxdgdesktopportal.so");
    if (QFileInfo::exists(plugin))
        qputenv("QT_QPA_PLATFORMTHEME", "xdgdesktopportal");
#endif
}

// The files named on the command line (what a file manager runs), as absolute paths with their
// bytes kept; Qt's own options are already gone from argv.
QStringList launchFiles(int argc, char* argv[])
{
    QStringList files;
    char* here = ::getcwd(nullptr, 0);
    const QString folder = here ? NativePath::fromNative(QByteArray(here)) : QString();
    ::free(here);
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument.isEmpty() || (!optionsEnded && argument.startsWith('-')))
            continue;
        const QString path = NativePath::fromNative(argument);
        files.append(path.startsWith(QLatin1Char('/')) || folder.isEmpty() ? path : folder + QLatin1Char('/') + path);
    }
    return files;
}
} // namespace

int main(int argc, char* argv[])
{
    preferPortalDialogs();
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Korvo"));
    QApplication::setApplicationName(QStringLiteral("Korvo"));
    QApplication::setApplicationDisplayName(QStringLiteral("Korvo"));
    QApplication::setApplicationVersion(QStringLiteral(KORVO_APP_VERSION));
    // The desktop entry's name: task bars match the window to its icon by it.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.korvo.Korvo"));
    // The main window's close decides (AppDelegate): quit on Linux, hide on macOS.
    QApplication::setQuitOnLastWindowClosed(false);
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QCoro::Qml::registerTypes();

    // A second launch hands its files to the running instance and brings its window back
    // instead of opening another.
    const QStringList files = launchFiles(argc, argv);
    SingleInstance instance;
    if (instance.askRunningInstanceToReopen(files))
        return 0;

    KorvoStore store(StoreDependencies::standard());
    KorvoStore::setApplicationStore(&store);
    AppDelegate delegate(&store);
#ifndef Q_OS_MACOS
    delegate.setQuitOnClose(true);
#endif
    delegate.applicationWillFinishLaunching();
    delegate.openFiles(files);   // selected once the launch decision has run
    delegate.applicationDidFinishLaunching();
    instance.listen([&delegate](const QStringList& handed) { delegate.openFiles(handed); });
    // Quitting stops a running operation; whatever scratch file is still listed goes.
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &store, [&store] { store.cancelOperation(); });
    const int status = application.exec();
    ScratchFiles::removeAll();
    return status;
}
