// The Qt window as a view of the form: the widgets show the model's state, a click or a choice
// reaches the model, what the worker reports is queued to the widgets, and the About window shows
// the fixed texts. The behaviour itself is checked on the model (tests/form).
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <fstream>

#include "app/com_state_lamp.h"
#include "app/form_about.h"
#include "app/form_main.h"
#include "form/form_texts.h"
#include "support/memory_port.h"
#include "link/status_texts.h"
#include "test_registry.h"

namespace {

// The window with its dialogs answered by the test.
class ScriptedForm : public vn::TFormMain {
 public:
  using TFormMain::TFormMain;
  std::optional<std::string> downloadAnswer;
  int processEnds = 0;

  QComboBox* Combo(const char* name) const { return findChild<QComboBox*>(name); }
  QToolButton* Button(const char* name) const { return findChild<QToolButton*>(name); }
  QString Text(const char* field) const { return findChild<QLineEdit*>(field)->text(); }
  QColor StatusColour() const {
    return findChild<QLineEdit*>("E_Start")->palette().color(QPalette::Active, QPalette::Text);
  }
  QColor Lamp() const { return findChild<vn::ComStateLamp*>("Shape_ComState")->Colour(); }

 protected:
  std::optional<std::string> ChooseDownloadFile() override { return downloadAnswer; }
  std::optional<std::string> ChooseUploadFile() override { return std::nullopt; }
  bool ConfirmOverwrite() override { return false; }
  void EndProcess() override { ++processEnds; }
};

QColor ToneColour(vn::StatusTone tone) {
  return QColor(vn::ColourOfTone(tone).red, vn::ColourOfTone(tone).green,
                vn::ColourOfTone(tone).blue);
}

}  // namespace

class FormBindingTest : public QObject {
  Q_OBJECT

  QTemporaryDir folder_;
  std::unique_ptr<vn::MemoryPort> boxEnd_;  // stays silent: a download waits for a box
  std::unique_ptr<ScriptedForm> form_;

 private slots:
  void init() {
    auto [windowEnd, far] = vn::MemoryPort::MakePair();
    boxEnd_ = std::move(far);
    form_ = std::make_unique<ScriptedForm>(std::move(windowEnd), folder_.path());
    form_->show();
  }

  void cleanup() {
    form_.reset();  // stops before its port's far end does
    boxEnd_.reset();
  }

  void startUpLookAndHandOver() {
    QCOMPARE(form_->windowTitle(), QStringLiteral("Vespanode 3.1.05"));
    QCOMPARE(form_->minimumSize(), form_->maximumSize());
    QCOMPARE(form_->width(), 447);
    QCOMPARE(form_->Combo("CB_Com")->currentText(), QStringLiteral("COM.01"));
    QCOMPARE(form_->Combo("CB_Com")->itemText(9), QStringLiteral("COM.10"));
    QCOMPARE(form_->Combo("CB_Upg")->itemText(6), QStringLiteral("Upload ALL"));
    QCOMPARE(form_->Combo("CB_Upg")->currentText(), QStringLiteral("Download"));
    QCOMPARE(form_->Lamp(), QColor(0xFF, 0, 0));
    QCOMPARE(form_->Button("SB_Open")->text(), QStringLiteral("Open"));
    QCOMPARE(form_->Button("SB_Sta")->text(), QStringLiteral("Start"));
    QCOMPARE(form_->Button("SB_Reset")->text(), QStringLiteral("Reset"));
    QCOMPARE(form_->Button("SB_Close1")->text(), QStringLiteral("Close"));
    QCOMPARE(form_->Text("E_Bau"), QStringLiteral("115200[bps]"));
    for (const QLineEdit* field : form_->findChildren<QLineEdit*>()) QVERIFY(field->isReadOnly());
    auto* banner = form_->findChild<QLabel*>("Image_Banner");
    QVERIFY(banner && !banner->pixmap().isNull());

    auto* menu = form_->findChild<QMenu*>("PopupMenu");
    QStringList entries;
    for (const QAction* action : menu->actions()) {
      entries << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    QCOMPARE(entries, (QStringList{"About...", "-", "Exit"}));
    menu->actions().last()->trigger();
    QCOMPARE(form_->processEnds, 1);

    // Another copy was started: a minimised window is restored.
    form_->showMinimized();
    QTRY_VERIFY(form_->isMinimized());
    form_->BringToFront();
    QTRY_VERIFY(!form_->isMinimized());

    // The enabled look has fixed colours; the disabled look must still differ from it.
    for (const char* name : {"CB_Com", "CB_Upg", "SB_Open", "SB_Sta", "Label_Com", "Label_Upg"}) {
      auto* control = form_->findChild<QWidget*>(name);
      const auto role =
          qobject_cast<QLabel*>(control) ? QPalette::WindowText : QPalette::ButtonText;
      QVERIFY2(control->palette().color(QPalette::Disabled, role) !=
                   control->palette().color(QPalette::Active, role),
               name);
    }
    const QImage enabled = form_->Combo("CB_Com")->grab().toImage();
    form_->Combo("CB_Com")->setEnabled(false);
    QVERIFY(form_->Combo("CB_Com")->grab().toImage() != enabled);
  }

  void aboutWindowShowsTheFixedTexts() {
    vn::TFormAbout about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About Upgrade"));
    QVERIFY(about.isModal());
    QStringList labels;
    for (const QLabel* label : about.findChildren<QLabel*>()) labels << label->text();
    for (const char* text : {"Vespanode", "Version :   3.1.05     (Build 3.0.09)",
                             "Windows NT / 2000 / XP", "Memory make use of :  12 M"}) {
      QVERIFY2(labels.contains(QLatin1String(text)), text);
    }
    auto* list = about.findChild<QListWidget*>("ListBox_Modif");
    QCOMPARE(size_t(list->count()), vn::ModificationLines().size());
    QCOMPARE(list->item(2)->text(), QStringLiteral(" 2005.10.18 :   Win API."));
    QVERIFY(!about.findChild<QLabel*>("Image_Banner")->pixmap().isNull());
  }

  // Clicks and choices reach the model, its state the widgets, and the worker's reports arrive
  // through the window's event queue.
  void clicksReachTheModelAndReportsTheWidgets() {
    QSignalSpy portChoices(form_->Combo("CB_Com"), &QComboBox::activated);
    form_->Model().RefreshPorts();  // listing the ports again is no choice
    QCOMPARE(portChoices.count(), 0);

    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QCOMPARE(form_->Text("E_Start"), QLatin1String(vn::kNoDownloadFileText));
    QCOMPARE(form_->StatusColour(), ToneColour(vn::StatusTone::kFailure));
    QCOMPARE(form_->Lamp(), QColor(0, 0xFF, 0));  // Start opened the port

    emit form_->Combo("CB_Upg")->activated(1);
    QCOMPARE(form_->Button("SB_Open")->text(), QStringLiteral("Save"));
    QVERIFY(form_->Text("E_Start").isEmpty());
    emit form_->Combo("CB_Upg")->activated(0);
    QCOMPARE(form_->Button("SB_Open")->text(), QStringLiteral("Open"));

    const QString file = folder_.filePath(QStringLiteral("some.dld"));
    std::ofstream(file.toStdString()) << std::string(200, '\x01');
    form_->downloadAnswer = file.toStdString();
    QTest::mouseClick(form_->Button("SB_Open"), Qt::LeftButton);
    QCOMPARE(form_->Text("E_FileName"), file);
    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(form_->Text("E_Start"), QStringLiteral("Connectting..."), 5000);
    QCOMPARE(form_->StatusColour(), ToneColour(vn::StatusTone::kNeutral));

    emit form_->Combo("CB_Com")->activated(4);
    QCOMPARE(form_->Combo("CB_Com")->currentText(), QStringLiteral("COM.05"));
    QVERIFY(!form_->OperationRunning());
    QTest::mouseClick(form_->Button("SB_Reset"), Qt::LeftButton);
    QCOMPARE(form_->Combo("CB_Com")->currentText(), QStringLiteral("COM.01"));
    QCOMPARE(form_->Lamp(), QColor(0xFF, 0, 0));
    QVERIFY(form_->Text("E_FileName").isEmpty());
    QTest::mouseClick(form_->Button("SB_Close1"), Qt::LeftButton);
    QCOMPARE(form_->processEnds, 1);
  }
};

VN_REGISTER_TEST(FormBindingTest)
#include "form_binding_test.moc"
