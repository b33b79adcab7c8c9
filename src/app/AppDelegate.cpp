#include "AppDelegate.h"

#include "AccessibleControls.h"
#include "KorvoStore.h"
#include "LaunchEnvironment.h"

#include <QGuiApplication>
#include <QIcon>
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
// The icon theme's name of the application icon, installed with the desktop entry.
const QString applicationIconName = QStringLiteral("com.korvo.Korvo");
const QUrl rootViewUrl(QStringLiteral("qrc:/Korvo/qml/RootView.qml"));
const QUrl settingsViewUrl(QStringLiteral("qrc:/Korvo/qml/settings/KorvoSettingsView.qml"));
constexpr QSize minimumWindowSize(980, 640);
constexpr QSize contentSize(1240, 760);
constexpr QSize settingsSize(520, 460);
const QKeySequence openKorvoShortcut(QStringLiteral("Ctrl+0"));
// Built from the key: as text, the comma would read as the separator of a key sequence.
const QKeySequence settingsShortcut(Qt::CTRL | Qt::Key_Comma);

// The installed theme's icon, else the copies built into the program (run from the build tree).
QIcon applicationIcon()
{
    QIcon builtIn;
    for (int size : {32, 64, 256})
        builtIn.addFile(QStringLiteral(":/Korvo/icons/korvo-%1.png").arg(size));
    return QIcon::fromTheme(applicationIconName, builtIn);
}

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
    AccessibleControls::install();
    // The launch's bridge health check, for whoever reads the log (an installation finds its bridge).
    connect(store, &KorvoStore::bridgeCheckChanged, this, [store] {
        const QVariantMap check = store->bridgeCheck();
        if (!check.isEmpty())
            qCInfo(korvoLaunchLog).noquote() << "Bridge health check passed: sdk" << check.value(QStringLiteral("sdkVersion")).toString()
                                             << "node" << check.value(QStringLiteral("node")).toString()
                                             << "service" << check.value(QStringLiteral("blackboxUrl")).toString();
    });
    quitApplication = [] { QCoreApplication::quit(); };
    // A job that ends while the quit question is open withdraws it: the close goes ahead. A
    // cancelled job that has wound down lets the application quit.
    connect(store, &KorvoStore::isBusyChanged, this, [this] {
        if (m_store->isBusy())
            return;
        if (m_quitQuestionShown) {
            setQuitQuestionShown(false);
            m_quitting = true;
        }
        if (m_quitting)
            quitOnce();
    });
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
    view->setIcon(applicationIcon());
    view->installEventFilter(this);
    // The keyring may have come back since it last failed to answer.
    connect(view, &QWindow::activeChanged, this, [this] {
        if (m_mainWindow && m_mainWindow->isActive())
            recheckKeyring();
    });
    m_mainWindow = view;
}

void AppDelegate::showMainWindow()
{
    // The launch decision starts as the window is built, so that a decision that needs no waiting
    // (a start state) is made before the root view is, and its first frame shows that screen.
    if (!m_mainWindow) {
        startStore();
        buildMainWindow();
    }
    m_mainWindow->show();
    m_mainWindow->raise();
    m_mainWindow->requestActivate();
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

// The root view's appearance task: the launch decision, any files handed over meanwhile, the
// keyring check (local mode's line never says "ready" over a keyring that cannot answer), and the
// bridge's health check when the launch decision did not run one.
QCoro::Task<> AppDelegate::startStore()
{
    QPointer<AppDelegate> self = this;
    QCoro::Task<> bootstrapping = m_store->bootstrapTask();
    co_await bootstrapping;
    if (!self)
        co_return;
    const QStringList files = m_pendingFiles.value_or(QStringList());
    m_pendingFiles.reset();
    m_store->selectLaunchFiles(files);
    QCoro::Task<> checking = m_store->checkKeyringTask();
    co_await checking;
    if (!self || !m_store->bridgeCheck().isEmpty())
        co_return;
    QCoro::Task<> bridgeChecking = m_store->checkBridgeTask();
    co_await bridgeChecking;
    if (self && m_store->bridgeCheck().isEmpty())
        qCInfo(korvoLaunchLog) << "Bridge health check failed: account mode is unavailable";
}

void AppDelegate::openFiles(const QStringList& paths)
{
    if (m_pendingFiles)
        m_pendingFiles->append(paths);
    else
        m_store->selectLaunchFiles(paths);
    // Before launch has finished, the window comes with applicationDidFinishLaunching().
    if (m_mainWindow)
        showMainWindow();
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_mainWindow || event->type() != QEvent::Close || !m_quitOnClose)
        return QObject::eventFilter(watched, event);
    if (m_store->isBusy() && !m_quitting) {
        event->ignore();
        setQuitQuestionShown(true);
        return true;
    }
    quitWhenIdle();
    return false;
}

void AppDelegate::setQuitQuestionShown(bool shown)
{
    if (shown == m_quitQuestionShown)
        return;
    m_quitQuestionShown = shown;
    // The job's save panel waits while the question is open, so the two never stack.
    m_store->setSavePanelHeld(shown);
    emit quitQuestionShownChanged();
}

void AppDelegate::answerQuitQuestion(bool quit)
{
    if (!m_quitQuestionShown)
        return;
    // Cancelled before the held save panel is let go, so it never opens.
    if (quit) {
        m_quitting = true;
        m_store->cancelOperation();
    }
    setQuitQuestionShown(false);
    if (quit)
        quitWhenIdle();
}

// The running job is cancelled and the application quits once it has wound down and removed
// its unfinished files (the isBusyChanged connection), or after quitWindDownMs at the latest.
void AppDelegate::quitWhenIdle()
{
    m_quitting = true;
    m_store->cancelOperation();
    if (!m_store->isBusy()) {
        quitOnce();
        return;
    }
    QTimer::singleShot(quitWindDownMs, this, &AppDelegate::quitOnce);
}

void AppDelegate::quitOnce()
{
    if (m_quitDone)
        return;
    m_quitDone = true;
    if (quitApplication)
        quitApplication();
}

// Cheap: nothing is asked while the keyring answers, and one question at a time, off the
// window's thread (the store's keychain queue).
QCoro::Task<> AppDelegate::recheckKeyring()
{
    if (m_keyringChecking || m_store->keyringProblem().isEmpty())
        co_return;
    QPointer<AppDelegate> self = this;
    m_keyringChecking = true;
    QCoro::Task<> checking = m_store->checkKeyringTask();
    co_await checking;
    if (self)
        m_keyringChecking = false;
}
