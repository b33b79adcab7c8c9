#include "AppDelegate.h"
#include "KorvoStore.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QQuickStyle>
#include <QtQml/QQmlExtensionPlugin>
#include <qcoro/qcoroqml.h>

Q_IMPORT_QML_PLUGIN(KorvoPlugin)

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvo"));
    QApplication::setApplicationVersion(QStringLiteral(KORVO_APP_VERSION));
    // Closing the main window leaves the application running; Ctrl+0 brings it back.
    QApplication::setQuitOnLastWindowClosed(false);
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QCoro::Qml::registerTypes();

    // A second launch brings the running instance's window back instead of opening another.
    SingleInstance instance;
    if (instance.askRunningInstanceToReopen())
        return 0;

    KorvoStore store(StoreDependencies::standard());
    KorvoStore::setApplicationStore(&store);
    AppDelegate delegate(&store);
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    instance.listen([&delegate] { delegate.showMainWindow(); });
    return application.exec();
}
