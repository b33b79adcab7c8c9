#pragma once

#include <QLoggingCategory>
#include <QObject>
#include <QPointer>
#include <QQuickWindow>
#include <QtQml/qqmlregistration.h>
#include <qcoro/qcorotask.h>

#include <optional>

#include <QStringList>

#include <functional>
#include <memory>

class KorvoStore;
class QQmlEngine;
class QJSEngine;

Q_DECLARE_LOGGING_CATEGORY(korvoLaunchLog)

// Owns the one store and the one main window for the whole run, and the settings window.
// Exposed to QML as the singleton `AppDelegate` so views can bring windows forward with the mouse.
class AppDelegate : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    explicit AppDelegate(KorvoStore* store, QObject* parent = nullptr);
    ~AppDelegate() override;

    static AppDelegate* create(QQmlEngine* engine, QJSEngine* scriptEngine);

    KorvoStore* store() const { return m_store; }

    // Application start: logs, builds and shows the main window.
    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();

    // Builds the main window on first use, then shows it and brings it to the front.
    Q_INVOKABLE void showMainWindow();
    // Shows the settings window (built on first use).
    Q_INVOKABLE void showSettings();
    // Files handed over at launch or by a later launch: the main window comes forward with them
    // selected (once the launch decision has run).
    void openFiles(const QStringList& paths);

    // Closing the main window quits the application (Linux) instead of hiding it (macOS). When
    // an operation runs, `confirmQuit` is asked first; a yes cancels the operation and quits.
    void setQuitOnClose(bool quit) { m_quitOnClose = quit; }
    std::function<bool()> confirmQuit;
    std::function<void()> quitApplication;

    QQuickWindow* mainWindow() const { return m_mainWindow; }
    QQuickWindow* settingsWindow() const { return m_settingsWindow; }

private:
    void buildMainWindow();
    void installMenuShortcuts(QQuickWindow* window);
    void publishLaunchProbe(QQuickWindow* window);
    bool eventFilter(QObject* watched, QEvent* event) override;
    QCoro::Task<> startStore();

    KorvoStore* m_store;
    std::unique_ptr<QQmlEngine> m_engine;
    QPointer<QQuickWindow> m_mainWindow;
    QPointer<QQuickWindow> m_settingsWindow;
    bool m_bootstrapped = false;
    bool m_quitOnClose = false;
    // Launch files waiting for the launch decision to end; none once it has.
    std::optional<QStringList> m_pendingFiles = QStringList();
};
