// The main window without a box: start-up state, the operation choice, Start's refusals, and
// stopping a wait for a box with Reset, Close, Open and a second Start.
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <cstdio>

#include "link/status_texts.h"
#include "link/system_port.h"
#include "scripted_form.h"
#include "test_registry.h"

using vn::testing::ScriptedForm;

namespace {

constexpr int kStopWaitMs = 5000;

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

}  // namespace

class FormMainTest : public QObject {
  Q_OBJECT

  QTemporaryDir folder_;
  std::unique_ptr<vn::testing::FormWithSilentBox> rig_;
  ScriptedForm* form_ = nullptr;

  QString DownloadFile() {
    const QString path = folder_.filePath(QStringLiteral("some.dld"));
    WriteFile(path, QByteArray(200, '\x01'));
    return path;
  }

  // Start a download that waits for a box that never comes.
  void StartWaiting() {
    form_->downloadAnswer = DownloadFile();
    QTest::mouseClick(form_->Button("SB_Open"), Qt::LeftButton);
    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QVERIFY(form_->OperationRunning());
    QTRY_COMPARE_WITH_TIMEOUT(form_->Status(), QStringLiteral("Connectting..."), kStopWaitMs);
  }

 private slots:
  void init() {
    rig_ = std::make_unique<vn::testing::FormWithSilentBox>(folder_.path());
    form_ = rig_->form.get();
  }

  void cleanup() { rig_.reset(); }

  void startUpState() {
    QCOMPARE(form_->windowTitle(), QStringLiteral("Vespanode 3.1.05"));
    QCOMPARE(form_->minimumSize(), form_->maximumSize());
    QCOMPARE(form_->width(), 447);
    QCOMPARE(form_->Com()->currentText(), QStringLiteral("COM.01"));
    for (int n = 1; n <= 10; ++n) {
      QCOMPARE(form_->Com()->itemText(n - 1), QStringLiteral("COM.%1").arg(n, 2, 10, QChar('0')));
    }
    QStringList operations;
    for (int i = 0; i < form_->Upg()->count(); ++i) operations << form_->Upg()->itemText(i);
    QCOMPARE(operations, (QStringList{"Download", "Upload Data", "Upload Default", "Upload Key",
                                      "Upload Loader", "Upload App", "Upload ALL"}));
    QCOMPARE(form_->Upg()->currentText(), QStringLiteral("Download"));
    QCOMPARE(form_->Lamp()->Colour(), QColor(0xFF, 0, 0));
    QCOMPARE(form_->Button("SB_Open")->text(), QStringLiteral("Open"));
    QCOMPARE(form_->Button("SB_Sta")->text(), QStringLiteral("Start"));
    QCOMPARE(form_->Button("SB_Reset")->text(), QStringLiteral("Reset"));
    QCOMPARE(form_->Button("SB_Close1")->text(), QStringLiteral("Close"));
    QCOMPARE(form_->Field("E_Bau")->text(), QStringLiteral("115200[bps]"));
    for (const char* field : {"E_Bau", "E_FileName", "E_Start"}) {
      QVERIFY(form_->Field(field)->isReadOnly());
    }
    QVERIFY(form_->FileName().isEmpty());
    QVERIFY(form_->Status().isEmpty());
    QCOMPARE(form_->Progress()->value(), 0);
    QVERIFY(form_->ChoiceControlsEnabled());
    auto* banner = form_->Control<QLabel>("Image_Banner");
    QVERIFY(banner && !banner->pixmap().isNull());
  }

  void contextMenuOffersAboutAndExit() {
    auto* menu = form_->Control<QMenu>("PopupMenu");
    QVERIFY(menu);
    QStringList entries;
    for (const QAction* action : menu->actions()) {
      entries << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    QCOMPARE(entries, (QStringList{"About...", "-", "Exit"}));
    menu->actions().last()->trigger();
    QCOMPARE(form_->processEnds, 1);
  }

  void handOverRestoresAMinimisedWindow() {
    form_->showMinimized();
    QTRY_VERIFY(form_->isMinimized());
    form_->BringToFront();
    QTRY_VERIFY(!form_->isMinimized());
    QVERIFY(form_->isVisible());
  }

  void operationChoiceSwitchesOpenAndSaveAndClears() {
    form_->Field("E_FileName")->setText(QStringLiteral("old.dld"));
    form_->Field("E_Start")->setText(QStringLiteral("old status"));
    form_->Progress()->setValue(40);
    form_->CB_UpgSelect(1);
    QCOMPARE(form_->Button("SB_Open")->text(), QStringLiteral("Save"));
    QVERIFY(form_->FileName().isEmpty());
    QVERIFY(form_->Status().isEmpty());
    QCOMPARE(form_->Progress()->value(), 0);
    form_->CB_UpgSelect(6);
    QCOMPARE(form_->Button("SB_Open")->text(), QStringLiteral("Save"));
    form_->CB_UpgSelect(0);
    QCOMPARE(form_->Button("SB_Open")->text(), QStringLiteral("Open"));
  }

  void startWithoutDownloadFile() {
    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QCOMPARE(form_->Status(), QLatin1String(vn::kNoDownloadFileText));
    QVERIFY(!form_->OperationRunning());
    QCOMPARE(form_->Lamp()->Colour(), QColor(0, 0xFF, 0));  // Start opened the port
  }

  // What is on disk at Start is what would be sent: a file that no longer holds the header shown
  // since Open is refused, with the reason beside the status, and nothing is sent.
  void startWithAChangedDownloadFile_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("starts");
    QTest::addColumn<QString>("reason");
    QTest::newRow("removed") << "remove" << false << QString();
    QTest::newRow("rewritten in place") << "rewrite" << false << "has changed since it was opened";
    QTest::newRow("another renamed over it")
        << "rename" << false << "has changed since it was opened";
    // One file, whole: the box judges its partitions.
    QTest::newRow("header kept, the rest rewritten") << "tail" << true << QString();
  }

  void startWithAChangedDownloadFile() {
    QFETCH(QString, change);
    QFETCH(bool, starts);
    QFETCH(QString, reason);
    form_->downloadAnswer = DownloadFile();
    const QString file = form_->downloadAnswer;
    QTest::mouseClick(form_->Button("SB_Open"), Qt::LeftButton);
    QCOMPARE(form_->FileName(), file);
    QByteArray other(200, '\x02');
    if (change == QLatin1String("remove")) {
      QVERIFY(QFile::remove(file));
    } else if (change == QLatin1String("rewrite")) {
      WriteFile(file, other);
    } else if (change == QLatin1String("rename")) {
      const QString renamed = folder_.filePath(QStringLiteral("other.dld"));
      WriteFile(renamed, other);
      QVERIFY(std::rename(renamed.toLocal8Bit().constData(), file.toLocal8Bit().constData()) == 0);
    } else {
      other.replace(0, 71, QByteArray(71, '\x01'));
      WriteFile(file, other);
    }
    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QCOMPARE(form_->OperationRunning(), starts);
    if (starts) {
      QTRY_COMPARE_WITH_TIMEOUT(form_->Status(), QStringLiteral("Connectting..."), kStopWaitMs);
      return;
    }
    QCOMPARE(form_->Status(), QLatin1String(vn::kMissingDownloadFileText));
    const QString tip = form_->Field("E_Start")->toolTip();
    QVERIFY2(reason.isEmpty() || tip.contains(file + QStringLiteral(" ") + reason),
             qPrintable(tip));
    // Start again: still the file changed, never the new one sent instead.
    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QVERIFY(!form_->OperationRunning());
  }

  void cancelledOpenLeavesEverythingCleared() {
    form_->Field("E_FileName")->setText(QStringLiteral("old.dld"));
    form_->Field("E_Start")->setText(QStringLiteral("old status"));
    QTest::mouseClick(form_->Button("SB_Open"), Qt::LeftButton);
    QVERIFY(form_->FileName().isEmpty());
    QVERIFY(form_->Status().isEmpty());
  }

  void existingUploadFileAnsweredCancelThenStartAgain() {
    form_->CB_UpgSelect(1);
    form_->uploadAnswer = DownloadFile();
    QTest::mouseClick(form_->Button("SB_Open"), Qt::LeftButton);
    QCOMPARE(form_->FileName(), form_->uploadAnswer);
    form_->Field("E_Start")->setText(QStringLiteral("before"));
    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QCOMPARE(form_->overwriteQuestions, 1);
    QVERIFY(form_->FileName().isEmpty());
    QCOMPARE(form_->Status(), QStringLiteral("before"));
    QVERIFY(!form_->OperationRunning());
    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QCOMPARE(form_->Status(), QLatin1String(vn::kNoUploadFileText));
    QCOMPARE(form_->overwriteQuestions, 1);
    // The file was not touched.
    QCOMPARE(QFileInfo(form_->uploadAnswer).size(), 200);
  }

  void existingUploadFileAnsweredYesStarts() {
    form_->CB_UpgSelect(3);
    form_->uploadAnswer = DownloadFile();
    form_->overwriteAnswer = true;
    QTest::mouseClick(form_->Button("SB_Open"), Qt::LeftButton);
    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QCOMPARE(form_->overwriteQuestions, 1);
    QVERIFY(form_->OperationRunning());
    QTRY_COMPARE_WITH_TIMEOUT(form_->Status(), QStringLiteral("Connectting..."), kStopWaitMs);
  }

  void portThatCannotBeOpenedLeavesLampRedAndStatusAlone() {
    ScriptedForm form(vn::MakeSystemComPort(), folder_.path());
    const int missing = form.Com()->EnsureEntry(QStringLiteral("/dev/vespanode-no-such-port"));
    form.CB_ComSelect(missing);
    QCOMPARE(form.Lamp()->Colour(), QColor(0xFF, 0, 0));
    QVERIFY(form.Lamp()->toolTip().startsWith(QStringLiteral("no such device")));
    form.Field("E_Start")->setText(QStringLiteral("unchanged"));
    QTest::mouseClick(form.Button("SB_Sta"), Qt::LeftButton);
    QCOMPARE(form.Status(), QStringLiteral("unchanged"));
    QVERIFY(!form.OperationRunning());
  }

  void resetWhileWaitingStopsAndRestoresTheStartUpChoice() {
    form_->CB_ComSelect(4);
    QCOMPARE(form_->Lamp()->Colour(), QColor(0, 0xFF, 0));
    StartWaiting();
    QTest::mouseClick(form_->Button("SB_Reset"), Qt::LeftButton);
    QVERIFY(!form_->OperationRunning());
    QCOMPARE(form_->Com()->currentText(), QStringLiteral("COM.01"));
    QCOMPARE(form_->Upg()->currentText(), QStringLiteral("Download"));
    QCOMPARE(form_->Lamp()->Colour(), QColor(0xFF, 0, 0));
    QVERIFY(form_->ChoiceControlsEnabled());
    // Reports the stopped run still had queued must not show up after the Reset.
    QTest::qWait(200);
    QVERIFY(form_->Status().isEmpty());
    QVERIFY(form_->FileName().isEmpty());
  }

  void closeWhileWaitingStopsAndEnds() {
    StartWaiting();
    QTest::mouseClick(form_->Button("SB_Close1"), Qt::LeftButton);
    QVERIFY(!form_->OperationRunning());
    QCOMPARE(form_->processEnds, 1);
  }

  void openWhileWaitingStopsButKeepsThePort() {
    StartWaiting();
    form_->downloadAnswer.clear();
    QTest::mouseClick(form_->Button("SB_Open"), Qt::LeftButton);
    QVERIFY(!form_->OperationRunning());
    QCOMPARE(form_->Lamp()->Colour(), QColor(0, 0xFF, 0));
    QTest::qWait(200);
    QVERIFY(form_->Status().isEmpty());
  }

  void secondStartRestartsTheWait() {
    StartWaiting();
    form_->Field("E_Start")->clear();
    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QVERIFY(form_->OperationRunning());
    QTRY_COMPARE_WITH_TIMEOUT(form_->Status(), QStringLiteral("Connectting..."), kStopWaitMs);
  }

  void operationChangeWhileWaitingStops() {
    StartWaiting();
    form_->CB_UpgSelect(2);
    QVERIFY(!form_->OperationRunning());
    QTest::qWait(200);
    QVERIFY(form_->Status().isEmpty());
  }
};

VN_REGISTER_TEST(FormMainTest)
#include "form_main_test.moc"
