#include "AppDelegate.h"

#include "KorvoStore.h"
#include "LaunchEnvironment.h"

#include <QGuiApplication>
#include <QJSEngine>
#include <QKeySequence>
#include <QPointer>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickView>
#include <QSaveFile>
#include <QScreen>
#include <QShortcut>
#include <QTimer>

Q_LOGGING_CATEGORY(korvoLaunchLog, "com.korvo.security.macos.launch")

namespace {
QPointer<AppDelegate> applicationDelegate;

const QString windowTitle = QStringLiteral("Korvo");
const QString settingsTitle = QStringLiteral("Korvo Settings");
const QUrl rootViewUrl(QStringLiteral("qrc:/Korvo/qml/RootView.qml"));
const QUrl settingsViewUrl(QStringLiteral("qrc:/Korvo/qml/settings/KorvoSettingsView.qml"));
constexpr QSize minimumWindowSize(980, 640);
constexpr QSize contentSize(1240, 760);
constexpr QSize settingsSize(520, 460);
const QKeySequence openKorvoShortcut(QStringLiteral("Ctrl+0"));
const QKeySequence settingsShortcut(QStringLiteral("Ctrl+,"));

void centreOnScreen(QWindow* window)
{
    if (QScreen* screen = window->screen()) {
        QRect frame(QPoint(), window->size());
        frame.moveCenter(screen->availableGeometry().center());
        window->setPosition(frame.topLeft());
    }
}
} // namespace

AppDelegate::AppDelegate(KorvoStore* store, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_engine(std::make_unique<QQmlEngine>())
{
    applicationDelegate = this;
    // The module's qmldir is compiled in at qrc:/Korvo/qmldir: `import Korvo` looks there.
    m_engine->addImportPath(QStringLiteral("qrc:/"));
}

AppDelegate::~AppDelegate()
{
    delete m_settingsWindow;
    delete m_mainWindow;
}

AppDelegate* AppDelegate::create(QQmlEngine* engine, QJSEngine* scriptEngine)
{
    // View tests run without the application: give them a delegate on the test store.
    if (!applicationDelegate)
        new AppDelegate(KorvoStore::create(engine, scriptEngine), engine);
    QJSEngine::setObjectOwnership(applicationDelegate, QJSEngine::CppOwnership);
    return applicationDelegate;
}

void AppDelegate::applicationWillFinishLaunching()
{
    qCInfo(korvoLaunchLog) << "Application will finish launching";
}

void AppDelegate::applicationDidFinishLaunching()
{
    showMainWindow();
    qCInfo(korvoLaunchLog) << "Application finished launching with a visible main window";
    if (qEnvironmentVariable(LaunchEnvironment::openSettings.toLatin1().constData()) == QLatin1String("1"))
        showSettings();
}

void AppDelegate::installMenuShortcuts(QQuickWindow* window)
{
    auto* openKorvo = new QShortcut(openKorvoShortcut, window);
    connect(openKorvo, &QShortcut::activated, this, &AppDelegate::showMainWindow);
    auto* settings = new QShortcut(settingsShortcut, window);
    connect(settings, &QShortcut::activated, this, &AppDelegate::showSettings);
}

void AppDelegate::buildMainWindow()
{
    auto* view = new QQuickView(m_engine.get(), nullptr);
    view->setTitle(windowTitle);
    view->setResizeMode(QQuickView::SizeRootObjectToView);
    view->setColor(Qt::black);
    view->setMinimumSize(minimumWindowSize);
    view->resize(contentSize);
    view->setSource(rootViewUrl);
    centreOnScreen(view);
    installMenuShortcuts(view);
    m_mainWindow = view;
}

void AppDelegate::showMainWindow()
{
    const bool firstShowing = !m_mainWindow;
    if (firstShowing)
        buildMainWindow();
    m_mainWindow->show();
    m_mainWindow->raise();
    m_mainWindow->requestActivate();
    if (firstShowing) {
        // The root view's appearance task.
        m_store->bootstrapTask();
    }
    publishLaunchProbe(m_mainWindow);
}

void AppDelegate::showSettings()
{
    if (!m_settingsWindow) {
        auto* view = new QQuickView(m_engine.get(), nullptr);
        view->setTitle(settingsTitle);
        view->setResizeMode(QQuickView::SizeRootObjectToView);
        view->setColor(Qt::black);
        view->setMinimumSize(settingsSize);
        view->setMaximumSize(settingsSize);
        view->resize(settingsSize);
        view->setSource(settingsViewUrl);
        installMenuShortcuts(view);
        m_settingsWindow = view;
    }
    m_settingsWindow->show();
    m_settingsWindow->raise();
    m_settingsWindow->requestActivate();
}

void AppDelegate::publishLaunchProbe(QQuickWindow* window)
{
    const QByteArray probePath = qgetenv(LaunchEnvironment::launchProbePath.toLatin1().constData());
    if (probePath.isNull())
        return;
    QPointer<QQuickWindow> target = window;
    QTimer::singleShot(0, this, [target, path = QString::fromLocal8Bit(probePath)] {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write(target && target->isVisible() ? "visible\n" : "hidden\n");
        file.commit();
    });
}
