// The window against the virtual box over a pseudo-terminal: a download that goes on with the
// next box by itself, an upload that stops, and a Reset in the middle of a transfer.
#include <QFileInfo>
#include <QTest>
#include <QThread>

#include "app/status_tone.h"
#include "dld/extract.h"
#include "dld/pack.h"
#include "dld/region_sets.h"
#include "link/box_announce.h"
#include "link/system_port.h"
#include "scripted_form.h"
#include "sim/virtual_box.h"
#include "support/sample_files.h"
#include "test_registry.h"

using vn::testing::ScriptedForm;

namespace {

constexpr vn::Operation kKeySet =
    vn::Operation::kUploadKey;     // "Upload Key": one 64 KiB region, quick to move
constexpr int kRunWaitMs = 60000;  // hang guard only

std::vector<uint8_t> RegionOf(const std::vector<uint8_t>& image, const vn::UploadRegion& region) {
  return vn::RegionOfImage(image, region.address, region.size);
}

}  // namespace

class BoxRunsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<vn::testing::ScratchFolder> folder_;
  std::unique_ptr<vn::VirtualBox> box_;
  std::unique_ptr<ScriptedForm> form_;
  QStringList statuses_;  // every text the status line showed, in order
  bool enabledAtSuccess_ = false;
  std::vector<uint8_t> image_ = vn::testing::SampleFlashImage(7);

  void StartBox(vn::BoxOptions options) {
    box_ = std::make_unique<vn::VirtualBox>(std::move(options));
    QVERIFY2(box_->Start(), box_->Stats().lastError.c_str());
    // Announced as vespanode-box announces itself, the box shows up when the list is opened.
    QVERIFY(vn::AnnounceBox(box_->PtyPath()));
    form_->Com()->Refresh();
    const int entry = form_->Com()->findData(QString::fromStdString(box_->PtyPath()));
    QVERIFY(entry >= vn::kFixedPortCount);
    form_->CB_ComSelect(entry);
    QCOMPARE(form_->Lamp()->Colour(), QColor(0, 0xFF, 0));
  }

  QString KeyDownloadFile() {
    const auto regions = vn::UploadRegionList(kKeySet);
    return QString::fromStdString(folder_->Write(
        "key.dld", vn::testing::BuildUpgradeFile(regions, image_, vn::testing::LabBoxIdentity())));
  }

  qsizetype LastIndexOf(const QString& text) const { return statuses_.lastIndexOf(text); }

 private slots:
  void init() {
    folder_ = std::make_unique<vn::testing::ScratchFolder>();
    form_ = std::make_unique<ScriptedForm>(vn::MakeSystemComPort(),
                                           QString::fromStdString(folder_->Path()));
    statuses_.clear();
    enabledAtSuccess_ = false;
    connect(form_->Field("E_Start"), &QLineEdit::textChanged, this, [this](const QString& text) {
      statuses_ << text;
      if (text == QStringLiteral("Update Success!")) {
        enabledAtSuccess_ = form_->ChoiceControlsEnabled();
      }
    });
    form_->show();
  }

  void cleanup() {
    form_.reset();  // stops and joins a running operation before the box goes
    vn::WithdrawBox();
    box_.reset();
    folder_.reset();
  }

  void downloadSucceedsAndWaitsForTheNextBox() {
    StartBox({});
    form_->downloadAnswer = KeyDownloadFile();
    QTest::mouseClick(form_->Button("SB_Open"), Qt::LeftButton);
    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(statuses_.contains(QStringLiteral("Update Success!")), kRunWaitMs);
    // Without a click, the window waits for the next box with the same file.
    QTRY_VERIFY_WITH_TIMEOUT(LastIndexOf(QStringLiteral("Connectting...")) >
                                 LastIndexOf(QStringLiteral("Update Success!")),
                             kRunWaitMs);
    QVERIFY(form_->OperationRunning());
    QVERIFY(enabledAtSuccess_);
    const auto region = vn::UploadRegionList(kKeySet)[0];
    QVERIFY(RegionOf(box_->FlashCopy(), region) == RegionOf(image_, region));
    QVERIFY(form_->errorBoxes.isEmpty());
  }

  void uploadSucceedsAndStops() {
    vn::BoxOptions options;
    options.flash = image_;
    StartBox(options);
    form_->CB_UpgSelect(vn::PositionOf(kKeySet));
    form_->uploadAnswer = QString::fromStdString(folder_->File("backup.dld"));
    QTest::mouseClick(form_->Button("SB_Open"), Qt::LeftButton);
    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QCOMPARE(form_->overwriteQuestions, 0);  // a new file
    QTRY_VERIFY_WITH_TIMEOUT(!form_->OperationRunning(), kRunWaitMs);
    QCOMPARE(form_->Status(), QStringLiteral("Update Success!"));
    QCOMPARE(form_->Field("E_Start")->palette().color(QPalette::Active, QPalette::Text),
             vn::ColourOfTone(vn::StatusTone::kSuccess));
    QCOMPARE(statuses_.count(QStringLiteral("Connectting...")), 1);
    QVERIFY(form_->ChoiceControlsEnabled());

    std::vector<uint8_t> restored(vn::kFlashSize, 0xFF);
    vn::Failure why;
    QVERIFY2(vn::ExtractIntoImage(vn::testing::ReadBytes(form_->uploadAnswer.toStdString()),
                                  restored, &why),
             vn::FailureText(why).c_str());
    const auto region = vn::UploadRegionList(kKeySet)[0];
    QVERIFY(RegionOf(restored, region) == RegionOf(image_, region));
  }

  // "cover it?" answered Yes, then the box goes away mid-upload: the file covered is still the
  // old one, and the status line's tooltip says where the part that arrived went.
  void coveredBackupSurvivesAFailedUpload() {
    vn::BoxOptions options;
    options.flash = image_;
    options.faults.vanishAt = vn::FaultStep::kFrame;
    StartBox(options);
    form_->CB_UpgSelect(vn::PositionOf(kKeySet));
    const std::vector<uint8_t> old = {0x11, 0x44, 0x00, 'o', 'l', 'd'};
    form_->uploadAnswer = QString::fromStdString(folder_->Write("backup.dld", old));
    form_->overwriteAnswer = true;
    QTest::mouseClick(form_->Button("SB_Open"), Qt::LeftButton);
    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QCOMPARE(form_->overwriteQuestions, 1);
    QTRY_VERIFY_WITH_TIMEOUT(!form_->OperationRunning(), kRunWaitMs);
    QCOMPARE(form_->Status(), QStringLiteral("Transfer failed!"));
    QVERIFY(vn::testing::ReadBytes(form_->uploadAnswer.toStdString()) == old);
    QVERIFY(form_->Field("E_Start")->toolTip().endsWith(form_->uploadAnswer + ".partial"));
  }

  // The system's reason comes before the failure text: the tooltip keeps both.
  void aBackupThatCannotBeReplacedKeepsItsReasonInTheTooltip() {
    StartBox({});
    form_->CB_UpgSelect(vn::PositionOf(kKeySet));
    form_->uploadAnswer = QString::fromStdString(folder_->File("folder.dld"));
    std::filesystem::create_directory(form_->uploadAnswer.toStdString());
    form_->overwriteAnswer = true;
    QTest::mouseClick(form_->Button("SB_Open"), Qt::LeftButton);
    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!form_->OperationRunning(), kRunWaitMs);
    QCOMPARE(form_->Status(), QStringLiteral("Can not open Upload file!"));
    const QString tip = form_->Field("E_Start")->toolTip();
    QVERIFY2(tip.startsWith(QStringLiteral("Can not open Upload file!\n")) &&
                 tip.endsWith(QStringLiteral("is a folder, not a file")),
             qPrintable(tip));
    // Reset leaves nothing of that run behind the empty status line.
    QTest::mouseClick(form_->Button("SB_Reset"), Qt::LeftButton);
    QVERIFY(form_->Field("E_Start")->toolTip().isEmpty());
  }

  void resetDuringTransferStopsIt() {
    vn::BoxOptions options;
    options.pace = true;  // the line's real speed: the transfer lasts long enough to interrupt
    StartBox(options);
    form_->downloadAnswer = KeyDownloadFile();
    QTest::mouseClick(form_->Button("SB_Open"), Qt::LeftButton);
    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!statuses_.filter(QStringLiteral("Transfering Data")).isEmpty(),
                             kRunWaitMs);
    QVERIFY(!form_->ChoiceControlsEnabled());
    QVERIFY(!form_->Control<QWidget>("Label_Com")->isEnabled());
    // Let reports pile up unread, as behind a slow screen, before the Reset.
    QThread::msleep(200);
    QTest::mouseClick(form_->Button("SB_Reset"), Qt::LeftButton);
    QVERIFY(!form_->OperationRunning());
    const qsizetype shownBeforeReset = statuses_.size();
    QTest::qWait(300);
    QCOMPARE(statuses_.size(), shownBeforeReset);  // nothing of the stopped run came late
    QVERIFY(form_->Status().isEmpty());
    QVERIFY(!statuses_.contains(QStringLiteral("Update Success!")));
    QVERIFY(form_->ChoiceControlsEnabled());
    QCOMPARE(form_->Com()->currentText(), QStringLiteral("COM.01"));
    QCOMPARE(form_->Upg()->currentText(), QStringLiteral("Download"));
    QCOMPARE(form_->Lamp()->Colour(), QColor(0xFF, 0, 0));
    QCOMPARE(form_->Progress()->value(), 0);
  }
};

VN_REGISTER_TEST(BoxRunsTest)
#include "box_runs_test.moc"
