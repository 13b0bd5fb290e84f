#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>

namespace orv::ui {

// One running copy per user. The first start listens on a local socket named after
// "OrvandelRestore"; a later start finds it there, hands over the disk images it was given (one
// "open" line each, the path percent-encoded so no name can break the line), sends the activation
// (1152) and ends.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    static constexpr int kActivation = 1152;

    // The socket name for this user.
    static QString defaultName();

    explicit SingleInstance(QString name = defaultName(), QObject* parent = nullptr);

    // True when another copy answered and was asked to come to the front (and to add `images`).
    bool activateRunningCopy(const QStringList& images = {});
    // Starts listening; false when that is impossible (the program then runs on alone).
    bool listen();

signals:
    void activationRequested();
    void imageHanded(const QString& path);

private:
    void onConnection();

    QString m_name;
    QLocalServer m_server;
};

} // namespace orv::ui
