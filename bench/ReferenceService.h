#pragma once

// The reference online service on a free loopback port, in a temporary folder of its own, for
// benchmarks that drive the real bridge against it. Stopped when destroyed.

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

class ReferenceService {
public:
    inline static const QString source = QStringLiteral(KORVO_SOURCE_DIR);

    ReferenceService()
    {
        m_process.setProcessEnvironment(environment());
        m_process.start(QStringLiteral("node"), {source + "/service/halvane.mjs", "--port", "0", "--data", dataFolder()});
        QElapsedTimer waited;
        waited.start();
        static const QRegularExpression listening(QStringLiteral("listening on (https://\\S+)"));
        QByteArray seen;
        while (m_url.isEmpty() && waited.elapsed() < 60000 && m_process.state() != QProcess::NotRunning) {
            m_process.waitForReadyRead(200);
            seen += m_process.readAllStandardOutput();
            const auto match = listening.match(QString::fromUtf8(seen));
            if (match.hasMatch())
                m_url = match.captured(1);
        }
    }
    ~ReferenceService()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    QString url() const { return m_url; }
    QString dataFolder() const { return m_folder.filePath(QStringLiteral("data")); }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KORVO_TRUSTED_CA"), m_folder.filePath(QStringLiteral("trusted-ca.pem")));
        env.insert(QStringLiteral("KORVO_BRIDGE_SCRIPT"), source + "/bridge/korvo-bridge.mjs");
        return env;
    }
    // The code of the newest e-mail to `to`.
    QString latestCode(const QString& to) const
    {
        QProcess mail;
        mail.start(QStringLiteral("node"), {source + "/service/halvane.mjs", "latest-mail", "--data", dataFolder(), "--to", to, "--code"});
        mail.waitForFinished(30000);
        return QString::fromUtf8(mail.readAllStandardOutput()).trimmed();
    }

private:
    QTemporaryDir m_folder;
    QProcess m_process;
    QString m_url;
};

