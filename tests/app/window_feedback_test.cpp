// What the window tells beyond its texts: disabled controls look disabled, a chosen download
// file is checked as `inspect` checks it, and success and failure differ in colour.
#include <sys/stat.h>

#include <QFile>
#include <QLabel>
#include <QTest>

#include "app/status_tone.h"
#include "dld/pack.h"
#include "dld/region_sets.h"
#include "link/link_message.h"
#include "scripted_form.h"
#include "test_registry.h"

using vn::testing::ScriptedForm;

class WindowFeedbackTest : public QObject {
  Q_OBJECT

  QTemporaryDir folder_;
  std::unique_ptr<vn::testing::FormWithSilentBox> rig_;
  ScriptedForm* form_ = nullptr;

  // A sound "Upload Key" file; `damage` flips one byte at that offset first (negative: none).
  QString KeyFile(const char* name, int damage = -1) {
    const std::vector<uint8_t> image(0x200000, 0x5A);
    auto file = vn::PackUpgradeFile(vn::kOperationUploadKey, image, vn::FileIdentity{});
    if (!file) return {};
    if (damage >= 0) (*file)[size_t(damage)] ^= 0xFF;
    const QString path = folder_.filePath(QLatin1String(name));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly)) return {};
    out.write(reinterpret_cast<const char*>(file->data()), qint64(file->size()));
    return path;
  }

  QColor StatusColour() const {
    return form_->Field("E_Start")->palette().color(QPalette::Active, QPalette::Text);
  }

 private slots:
  void init() {
    rig_ = std::make_unique<vn::testing::FormWithSilentBox>(folder_.path());
    form_ = rig_->form.get();
  }

  void cleanup() { rig_.reset(); }

  void disabledControlsLookDisabled() {
    const std::pair<QWidget*, QPalette::ColorRole> controls[] = {
        {form_->Com(), QPalette::ButtonText},
        {form_->Upg(), QPalette::ButtonText},
        {form_->Button("SB_Open"), QPalette::ButtonText},
        {form_->Button("SB_Sta"), QPalette::ButtonText},
        {form_->Control<QLabel>("Label_Com"), QPalette::WindowText},
        {form_->Control<QLabel>("Label_Upg"), QPalette::WindowText}};
    for (const auto& [control, role] : controls) {
      QVERIFY(control);
      const QPalette palette = control->palette();
      QVERIFY2(palette.color(QPalette::Disabled, role) != palette.color(QPalette::Active, role),
               qPrintable(control->objectName()));
    }
    // And what is drawn differs too.
    const QImage enabled = form_->Com()->grab().toImage();
    form_->Com()->setEnabled(false);
    QVERIFY(form_->Com()->grab().toImage() != enabled);
  }

  void chosenFileIsCheckedBeforeStart() {
    form_->downloadAnswer = KeyFile("sound.dld");
    QTest::mouseClick(form_->Button("SB_Open"), Qt::LeftButton);
    QCOMPARE(form_->FileName(), form_->downloadAnswer);
    QVERIFY(form_->Status().isEmpty());

    // The first descriptor's flash address: its CRC no longer matches.
    form_->downloadAnswer = KeyFile("damaged.dld", vn::kHeaderSize + 4);
    QTest::mouseClick(form_->Button("SB_Open"), Qt::LeftButton);
    QCOMPARE(form_->FileName(), form_->downloadAnswer);
    QVERIFY2(form_->Status().startsWith(QStringLiteral("Unsound file: descriptor 1 at offset 71")),
             qPrintable(form_->Status()));
    QCOMPARE(StatusColour(), vn::ColourOfTone(vn::StatusTone::kFailure));
    QCOMPARE(form_->Field("E_Start")->cursorPosition(), 0);  // the block shows, not the text's end

    // Start is not refused: the box has the last word.
    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QVERIFY(form_->OperationRunning());
    QTRY_COMPARE_WITH_TIMEOUT(form_->Status(), QStringLiteral("Connectting..."), 5000);
    QCOMPARE(StatusColour(), vn::ColourOfTone(vn::StatusTone::kNeutral));
  }

  // The file dialog lets a FIFO through: checking it must not wait for a writer.
  void aFifoChosenIsRefusedWithoutWaiting() {
    const QString fifo = folder_.filePath(QStringLiteral("pipe.dld"));
    QVERIFY(::mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0);
    form_->downloadAnswer = fifo;
    QTest::mouseClick(form_->Button("SB_Open"), Qt::LeftButton);
    QVERIFY2(form_->Status().endsWith(QStringLiteral("is a FIFO, not an upgrade file")),
             qPrintable(form_->Status()));
  }

  void successAndFailureDifferInColour() {
    QCOMPARE(vn::ToneOfEvent(vn::BoxDoneEvent()), vn::StatusTone::kSuccess);
    QCOMPARE(vn::ToneOfEvent(vn::MessageEvent(vn::kMsgEraseSuccess)), vn::StatusTone::kSuccess);
    QCOMPARE(vn::ToneOfEvent(vn::MessageEvent(vn::kMsgIdentFailed)), vn::StatusTone::kFailure);
    QCOMPARE(vn::ToneOfEvent(vn::MessageEvent(vn::kMsgConnecting)), vn::StatusTone::kNeutral);
    QCOMPARE(vn::ToneOfEvent(vn::PercentEvent(vn::Phase::kTransfer, 5, 12)),
             vn::StatusTone::kNeutral);
    QVERIFY(vn::ColourOfTone(vn::StatusTone::kSuccess) !=
            vn::ColourOfTone(vn::StatusTone::kFailure));

    // The driver's refusal before a run reads as a failure.
    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QCOMPARE(form_->Status(), QStringLiteral("Can not open download file!"));
    QCOMPARE(StatusColour(), vn::ColourOfTone(vn::StatusTone::kFailure));
  }
};

VN_REGISTER_TEST(WindowFeedbackTest)
#include "window_feedback_test.moc"
