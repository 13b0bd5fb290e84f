#include "shell/ui/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orv::ui {

namespace {
const QByteArray kOpen = QByteArrayLiteral("open ");
const QString kSocketName = QStringLiteral("OrvandelRestore");
} // namespace

bool SingleInstance::privateFolder(const QString& folder)
{
    struct stat info
    {};
    return !folder.isEmpty() && ::lstat(QFile::encodeName(folder).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
        info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

QString SingleInstance::defaultName()
{
    // The runtime folder is the user's own (0700) by its standard; it is checked all the same, as
    // the variable may name any folder.
    const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (privateFolder(runtime))
        return runtime + QLatin1Char('/') + kSocketName;
    // The shared temporary folder: a folder of our own there, made private. A name another user
    // took first (a folder of theirs, a link, a file) is not ours, and no socket is made in it.
    const QString folder = QDir::tempPath() + QStringLiteral("/OrvandelRestore-%1").arg(::geteuid());
    ::mkdir(QFile::encodeName(folder).constData(), 0700);
    if (!privateFolder(folder))
        return {};
    return folder + QLatin1Char('/') + kSocketName;
}

bool SingleInstance::peerIsOurUser(qintptr fd)
{
    struct ucred peer
    {};
    socklen_t size = sizeof peer;
    return fd >= 0 && ::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
        size == sizeof peer && peer.uid == ::geteuid();
}

SingleInstance::SingleInstance(QString name, QObject* parent) : QObject(parent), m_name(std::move(name))
{
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::onConnection);
}

bool SingleInstance::activateRunningCopy(const QStringList& images)
{
    if (m_name.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(500))
        return false;
    // Whoever listens there must be this user: the images' paths go to no one else, and a socket
    // someone else holds must not keep this copy from starting.
    if (!peerIsOurUser(socket.socketDescriptor())) {
        socket.abort();
        return false;
    }
    for (const QString& image : images)
        socket.write(kOpen + image.toUtf8().toPercentEncoding() + '\n');
    socket.write(QByteArray::number(kActivation) + '\n');
    socket.waitForBytesWritten(500);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen()
{
    if (m_name.isEmpty())
        return false;
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
        // Another user's process gets no say over this window and its drive list.
        if (!peerIsOurUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // Every line is taken now and acted on once the socket's own signal has returned:
            // acting may show a message, whose loop can see the other copy hang up and delete
            // this socket while Qt is still inside its readyRead.
            QList<QByteArray> lines;
            while (socket->canReadLine())
                lines.append(socket->readLine().trimmed());
            QMetaObject::invokeMethod(
                this,
                [this, lines] {
                    for (const QByteArray& line : lines) {
                        // Anything but the activation number and image lines is not ours and is ignored.
                        if (line == QByteArray::number(kActivation))
                            emit activationRequested();
                        else if (line.startsWith(kOpen) && line.size() > kOpen.size())
                            emit imageHanded(
                                QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(kOpen.size()))));
                    }
                },
                Qt::QueuedConnection);
        });
    }
}

} // namespace orv::ui
