// The Qt window as a view of the form: the widgets show the model's state, a click or a choice
// reaches the model, what the worker reports is queued to the widgets, and the About window shows
// the fixed texts. The behaviour itself is checked on the model (tests/form).
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "app/com_state_lamp.h"
#include "app/form_about.h"
#include "app/form_main.h"
#include "form/form_texts.h"
#include "link/memory_port.h"
#include "link/status_texts.h"
#include "test_registry.h"

namespace {

// The window with its dialogs answered by the test, on one end of an in-memory port pair whose
// far end stays silent: a started download waits for a box that never comes.
class ScriptedForm : public vn::TFormMain {
 public:
  explicit ScriptedForm(std::unique_ptr<vn::ComPort> port, const QString& programDir)
      : TFormMain(std::move(port), programDir) {}

  std::optional<std::string> downloadAnswer;
  int processEnds = 0;

  template <typename T>
  T* Control(const char* name) const {
    return findChild<T*>(QLatin1String(name));
  }
  QComboBox* Combo(const char* name) const { return Control<QComboBox>(name); }
  QToolButton* Button(const char* name) const { return Control<QToolButton>(name); }
  QLineEdit* Field(const char* name) const { return Control<QLineEdit>(name); }
  QColor StatusColour() const {
    return Field("E_Start")->palette().color(QPalette::Active, QPalette::Text);
  }
  QColor LampColour() const { return Control<vn::ComStateLamp>("Shape_ComState")->Colour(); }

 protected:
  std::optional<std::string> ChooseDownloadFile() override { return downloadAnswer; }
  std::optional<std::string> ChooseUploadFile() override { return std::nullopt; }
  bool ConfirmOverwrite() override { return false; }
  void EndProcess() override { ++processEnds; }
};

QStringList Items(const QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

QColor Colour(vn::Rgb rgb) {
  return QColor(rgb.red, rgb.green, rgb.blue);
}

}  // namespace

class FormBindingTest : public QObject {
  Q_OBJECT

  QTemporaryDir folder_;
  std::unique_ptr<vn::MemoryPort> boxEnd_;
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

  void startUpStateIsShown() {
    QCOMPARE(form_->windowTitle(), QStringLiteral("Vespanode 3.1.05"));
    QCOMPARE(form_->minimumSize(), form_->maximumSize());
    QCOMPARE(form_->width(), 447);
    QCOMPARE(Items(form_->Combo("CB_Com")).mid(0, 3), (QStringList{"COM.01", "COM.02", "COM.03"}));
    QCOMPARE(form_->Combo("CB_Com")->currentText(), QStringLiteral("COM.01"));
    QCOMPARE(Items(form_->Combo("CB_Upg")),
             (QStringList{"Download", "Upload Data", "Upload Default", "Upload Key",
                          "Upload Loader", "Upload App", "Upload ALL"}));
    QCOMPARE(form_->Combo("CB_Upg")->currentText(), QStringLiteral("Download"));
    QCOMPARE(form_->LampColour(), QColor(0xFF, 0, 0));
    QStringList captions;
    for (const char* button : {"SB_Open", "SB_Sta", "SB_Reset", "SB_Close1"}) {
      captions << form_->Button(button)->text();
    }
    QCOMPARE(captions, (QStringList{"Open", "Start", "Reset", "Close"}));
    QCOMPARE(form_->Field("E_Bau")->text(), QStringLiteral("115200[bps]"));
    for (const char* field : {"E_Bau", "E_FileName", "E_Start"}) {
      QVERIFY(form_->Field(field)->isReadOnly());
    }
    QVERIFY(form_->Field("E_FileName")->text().isEmpty());
    QVERIFY(form_->Field("E_Start")->text().isEmpty());
    QCOMPARE(form_->Control<QProgressBar>("ProgressBarMain")->value(), 0);
    auto* banner = form_->Control<QLabel>("Image_Banner");
    QVERIFY(banner && !banner->pixmap().isNull());

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
    auto* list = about.findChild<QListWidget*>(QStringLiteral("ListBox_Modif"));
    QVERIFY(list);
    QCOMPARE(size_t(list->count()), vn::ModificationLines().size());
    QCOMPARE(list->item(2)->text(), QStringLiteral(" 2005.10.18 :   Win API."));
    auto* banner = about.findChild<QLabel*>(QStringLiteral("Image_Banner"));
    QVERIFY(banner && !banner->pixmap().isNull());
  }

  // Clicks and choices reach the model, its state reaches the widgets, and the worker's reports
  // arrive through the window's event queue.
  void clicksReachTheModelAndReportsTheWidgets() {
    QSignalSpy portChoices(form_->Combo("CB_Com"), &QComboBox::activated);
    form_->Model().RefreshPorts();  // listing the ports again is no choice
    QCOMPARE(portChoices.count(), 0);

    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QCOMPARE(form_->Field("E_Start")->text(), QLatin1String(vn::kNoDownloadFileText));
    QCOMPARE(form_->StatusColour(), Colour(vn::ColourOfTone(vn::StatusTone::kFailure)));
    QCOMPARE(form_->LampColour(), QColor(0, 0xFF, 0));  // Start opened the port

    emit form_->Combo("CB_Upg")->activated(1);
    QCOMPARE(form_->Button("SB_Open")->text(), QStringLiteral("Save"));
    QVERIFY(form_->Field("E_Start")->text().isEmpty());
    emit form_->Combo("CB_Upg")->activated(0);
    QCOMPARE(form_->Button("SB_Open")->text(), QStringLiteral("Open"));

    const QString file = folder_.filePath(QStringLiteral("some.dld"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(QByteArray(200, '\x01'));
    out.close();
    form_->downloadAnswer = file.toStdString();
    QTest::mouseClick(form_->Button("SB_Open"), Qt::LeftButton);
    QCOMPARE(form_->Field("E_FileName")->text(), file);
    QTest::mouseClick(form_->Button("SB_Sta"), Qt::LeftButton);
    QVERIFY(form_->OperationRunning());
    QTRY_COMPARE_WITH_TIMEOUT(form_->Field("E_Start")->text(), QStringLiteral("Connectting..."),
                              5000);
    QCOMPARE(form_->StatusColour(), Colour(vn::ColourOfTone(vn::StatusTone::kNeutral)));

    emit form_->Combo("CB_Com")->activated(4);
    QCOMPARE(form_->Combo("CB_Com")->currentText(), QStringLiteral("COM.05"));
    QVERIFY(!form_->OperationRunning());
    QTest::mouseClick(form_->Button("SB_Reset"), Qt::LeftButton);
    QCOMPARE(form_->Combo("CB_Com")->currentText(), QStringLiteral("COM.01"));
    QCOMPARE(form_->LampColour(), QColor(0xFF, 0, 0));
    QVERIFY(form_->Field("E_FileName")->text().isEmpty());
    QTest::mouseClick(form_->Button("SB_Close1"), Qt::LeftButton);
    QCOMPARE(form_->processEnds, 1);
  }

  void disabledControlsLookDisabled() {
    const std::pair<QWidget*, QPalette::ColorRole> controls[] = {
        {form_->Combo("CB_Com"), QPalette::ButtonText},
        {form_->Combo("CB_Upg"), QPalette::ButtonText},
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
    const QImage enabled = form_->Combo("CB_Com")->grab().toImage();
    form_->Combo("CB_Com")->setEnabled(false);
    QVERIFY(form_->Combo("CB_Com")->grab().toImage() != enabled);
  }

  void handOverRestoresAMinimisedWindow() {
    form_->showMinimized();
    QTRY_VERIFY(form_->isMinimized());
    form_->BringToFront();
    QTRY_VERIFY(!form_->isMinimized());
    QVERIFY(form_->isVisible());
  }
};

VN_REGISTER_TEST(FormBindingTest)
#include "form_binding_test.moc"
