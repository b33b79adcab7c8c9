#include "SingleInstance.h"

#include "core/NativePath.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

namespace {
// The request: this line, then each file's path as its bytes followed by a NUL byte.
const QByteArray reopenRequest = QByteArrayLiteral("reopen\n");
constexpr int connectTimeoutMs = 500;
constexpr qint64 requestLimit = 4 << 20;
} // namespace

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), m_socketPath(std::move(socketPath))
{
}

QString SingleInstance::defaultSocketPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("korvo-%1.socket").arg(::getuid()));
}

bool SingleInstance::askRunningInstanceToReopen(const QStringList& files) const
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(connectTimeoutMs))
        return false;
    QByteArray request = reopenRequest;
    for (const QString& file : files)
        request += NativePath::toNative(file) + '\0';
    socket.write(request);
    if (!socket.waitForBytesWritten(connectTimeoutMs))
        return false;
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen(std::function<void(const QStringList& files)> reopen)
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket left by an instance that was killed answers nobody: take its place.
    QLocalServer::removeServer(m_socketPath);
    if (!m_server->listen(m_socketPath))
        return false;
    connect(m_server, &QLocalServer::newConnection, this, [this, reopen = std::move(reopen)] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            // The request is whole once the other side has hung up.
            auto received = std::make_shared<QByteArray>();
            connect(socket, &QLocalSocket::readyRead, socket, [socket, received] {
                *received += socket->readAll();
                if (received->size() > requestLimit)
                    socket->abort();
            });
            connect(socket, &QLocalSocket::disconnected, socket, [socket, received, reopen] {
                *received += socket->readAll();
                socket->deleteLater();
                if (!received->startsWith(reopenRequest) || received->size() > requestLimit)
                    return;
                QStringList files;
                const QList<QByteArray> parts = received->mid(reopenRequest.size()).split('\0');
                for (const QByteArray& part : parts) {
                    if (!part.isEmpty())
                        files.append(NativePath::fromNative(part));
                }
                reopen(files);
            });
        }
    });
    return true;
}
