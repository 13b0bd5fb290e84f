#include "shell/ui/SingleInstance.h"

#include <QLocalSocket>

#include <unistd.h>

namespace orv::ui {

namespace {
const QByteArray kOpen = QByteArrayLiteral("open ");
} // namespace

QString SingleInstance::defaultName()
{
    return QStringLiteral("OrvandelRestore-%1").arg(::getuid());
}

SingleInstance::SingleInstance(QString name, QObject* parent) : QObject(parent), m_name(std::move(name))
{
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::onConnection);
}

bool SingleInstance::activateRunningCopy(const QStringList& images)
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(500))
        return false;
    for (const QString& image : images)
        socket.write(kOpen + image.toUtf8().toPercentEncoding() + '\n');
    socket.write(QByteArray::number(kActivation) + '\n');
    socket.waitForBytesWritten(500);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen()
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (m_server.listen(m_name))
        return true;
    // A socket file left by a copy that crashed: nobody answered on it a moment ago.
    QLocalServer::removeServer(m_name);
    return m_server.listen(m_name);
}

void SingleInstance::onConnection()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                // Anything but the activation number and image lines is not ours and is ignored.
                const QByteArray line = socket->readLine().trimmed();
                if (line == QByteArray::number(kActivation))
                    emit activationRequested();
                else if (line.startsWith(kOpen) && line.size() > kOpen.size())
                    emit imageHanded(QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(kOpen.size()))));
            }
        });
    }
}

} // namespace orv::ui
