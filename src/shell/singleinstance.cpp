#include "shell/singleinstance.h"

#include "common/datafiles.h"
#include "common/fs.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace arcsweep {

QString SingleInstance::keyFor(const QString &appFolder) {
    const QByteArray hash =
        QCryptographicHash::hash(appFolder.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("arcsweep-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash));
}

SingleInstance::SingleInstance(const QString &appFolder, QObject *parent)
    : QObject(parent), key_(keyFor(appFolder)) {
    // The lock is on the AppFolder itself: whatever $TMPDIR says, two programs never
    // share its files. The kernel lets go of it when the process ends, however it
    // ends, so a killed instance leaves nothing behind that blocks the next one, and
    // no file is written for it.
    lockFd_ = ::open(Fs::encode(appFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    first_ = lockFd_ < 0 || ::flock(lockFd_, LOCK_EX | LOCK_NB) == 0;
    if (!first_)
        return;
    // A socket left behind by a killed instance would block listen().
    QLocalServer::removeServer(key_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    server_.listen(key_);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains("activate"))
                    emit activateRequested();
                socket->write("ok");
                socket->flush();
                socket->disconnectFromServer();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

SingleInstance::~SingleInstance() {
    if (first_)
        server_.close();
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

bool SingleInstance::activateFirst() {
    QLocalSocket socket;
    socket.connectToServer(key_);
    if (!socket.waitForConnected(2000))
        return false;
    socket.write("activate\n");
    socket.flush();
    // Wait until the first instance has handled the request.
    return socket.waitForReadyRead(2000);
}

} // namespace arcsweep
