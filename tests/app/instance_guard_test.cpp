// One copy per desktop: a second copy hands over to the first, including after a crash left the
// first one's socket behind, and the real program does it end to end.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

#include "app/instance_guard.h"
#include "form/program_identity.h"
#include "test_registry.h"

namespace {

QString UniqueName(const char* what) {
  static int counter = 0;
  return QStringLiteral("vn-test-%1-%2-%3")
      .arg(QLatin1String(what))
      .arg(QCoreApplication::applicationPid())
      .arg(++counter);
}

// What a crashed first copy leaves: a socket file nobody listens on, here a second name of one
// whose server has gone.
bool LeaveStaleSocket(const QString& path) {
  QLocalServer server;
  return server.listen(path + QStringLiteral(".live")) &&
         link(QFile::encodeName(server.fullServerName()), QFile::encodeName(path)) == 0;
}

// Copies of the real program on a display of their own, so that a copy the developer runs is not
// disturbed; the offscreen platform ignores the display but the instance name does not.
class ProgramCopies {
 public:
  explicit ProgramCopies(const QString& tag)
      : display_(QStringLiteral(":vn%1%2").arg(tag).arg(QCoreApplication::applicationPid())) {
    const QByteArray saved = qgetenv("DISPLAY");
    qputenv("DISPLAY", display_.toLocal8Bit());
    name_ = vn::InstanceGuard::ServerNameFor(QLatin1String(vn::kApplicationTitle));
    qputenv("DISPLAY", saved);
  }
  ~ProgramCopies() { QLocalServer::removeServer(SocketPath()); }

  bool Built() const { return QFileInfo(Program()).isExecutable(); }
  QString SocketPath() const { return vn::InstanceGuard::SocketPathFor(name_); }
  void Start(QProcess& process) const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display_);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(Program(), {});
  }

 private:
  static QString Program() { return QStringLiteral(VESPANODE_BIN_DIR "/vespanode"); }
  QString display_;
  QString name_;
};

}  // namespace

class InstanceGuardTest : public QObject {
  Q_OBJECT
 private slots:
  // Also when a crashed first copy left its socket behind; a connection without the hand-over
  // message is none.
  void laterCopiesHandOverToTheFirst() {
    for (const bool stale : {false, true}) {
      const QString name = UniqueName(stale ? "stale" : "pair");
      const QString socketPath = vn::InstanceGuard::SocketPathFor(name);
      if (stale) QVERIFY(LeaveStaleSocket(socketPath));
      vn::InstanceGuard first(name);
      QSignalSpy handedOver(&first, &vn::InstanceGuard::HandOverReceived);
      QCOMPARE(first.Claim(), vn::InstanceGuard::Role::kFirst);
      QCOMPARE(first.Claim(), vn::InstanceGuard::Role::kFirst);  // decided once
      for (int later = 1; later <= 2; ++later) {
        vn::InstanceGuard copy(name);
        QCOMPARE(copy.Claim(), vn::InstanceGuard::Role::kHandedOver);
        QTRY_COMPARE_WITH_TIMEOUT(handedOver.count(), later, 5000);
      }
      QLocalSocket socket;
      socket.connectToServer(socketPath);
      QVERIFY(socket.waitForConnected(2000));
      socket.write("\x00\x15\x00\x00", 4);  // 0x1500, not the hand-over
      QVERIFY(socket.waitForBytesWritten(2000));
      QTest::qWait(300);
      QCOMPARE(handedOver.count(), 2);
    }
  }

  // Started at once, one of two copies ends; the survivor is the first for a copy started later.
  void programStartedTwiceLeavesOne() {
    const ProgramCopies copies(QStringLiteral("race"));
    if (!copies.Built()) QSKIP("vespanode is not built");
    QProcess copy[3];
    copies.Start(copy[0]);
    copies.Start(copy[1]);
    QTRY_VERIFY_WITH_TIMEOUT(
        copy[0].state() == QProcess::NotRunning || copy[1].state() == QProcess::NotRunning, 20000);
    QTest::qWait(500);  // a wrongly second survivor would still be running now
    const int ended =
        (copy[0].state() == QProcess::NotRunning) + (copy[1].state() == QProcess::NotRunning);
    QCOMPARE(ended, 1);
    QProcess& gone = copy[0].state() == QProcess::NotRunning ? copy[0] : copy[1];
    QProcess& survivor = &gone == &copy[0] ? copy[1] : copy[0];
    QCOMPARE(gone.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(copies.SocketPath()), 20000);

    copies.Start(copy[2]);
    QVERIFY(copy[2].waitForFinished(20000));
    QCOMPARE(copy[2].exitStatus(), QProcess::NormalExit);
    QCOMPARE(copy[2].exitCode(), 0);
    QCOMPARE(survivor.state(), QProcess::Running);
    for (QProcess& process : copy) {
      process.kill();
      process.waitForFinished(10000);
    }
  }
};

VN_REGISTER_TEST(InstanceGuardTest)
#include "instance_guard_test.moc"
