// One copy per desktop: a second copy hands over to the first, including after a crash left the
// first one's socket behind, and the real program does it end to end.
#include <QCoreApplication>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <QTemporaryDir>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "app/instance_guard.h"
#include "form/program_identity.h"
#include "platform/processes.h"
#include "test_registry.h"

class InstanceGuardTest : public QObject {
  Q_OBJECT
 private slots:
  // Also when a crashed first copy left its socket behind; a connection without the hand-over
  // message is none.
  void laterCopiesHandOverToTheFirst() {
    for (const bool stale : {false, true}) {
      const QString name =
          QStringLiteral("vn-test-%1-%2").arg(stale).arg(QCoreApplication::applicationPid());
      const QString socketPath = vn::InstanceGuard::SocketPathFor(name);
      // What a crashed first copy leaves: a socket file nobody listens on, made here as a second
      // name of a socket whose server has gone.
      if (stale) {
        QLocalServer server;
        QVERIFY(server.listen(socketPath + QStringLiteral(".live")));
        QCOMPARE(link(QFile::encodeName(server.fullServerName()), QFile::encodeName(socketPath)),
                 0);
      }
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

  // Where nobody else can take the name first: never the shared temporary folder, also without
  // $XDG_RUNTIME_DIR, and a listener of another user in the right place is not handed over to.
  void neverHandsOverToAnotherUser() {
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const auto restore = qScopeGuard([&] {
      if (saved.isNull()) {
        qunsetenv("XDG_RUNTIME_DIR");
      } else {
        qputenv("XDG_RUNTIME_DIR", saved);
      }
    });
    const QString name = QStringLiteral("vn-peer-%1").arg(QCoreApplication::applicationPid());
    for (const bool runtimeSet : {false, true}) {
      QTemporaryDir runtime;
      if (runtimeSet) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
      } else {
        qunsetenv("XDG_RUNTIME_DIR");
      }
      const QString folder = QString::fromStdString(vn::PrivateRuntimeFolder());
      const QString socketPath = vn::InstanceGuard::SocketPathFor(name);
      QCOMPARE(QFileInfo(socketPath).absolutePath(), folder);
      vn::Failure failure;
      QVERIFY(vn::MakePrivateFolder(folder.toStdString(), failure));
      const auto removeSocket = qScopeGuard([&] { QLocalServer::removeServer(socketPath); });
      if (::geteuid() != 0) continue;  // only root can listen as another user

      // Bound here, then listening as nobody: the credentials a peer sees are those of listen().
      const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
      QVERIFY(listener >= 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      const QByteArray path = QFile::encodeName(socketPath);
      std::memcpy(address.sun_path, path.constData(), size_t(path.size()) + 1);
      QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
      const pid_t other = ::fork();
      QVERIFY(other >= 0);
      if (other == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0 || ::listen(listener, 4) != 0) _exit(1);
        for (;;) ::close(::accept(listener, nullptr, nullptr));
      }
      ::close(listener);
      const auto endOther = qScopeGuard([&] {
        ::kill(other, SIGKILL);
        ::waitpid(other, nullptr, 0);
      });
      QTest::qWait(200);  // until it listens
      vn::InstanceGuard copy(name);
      QCOMPARE(copy.Claim(), vn::InstanceGuard::Role::kFirst);
    }
  }

  // Copies of the real program, on a display of their own so that a copy the developer runs is
  // not disturbed (the offscreen platform ignores the display, the instance name does not).
  // Started at once, one of two copies ends; the survivor is the first for a copy started later.
  void programStartedTwiceLeavesOne() {
    const QString program = QStringLiteral(VESPANODE_BIN_DIR "/vespanode");
    if (!QFileInfo(program).isExecutable()) QSKIP("vespanode is not built");
    const QString display = QStringLiteral(":vnrace%1").arg(QCoreApplication::applicationPid());
    const QByteArray saved = qgetenv("DISPLAY");
    qputenv("DISPLAY", display.toLocal8Bit());
    const QString socketPath = vn::InstanceGuard::SocketPathFor(
        vn::InstanceGuard::ServerNameFor(QLatin1String(vn::kApplicationTitle)));
    qputenv("DISPLAY", saved);
    const auto removeSocket = qScopeGuard([&] { QLocalServer::removeServer(socketPath); });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess copy[3];
    for (QProcess& process : copy) process.setProcessEnvironment(environment);
    copy[0].start(program, {});
    copy[1].start(program, {});
    QTRY_VERIFY_WITH_TIMEOUT(
        copy[0].state() == QProcess::NotRunning || copy[1].state() == QProcess::NotRunning, 20000);
    QTest::qWait(500);  // a wrongly second survivor would still be running now
    const int ended =
        (copy[0].state() == QProcess::NotRunning) + (copy[1].state() == QProcess::NotRunning);
    QCOMPARE(ended, 1);
    QProcess& gone = copy[0].state() == QProcess::NotRunning ? copy[0] : copy[1];
    QProcess& survivor = &gone == &copy[0] ? copy[1] : copy[0];
    QCOMPARE(gone.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socketPath), 20000);

    copy[2].start(program, {});
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
