// Runs the views' Qt Quick tests with the application's QML module linked in.
#include <QQmlEngine>
#include <QQuickStyle>
#include <QtQml/QQmlExtensionPlugin>
#include <QtQuickTest/quicktest.h>
#include <qcoro/qcoroqml.h>

Q_IMPORT_QML_PLUGIN(KorvoPlugin)

class ViewsTestSetup : public QObject {
    Q_OBJECT
public:
    ViewsTestSetup() { QQuickStyle::setStyle(QStringLiteral("Basic")); QCoro::Qml::registerTypes(); }
public slots:
    void qmlEngineAvailable(QQmlEngine* engine) { engine->addImportPath(QStringLiteral("qrc:/")); }
};

QUICK_TEST_MAIN_WITH_SETUP(views, ViewsTestSetup)

#include "views_test_main.moc"
