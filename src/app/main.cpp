#include "AppDelegate.h"
#include "KorvoStore.h"

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

    KorvoStore store(StoreDependencies::standard());
    KorvoStore::setApplicationStore(&store);
    AppDelegate delegate(&store);
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    return application.exec();
}
