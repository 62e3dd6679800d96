#pragma once
// One copy per user and desktop: the first copy listens on a local socket named after the
// application title; a later copy connects, sends the hand-over message and ends.
#include <QLocalServer>
#include <QObject>
#include <QString>

#include "form/instance_rule.h"

namespace vn {

class InstanceGuard : public QObject {
  Q_OBJECT
 public:
  using Role = InstanceRole;

  explicit InstanceGuard(QString serverName, QObject* parent = nullptr);

  // The socket name for this title, user and display, reduced to characters safe in a file name.
  static QString ServerNameFor(const QString& title);

  // Where the socket and its lock live: the folder the virtual boxes announce themselves in
  // (PrivateRuntimeFolder), made and checked as they make it, so that nobody else can take the
  // name first; a peer there is handed over to only when it runs as this user.
  static QString SocketPathFor(const QString& serverName);

  // Decides the role once; later calls return the same answer.
  Role Claim();

 signals:
  void HandOverReceived();

 private:
  bool HandOver();
  bool Listen();
  void Accept();

  QString serverName_;
  QLocalServer server_;
  bool claimed_ = false;
  Role role_ = Role::kAlone;
};

}  // namespace vn
