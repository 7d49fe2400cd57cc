#include "platform/InstanceChannel.h"

#include "platform/Profile.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QString>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace orvalink::platform {

namespace {

constexpr char kFolder[] = "/Orvalink.instance";
constexpr char kSocket[] = "/raise";
constexpr char kRequest[] = "raise\n";
constexpr char kAnswer[] = "ok\n";

std::string folderIn(std::string directory)
{
    if (directory.empty())
        directory = Profile::configDirectory();
    return directory + kFolder;
}

// The folder exists, is a real folder (not a link) of this user and nobody else may enter it.
bool makeOwnerOnlyFolder(const std::string& folder)
{
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    return (st.st_mode & 077) == 0 || ::chmod(folder.c_str(), 0700) == 0;
}

} // namespace

InstanceChannel::InstanceChannel(std::string directory, QObject* parent)
    : QObject(parent), m_directory(folderIn(std::move(directory))), m_socketPath(m_directory + kSocket)
{
}

InstanceChannel::~InstanceChannel() = default;

bool InstanceChannel::listen()
{
    if (isListening())
        return true;
    if (!makeOwnerOnlyFolder(m_directory))
        return false;
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString path = QString::fromStdString(m_socketPath);
    // Only the holder of the instance lock listens, so a socket already there was left by an
    // instance that ended without removing it.
    QLocalServer::removeServer(path);
    if (!server->listen(path))
        return false;
    m_server = std::move(server);
    connect(m_server.get(), &QLocalServer::newConnection, this, &InstanceChannel::acceptConnections);
    return true;
}

bool InstanceChannel::isListening() const
{
    return m_server && m_server->isListening();
}

void InstanceChannel::acceptConnections()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > 64)
                    socket->abort(); // not our request
                return;
            }
            const QByteArray line = socket->readLine();
            if (line == kRequest) {
                emit raiseRequested();
                socket->write(kAnswer);
                socket->flush();
            }
            socket->disconnectFromServer();
        });
    }
}

bool InstanceChannel::requestRaise(const std::string& directory, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(folderIn(directory) + kSocket));
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kRequest);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    return socket.readLine() == kAnswer;
}

} // namespace orvalink::platform
