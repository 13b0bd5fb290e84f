#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>

class QLocalSocket;

namespace orv::ui {

// One running copy per user. The first start listens on a local socket named after
// "OrvandelRestore"; a later start finds it there, hands over the disk images it was given (one
// "open" line each, the path percent-encoded so no name can break the line), sends the activation
// (1152) and ends.
//
// The socket lives where only its user can make files: the user's runtime folder, or else a
// private folder of ours in the temporary folder whose owner and mode are checked. Both ends ask
// the kernel who is at the other end: a copy never hands its images to a socket another user
// listens on (it then runs as the first copy), and never takes orders from another user's process.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    static constexpr int kActivation = 1152;

    // The socket's full path for this user, or an empty text when no place for it can be trusted
    // (the program then runs on alone).
    static QString defaultName();

    explicit SingleInstance(QString name = defaultName(), QObject* parent = nullptr);

    // True when another copy of this user answered and was asked to come to the front (and to add
    // `images`).
    bool activateRunningCopy(const QStringList& images = {});
    // Starts listening; false when that is impossible (the program then runs on alone).
    bool listen();

    // True when the process at the other end of the connected local socket `fd` runs as this
    // process's user.
    static bool peerIsOurUser(qintptr fd);
    // True when `folder` is a folder (not a link) that belongs to this user and that nobody else
    // may write, read or enter.
    static bool privateFolder(const QString& folder);

signals:
    void activationRequested();
    void imageHanded(const QString& path);

private:
    void onConnection();

    QString m_name;
    QLocalServer m_server;
};

} // namespace orv::ui
