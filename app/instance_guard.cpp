#include "app/instance_guard.h"

#include <QDataStream>
#include <QDir>
#include <QLocalSocket>
#include <QLockFile>
#include <QRegularExpression>

#include "form/program_identity.h"
#include "platform/processes.h"

namespace vn {
namespace {

constexpr int kConnectWaitMs = 1000;
constexpr int kWriteWaitMs = 1000;
constexpr int kClaimLockWaitMs = 5000;
constexpr qsizetype kMessageSize = 4;

QString UserId() {
  return QString::fromStdString(UserIdentity());
}

// ":0" and ":0.0" are the same desktop.
QString DisplayId() {
  QString display = qEnvironmentVariable("DISPLAY");
  if (display.isEmpty()) display = qEnvironmentVariable("WAYLAND_DISPLAY");
  static const QRegularExpression screenSuffix(QStringLiteral("(:\\d+)\\.\\d+$"));
  display.replace(screenSuffix, QStringLiteral("\\1"));
  return display;
}

QByteArray HandOverBytes() {
  QByteArray bytes;
  QDataStream stream(&bytes, QIODevice::WriteOnly);
  stream.setByteOrder(QDataStream::LittleEndian);
  stream << kHandOverMessage;
  return bytes;
}

}  // namespace

QString InstanceGuard::SocketPathFor(const QString& serverName) {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  const QString folder = !runtime.isEmpty() && QDir(runtime).exists() ? runtime : QDir::tempPath();
  return QDir(folder).filePath(serverName);
}

InstanceGuard::InstanceGuard(QString serverName, QObject* parent)
    : QObject(parent), serverName_(SocketPathFor(serverName)) {
  // Only this user's copies may knock.
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&server_, &QLocalServer::newConnection, this, &InstanceGuard::Accept);
}

QString InstanceGuard::ServerNameFor(const QString& title) {
  QString name = title + QLatin1Char('-') + UserId() + QLatin1Char('-') + DisplayId();
  static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
  name.replace(unsafe, QStringLiteral("_"));
  return name;
}

InstanceGuard::Role InstanceGuard::Claim() {
  if (claimed_) return role_;
  claimed_ = true;
  // Two copies started at the same instant would both find no server, and the second's
  // removeServer would delete the first one's fresh socket. The lock makes the look-and-listen
  // one step; a copy that died holding it leaves a stale lock that QLockFile recognises.
  QLockFile lock(serverName_ + QStringLiteral(".lock"));
  const bool locked = lock.tryLock(kClaimLockWaitMs);
  if (HandOver()) {
    role_ = Role::kHandedOver;
  } else if (Listen()) {
    role_ = Role::kFirst;
  } else {
    // Without the lock another copy may have won the race between our two steps.
    role_ = HandOver() ? Role::kHandedOver : Role::kAlone;
  }
  if (locked) lock.unlock();
  return role_;
}

bool InstanceGuard::HandOver() {
  QLocalSocket socket;
  socket.connectToServer(serverName_);
  if (!socket.waitForConnected(kConnectWaitMs)) return false;
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
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (socket->bytesAvailable() < kMessageSize) return;
      if (socket->read(kMessageSize) == HandOverBytes()) emit HandOverReceived();
      socket->disconnectFromServer();
    });
  }
}

}  // namespace vn
