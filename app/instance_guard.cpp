#include "app/instance_guard.h"

#include <QDataStream>
#include <QDir>
#include <QLocalSocket>
#include <QLockFile>

#include "form/instance_rule.h"
#include "form/program_identity.h"
#include "platform/processes.h"

namespace vn {
namespace {

constexpr int kConnectWaitMs = 1000;
constexpr int kWriteWaitMs = 1000;
constexpr int kClaimLockWaitMs = 5000;
constexpr qsizetype kMessageSize = 4;

QByteArray HandOverBytes() {
  QByteArray bytes;
  QDataStream stream(&bytes, QIODevice::WriteOnly);
  stream.setByteOrder(QDataStream::LittleEndian);
  stream << kHandOverMessage;
  return bytes;
}

}  // namespace

QString InstanceGuard::SocketPathFor(const QString& serverName) {
  return QDir(QString::fromStdString(PrivateRuntimeFolder())).filePath(serverName);
}

InstanceGuard::InstanceGuard(QString serverName, QObject* parent)
    : QObject(parent), serverName_(SocketPathFor(serverName)) {
  // Only this user's copies may knock.
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&server_, &QLocalServer::newConnection, this, &InstanceGuard::Accept);
}

QString InstanceGuard::ServerNameFor(const QString& title) {
  QString display = qEnvironmentVariable("DISPLAY");
  if (display.isEmpty()) display = qEnvironmentVariable("WAYLAND_DISPLAY");
  return QString::fromStdString(
      InstanceName(title.toStdString(), UserIdentity(), display.toStdString()));
}

InstanceGuard::Role InstanceGuard::Claim() {
  if (claimed_) return role_;
  claimed_ = true;
  // A folder that is not this user's own private one (another user's in a shared /tmp, a link)
  // is used for nothing: the window then runs unguarded rather than listen or knock there.
  Failure notPrivate;
  if (!MakePrivateFolder(PrivateRuntimeFolder(), notPrivate)) {
    role_ = Role::kAlone;
    return role_;
  }
  // Two copies started at the same instant would both find no server, and the second's
  // removeServer would delete the first one's fresh socket. The lock makes the look-and-listen
  // one step; a copy that died holding it leaves a stale lock that QLockFile recognises.
  QLockFile lock(serverName_ + QStringLiteral(".lock"));
  const bool locked = lock.tryLock(kClaimLockWaitMs);
  role_ = DecideInstanceRole([this] { return HandOver(); }, [this] { return Listen(); });
  if (locked) lock.unlock();
  return role_;
}

bool InstanceGuard::HandOver() {
  QLocalSocket socket;
  socket.connectToServer(serverName_);
  if (!socket.waitForConnected(kConnectWaitMs)) return false;
  // A listener of another user is no copy of ours: it is told nothing, and this copy goes on.
  if (!PeerIsThisUser(socket.socketDescriptor())) {
    socket.abort();
    return false;
  }
  // Connected means a first copy is there, even if the message should get lost.
  socket.write(HandOverBytes());
  socket.waitForBytesWritten(kWriteWaitMs);
  socket.disconnectFromServer();
  return true;
}

bool InstanceGuard::Listen() {
  // The connect failed, so a socket file left here belongs to a copy that crashed.
  QLocalServer::removeServer(serverName_);
  return server_.listen(serverName_);
}

void InstanceGuard::Accept() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    if (!PeerIsThisUser(socket->socketDescriptor())) {
      socket->abort();
      continue;
    }
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (socket->bytesAvailable() < kMessageSize) return;
      if (socket->read(kMessageSize) == HandOverBytes()) emit HandOverReceived();
      socket->disconnectFromServer();
    });
  }
}

}  // namespace vn
