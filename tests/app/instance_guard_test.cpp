// One copy per desktop: a second copy hands over to the first, including after a crash left the
// first one's socket behind, and the real program does it end to end.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
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

QString SocketPath(const QString& name) {
  return vn::InstanceGuard::SocketPathFor(name);
}

// What a crashed first copy leaves: a socket file nobody listens on.
bool LeaveStaleSocket(const QString& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray encoded = QFile::encodeName(path);
  if (encoded.size() >= static_cast<qsizetype>(sizeof(address.sun_path))) return false;
  std::copy(encoded.begin(), encoded.end(), address.sun_path);
  const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  close(fd);
  return bound && QFileInfo::exists(path);
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
  ~ProgramCopies() { QLocalServer::removeServer(vn::InstanceGuard::SocketPathFor(name_)); }

  bool Built() const { return QFileInfo(Program()).isExecutable(); }
  QString SocketPath() const { return ::SocketPath(name_); }
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
  void secondCopyHandsOverToTheFirst() {
    const QString name = UniqueName("pair");
    vn::InstanceGuard first(name);
    QSignalSpy handedOver(&first, &vn::InstanceGuard::HandOverReceived);
    QCOMPARE(first.Claim(), vn::InstanceGuard::Role::kFirst);
    QCOMPARE(first.Claim(), vn::InstanceGuard::Role::kFirst);  // decided once

    vn::InstanceGuard second(name);
    QCOMPARE(second.Claim(), vn::InstanceGuard::Role::kHandedOver);
    QVERIFY(handedOver.wait(5000));

    vn::InstanceGuard third(name);
    QCOMPARE(third.Claim(), vn::InstanceGuard::Role::kHandedOver);
    QTRY_COMPARE_WITH_TIMEOUT(handedOver.count(), 2, 5000);
  }

  void staleSocketOfACrashedCopyIsTakenOver() {
    const QString name = UniqueName("stale");
    QVERIFY(LeaveStaleSocket(SocketPath(name)));
    vn::InstanceGuard first(name);
    QCOMPARE(first.Claim(), vn::InstanceGuard::Role::kFirst);
    QSignalSpy handedOver(&first, &vn::InstanceGuard::HandOverReceived);
    vn::InstanceGuard second(name);
    QCOMPARE(second.Claim(), vn::InstanceGuard::Role::kHandedOver);
    QVERIFY(handedOver.wait(5000));
  }

  void aConnectionWithoutTheMessageIsNoHandOver() {
    const QString name = UniqueName("noise");
    vn::InstanceGuard first(name);
    QCOMPARE(first.Claim(), vn::InstanceGuard::Role::kFirst);
    QSignalSpy handedOver(&first, &vn::InstanceGuard::HandOverReceived);
    QLocalSocket socket;
    socket.connectToServer(SocketPath(name));
    QVERIFY(socket.waitForConnected(2000));
    socket.write("\x00\x15\x00\x00", 4);  // 0x1500, not the hand-over
    QVERIFY(socket.waitForBytesWritten(2000));
    QVERIFY(!handedOver.wait(300));
  }

  void programStartedTwiceEndsTheSecondCopy() {
    const ProgramCopies copies(QStringLiteral("seq"));
    if (!copies.Built()) QSKIP("vespanode is not built");
    QProcess first;
    copies.Start(first);
    QVERIFY(first.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(copies.SocketPath()), 20000);

    QProcess second;
    copies.Start(second);
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    first.kill();
    first.waitForFinished(10000);
  }

  void twoCopiesStartedAtOnceLeaveOne() {
    const ProgramCopies copies(QStringLiteral("race"));
    if (!copies.Built()) QSKIP("vespanode is not built");
    QProcess copy[2];
    copies.Start(copy[0]);
    copies.Start(copy[1]);
    QTRY_VERIFY_WITH_TIMEOUT(
        copy[0].state() == QProcess::NotRunning || copy[1].state() == QProcess::NotRunning, 20000);
    QTest::qWait(500);  // a wrongly second survivor would still be running now
    const int ended =
        (copy[0].state() == QProcess::NotRunning) + (copy[1].state() == QProcess::NotRunning);
    QCOMPARE(ended, 1);
    QProcess& gone = copy[0].state() == QProcess::NotRunning ? copy[0] : copy[1];
    QCOMPARE(gone.exitCode(), 0);
    for (QProcess& process : copy) {
      process.kill();
      process.waitForFinished(10000);
    }
  }
};

VN_REGISTER_TEST(InstanceGuardTest)
#include "instance_guard_test.moc"
