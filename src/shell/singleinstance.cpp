#include "shell/singleinstance.h"

#include "common/datafiles.h"
#include "common/fs.h"

#include <QCoreApplication>
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
    lockFd_.reset(::open(Fs::encode(appFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    first_ = !lockFd_ || ::flock(lockFd_.get(), LOCK_EX | LOCK_NB) == 0;
    if (!first_)
        return;
    // A socket left behind by a killed instance would block listen().
    QLocalServer::removeServer(key_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    server_.listen(key_);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->readAll().contains("activate"))
                    return;
                emit activateRequested();
                // A process that shows no window says so: the later start must not
                // hand over to it silently.
                const bool shown = showsWindow_ && showsWindow_();
                socket->write((shown ? QByteArrayLiteral("shown ") : QByteArrayLiteral("hidden ")) +
                              QByteArray::number(QCoreApplication::applicationPid()) + '\n');
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
}

SingleInstance::Handover SingleInstance::activateFirst() {
    QLocalSocket socket;
    socket.connectToServer(key_);
    if (!socket.waitForConnected(2000))
        return Handover::NoAnswer;
    socket.write("activate\n");
    socket.flush();
    // Wait until the first instance has handled the request and answered.
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(2000))
        answer += socket.readAll();
    const QList<QByteArray> words = answer.trimmed().split(' ');
    firstProcess_ = words.value(1).toLongLong();
    if (words.value(0) == "shown")
        return Handover::Shown;
    return words.value(0) == "hidden" ? Handover::NoWindow : Handover::NoAnswer;
}

} // namespace arcsweep
