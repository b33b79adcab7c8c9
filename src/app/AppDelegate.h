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
    // an operation runs, the window asks first ("Quit Korvo?", quitQuestionShown); while it asks,
    // the operation does not open its save panel. "Quit" cancels the operation and quits once it
    // has wound down (its unfinished files removed); an operation that ends while the question is
    // open withdraws it, and the close goes ahead.
    void setQuitOnClose(bool quit) { m_quitOnClose = quit; }
    std::function<void()> quitApplication;
    Q_PROPERTY(bool quitQuestionShown READ quitQuestionShown NOTIFY quitQuestionShownChanged)
    bool quitQuestionShown() const { return m_quitQuestionShown; }
    Q_INVOKABLE void answerQuitQuestion(bool quit);
    Q_SIGNAL void quitQuestionShownChanged();
    // How long a cancelled operation may take to wind down before the application quits anyway.
    static constexpr int quitWindDownMs = 10000;

    QQuickWindow* mainWindow() const { return m_mainWindow; }
    QQuickWindow* settingsWindow() const { return m_settingsWindow; }

private:
    void buildMainWindow();
    void installMenuShortcuts(QQuickWindow* window);
    void publishLaunchProbe(QQuickWindow* window);
    bool eventFilter(QObject* watched, QEvent* event) override;
    QCoro::Task<> startStore();
    void setQuitQuestionShown(bool shown);
    void quitWhenIdle();
    void quitOnce();
    // The keyring is asked again when the main window becomes active while it had a problem.
    QCoro::Task<> recheckKeyring();

    KorvoStore* m_store;
    std::unique_ptr<QQmlEngine> m_engine;
    QPointer<QQuickWindow> m_mainWindow;
    QPointer<QQuickWindow> m_settingsWindow;
    bool m_bootstrapped = false;
    bool m_quitOnClose = false;
    bool m_quitQuestionShown = false;
    bool m_quitting = false;
    bool m_quitDone = false;
    bool m_keyringChecking = false;
    // Launch files waiting for the launch decision to end; none once it has.
    std::optional<QStringList> m_pendingFiles = QStringList();
};
