// Runs the views' Qt Quick tests with the application's QML module linked in. For the
// end-to-end test against the reference service, `Outbox.latestCode(to)` reads the code of the
// newest e-mail the service wrote for an address (its outbox folder is KORVO_TEST_OUTBOX).
#include <QDir>
#include <QFile>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QRegularExpression>
#include <QtQml/QQmlExtensionPlugin>
#include <QtQuickTest/quicktest.h>
#include <qcoro/qcoroqml.h>

Q_IMPORT_QML_PLUGIN(KorvoPlugin)

class Outbox : public QObject {
    Q_OBJECT
public:
    // The code of the newest message to `to`, or "" when there is none.
    Q_INVOKABLE QString latestCode(const QString& to) const
    {
        const QDir folder(qEnvironmentVariable("KORVO_TEST_OUTBOX"));
        const QStringList names = folder.entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name | QDir::Reversed);
        static const QRegularExpression toLine(QStringLiteral("^To: (.*)$"), QRegularExpression::MultilineOption);
        static const QRegularExpression codeLine(QStringLiteral("^X-Halvane-Code: (\\d+)"), QRegularExpression::MultilineOption);
        for (const QString& name : names) {
            QFile file(folder.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QString mail = QString::fromUtf8(file.readAll()).remove(QLatin1Char('\r'));
            if (toLine.match(mail).captured(1).trimmed().compare(to, Qt::CaseInsensitive) == 0)
                return codeLine.match(mail).captured(1);
        }
        return {};
    }
};

class ViewsTestSetup : public QObject {
    Q_OBJECT
public:
    ViewsTestSetup()
    {
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        QCoro::Qml::registerTypes();
    }

public slots:
    void qmlEngineAvailable(QQmlEngine* engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/"));
        engine->rootContext()->setContextProperty(QStringLiteral("Outbox"), &m_outbox);
    }

private:
    Outbox m_outbox;
};

QUICK_TEST_MAIN_WITH_SETUP(views, ViewsTestSetup)

#include "views_test_main.moc"
