#include "SingleInstance.h"

#include <QLocalSocket>

#include <unistd.h>

namespace orv::ui {

QString SingleInstance::defaultName()
{
    return QStringLiteral("OrvandelRestore-%1").arg(::getuid());
}

SingleInstance::SingleInstance(QString name, QObject* parent) : QObject(parent), m_name(std::move(name))
{
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::onConnection);
}

bool SingleInstance::activateRunningCopy()
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(500))
        return false;
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
                // Anything but the activation number is not ours and is ignored.
                if (socket->readLine().trimmed() == QByteArray::number(kActivation))
                    emit activationRequested();
            }
        });
    }
}

} // namespace orv::ui
