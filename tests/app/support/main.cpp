// The store needs an event loop for its tasks and the thread pool for its background work; the
// delegate's windows need a GUI application (offscreen unless told otherwise).
#include <QGuiApplication>
#include <QQuickStyle>
#include <gtest/gtest.h>
#include <qcoro/qcoroqml.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QCoro::Qml::registerTypes();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
