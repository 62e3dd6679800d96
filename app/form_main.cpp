#include "app/form_main.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QStyle>
#include <QToolButton>

#include "app/banners.h"
#include "app/com_state_lamp.h"
#include "app/form_about.h"
#include "app/port_list.h"
#include "form/program_identity.h"
#include "app/status_tone.h"
#include "dld/region_sets.h"
#include "dld/upgrade_file_check.h"

namespace vn {
namespace {

constexpr int kClientWidth = 447;
// The outer height is 330 with a title bar of about 30 pixels; the controls end at 300.
constexpr int kClientHeight = 300;

// The panels' controls: Arial 14 pixels, navy text; labels and button captions bold and black.
QFont PanelFont() {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(14);
  return font;
}

QFont BoldFont() {
  QFont font = PanelFont();
  font.setBold(true);
  return font;
}

// Only the enabled look gets the fixed colour: the style's disabled colour must stay, or a control
// disabled during a transfer would look exactly like an enabled one.
void SetEnabledTextColour(QWidget* widget, std::initializer_list<QPalette::ColorRole> roles,
                          const QColor& colour) {
  QPalette palette = widget->palette();
  for (const QPalette::ColorRole role : roles) {
    palette.setColor(QPalette::Active, role, colour);
    palette.setColor(QPalette::Inactive, role, colour);
  }
  widget->setPalette(palette);
}

void UseNavyText(QWidget* widget) {
  SetEnabledTextColour(widget, {QPalette::Text, QPalette::ButtonText}, Qt::darkBlue);
}

void UseBlackText(QWidget* widget) {
  SetEnabledTextColour(widget, {QPalette::WindowText, QPalette::ButtonText}, Qt::black);
  widget->setFont(BoldFont());
}

QFrame* MakePanel(QWidget* parent, const char* name, QRect geometry) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(QLatin1String(name));
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setGeometry(geometry);
  panel->setFont(PanelFont());
  return panel;
}

QLabel* MakeLabel(QWidget* panel, const QString& text, QPoint topLeft) {
  auto* label = new QLabel(text, panel);
  UseBlackText(label);
  label->move(topLeft);
  label->adjustSize();
  return label;
}

QLineEdit* MakeField(QWidget* panel, const char* name, QRect geometry) {
  auto* field = new QLineEdit(panel);
  field->setObjectName(QLatin1String(name));
  field->setReadOnly(true);
  // When a transfer disables the lists and buttons, focus must not land here and select the text.
  field->setFocusPolicy(Qt::ClickFocus);
  field->setGeometry(geometry);
  UseNavyText(field);
  return field;
}

QToolButton* MakeButton(QWidget* panel, const char* name, const QString& caption,
                        QStyle::StandardPixmap picture, QRect geometry, bool flat) {
  auto* button = new QToolButton(panel);
  button->setObjectName(QLatin1String(name));
  button->setText(caption);
  button->setIcon(panel->style()->standardIcon(picture));
  button->setIconSize(QSize(14, 14));
  button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  button->setAutoRaise(flat);
  button->setGeometry(geometry);
  UseBlackText(button);
  return button;
}

QString OpenCaption(Operation operation) {
  return operation == Operation::kDownload ? QStringLiteral("Open") : QStringLiteral("Save");
}

QStyle::StandardPixmap OpenPicture(Operation operation) {
  return operation == Operation::kDownload ? QStyle::SP_DialogOpenButton
                                           : QStyle::SP_DialogSaveButton;
}

}  // namespace

TFormMain::TFormMain(std::unique_ptr<ComPort> port, QString programDir, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      station_(std::move(port), bridge_, programDir.toStdString()) {
  setObjectName(QStringLiteral("FormMain"));
  setWindowTitle(QLatin1String(kWindowCaption));
  setFixedSize(kClientWidth, kClientHeight);
  BuildControls();
  ConnectBridge();
  if (const QScreen* screen = this->screen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

TFormMain::~TFormMain() {
  StopOperation();
  station_.Close();
}

void TFormMain::BuildControls() {
  banner_ = MakeBannerLabel(kMainBanner, this);
  banner_->setObjectName(QStringLiteral("Image_Banner"));
  banner_->setGeometry(0, 0, kClientWidth, 100);

  mainPanel_ = MakePanel(this, "P_Main", QRect(0, 100, kClientWidth, 170));
  comLabel_ = MakeLabel(mainPanel_, QStringLiteral("COM:"), QPoint(16, 14));
  comLabel_->setObjectName(QStringLiteral("Label_Com"));
  Shape_ComState = new ComStateLamp(mainPanel_);
  Shape_ComState->setObjectName(QStringLiteral("Shape_ComState"));
  // Right of the caption so that the two do not overlap with wider fonts than the original's.
  Shape_ComState->setGeometry(66, 16, 11, 11);
  CB_Com = new PortComboBox(mainPanel_);
  CB_Com->setObjectName(QStringLiteral("CB_Com"));
  CB_Com->setGeometry(90, 10, 150, 24);
  UseNavyText(CB_Com);
  MakeLabel(mainPanel_, QStringLiteral("Baudrates:"), QPoint(250, 14));
  E_Bau = MakeField(mainPanel_, "E_Bau", QRect(340, 10, 100, 22));
  E_Bau->setText(QStringLiteral("115200[bps]"));

  upgLabel_ = MakeLabel(mainPanel_, QStringLiteral("Upgrade:"), QPoint(16, 48));
  upgLabel_->setObjectName(QStringLiteral("Label_Upg"));
  CB_Upg = new QComboBox(mainPanel_);
  CB_Upg->setObjectName(QStringLiteral("CB_Upg"));
  CB_Upg->setGeometry(90, 44, 151, 24);
  UseNavyText(CB_Upg);
  for (const RegionSet& row : RegionSets()) {
    const std::string_view name = row.windowName;
    CB_Upg->addItem(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
  }

  SB_Open = MakeButton(mainPanel_, "SB_Open", OpenCaption(Operation::kDownload),
                       OpenPicture(Operation::kDownload), QRect(12, 78, 70, 23), true);
  E_FileName = MakeField(mainPanel_, "E_FileName", QRect(90, 79, 342, 22));
  SB_Sta = MakeButton(mainPanel_, "SB_Sta", QStringLiteral("Start"), QStyle::SP_MediaPlay,
                      QRect(12, 112, 70, 23), true);
  E_Start = MakeField(mainPanel_, "E_Start", QRect(90, 113, 342, 22));
  ProgressBarMain = new QProgressBar(mainPanel_);
  ProgressBarMain->setObjectName(QStringLiteral("ProgressBarMain"));
  ProgressBarMain->setGeometry(12, 147, 420, 12);
  ProgressBarMain->setTextVisible(false);
  ProgressBarMain->setRange(0, 100);
  ProgressBarMain->setValue(0);

  buttonBar_ = MakePanel(this, "P_Button", QRect(0, 270, kClientWidth, 30));
  SB_Reset = MakeButton(buttonBar_, "SB_Reset", QStringLiteral("Reset"), QStyle::SP_BrowserReload,
                        QRect(285, 4, 70, 22), false);
  SB_Close1 = MakeButton(buttonBar_, "SB_Close1", QStringLiteral("Close"),
                         QStyle::SP_DialogCloseButton, QRect(362, 4, 70, 22), false);

  contextMenu_ = new QMenu(this);
  contextMenu_->setObjectName(QStringLiteral("PopupMenu"));
  connect(contextMenu_->addAction(QStringLiteral("About...")), &QAction::triggered, this,
          &TFormMain::ShowAbout);
  contextMenu_->addSeparator();
  connect(contextMenu_->addAction(QStringLiteral("Exit")), &QAction::triggered, this,
          &TFormMain::SB_Close1Click);

  // Only a user's choice acts; the start-up selection and Reset set the lists quietly.
  connect(CB_Com, &QComboBox::activated, this, &TFormMain::CB_ComSelect);
  connect(CB_Upg, &QComboBox::activated, this, &TFormMain::CB_UpgSelect);
  connect(SB_Open, &QToolButton::clicked, this, &TFormMain::SB_OpenClick);
  connect(SB_Sta, &QToolButton::clicked, this, &TFormMain::SB_StaClick);
  connect(SB_Reset, &QToolButton::clicked, this, &TFormMain::SB_ResetClick);
  connect(SB_Close1, &QToolButton::clicked, this, &TFormMain::SB_Close1Click);

  CB_Com->setCurrentIndex(0);
  CB_Upg->setCurrentIndex(PositionOf(Operation::kDownload));
}

void TFormMain::ConnectBridge() {
  // Reports of a run the window already stopped are dropped.
  connect(&bridge_, &ObserverBridge::Status, this,
          [this](int run, const QString& text, StatusTone tone) {
            if (run == run_) ShowStatus(text, tone);
          });
  connect(&bridge_, &ObserverBridge::Progress, this, [this](int run, int position, int maximum) {
    if (run != run_) return;
    ProgressBarMain->setRange(0, std::max(maximum, 1));
    ProgressBarMain->setValue(position);
  });
  connect(&bridge_, &ObserverBridge::ControlsEnabled, this, [this](int run, bool enabled) {
    if (run == run_) SetChoiceControlsEnabled(enabled);
  });
  connect(&bridge_, &ObserverBridge::ErrorBox, this, [this](int run, const QString& text) {
    if (run == run_) ShowErrorBox(text);
  });
  connect(&bridge_, &ObserverBridge::Notice, this, [this](int run, const QString& text) {
    if (run == run_) ShowNotice(text);
  });
  // The status line keeps the system's own texts; the reason and what was kept go beside it.
  connect(&bridge_, &ObserverBridge::Detail, this, [this](int run, const QString& text) {
    if (run != run_) return;
    details_.append(text);
    E_Start->setToolTip(StatusToolTip());
  });
  connect(&bridge_, &ObserverBridge::Finished, this, &TFormMain::WorkerFinished);
}

void TFormMain::SetChoiceControlsEnabled(bool enabled) {
  // The captions of the two lists go grey with them.
  comLabel_->setEnabled(enabled);
  upgLabel_->setEnabled(enabled);
  CB_Com->setEnabled(enabled);
  CB_Upg->setEnabled(enabled);
  SB_Open->setEnabled(enabled);
  SB_Sta->setEnabled(enabled);
}

void TFormMain::ShowStatus(const QString& text, StatusTone tone) {
  SetEnabledTextColour(E_Start, {QPalette::Text}, ColourOfTone(tone));
  E_Start->setText(text);
  // A text longer than the field shows its start, which names what happened; the tooltip has all.
  E_Start->setCursorPosition(0);
  E_Start->setToolTip(StatusToolTip());
}

// An empty status line that no longer carries the last run's tooltip.
void TFormMain::ClearStatus() {
  details_.clear();
  ShowStatus({}, StatusTone::kNeutral);
}

// The whole status text, then the run's details, which later status texts must not push out.
QString TFormMain::StatusToolTip() const {
  QStringList lines = details_;
  if (!E_Start->text().isEmpty()) lines.prepend(E_Start->text());
  return lines.join(QLatin1Char('\n'));
}

Operation TFormMain::SelectedOperation() const {
  return OperationAt(CB_Upg->currentIndex()).value_or(Operation::kDownload);
}

void TFormMain::ShowOpenCaption(Operation operation) {
  SB_Open->setText(OpenCaption(operation));
  SB_Open->setIcon(style()->standardIcon(OpenPicture(operation)));
}

bool TFormMain::StopOperation() {
  if (!station_.Stop()) return false;
  bridge_.SetRun(++run_);
  return true;
}

void TFormMain::StopOperationKeepingPort() {
  if (StopOperation()) OpenSelectedPort();
}

bool TFormMain::OpenSelectedPort() {
  const bool opened = station_.Open(CB_Com->SelectedPortName().toStdString());
  Shape_ComState->SetPortOpen(opened);
  // The lamp turning red says that the port failed; its tooltip says why.
  Shape_ComState->setToolTip(
      opened ? QString()
             : QString::fromStdString(DescribePortFailure(station_.Port().LastOpenFailure())));
  return opened;
}

void TFormMain::StartWorker(Operation operation, const std::string& file) {
  const int run = run_;
  details_.clear();
  E_Start->setToolTip({});
  station_.Start({operation, file, 0, [this, run] { emit bridge_.Finished(run); }});
}

void TFormMain::WorkerFinished(int run) {
  if (run != run_ || !station_.Wait()) return;  // already stopped and joined
  // A pulled cable ends the operation with the port gone.
  const bool portLost = station_.Result().end == LoopEnd::kPortLost;
  Shape_ComState->SetPortOpen(!portLost && station_.Port().PortOpened());
}

void TFormMain::CB_ComSelect(int index) {
  StopOperation();
  CB_Com->setCurrentIndex(index);
  OpenSelectedPort();
}

void TFormMain::CB_UpgSelect(int index) {
  // A wait for a box with the previous choice would go on unseen behind the cleared fields.
  StopOperationKeepingPort();
  CB_Upg->setCurrentIndex(index);
  ShowOpenCaption(SelectedOperation());
  ClearStatus();
  E_FileName->clear();
  ProgressBarMain->setValue(0);
}

void TFormMain::SB_OpenClick() {
  StopOperationKeepingPort();
  E_FileName->clear();
  station_.Driver().ClearForOpen();
  if (SelectedOperation() == Operation::kDownload) {
    const QString file = ChooseDownloadFileName();
    if (file.isEmpty()) return;
    E_FileName->setText(file);
    // Told before Start, but not refused: the box judges the file in the end.
    Failure failure;
    station_.Driver().ChooseDownloadFile(file.toStdString(), &failure);
    if (failure.Failed() || !CheckUpgradeImage(*station_.Driver().Image(), failure)) {
      ShowStatus(
          QStringLiteral("Unsound file: %1").arg(QString::fromStdString(FailureText(failure))),
          StatusTone::kFailure);
    }
  } else {
    const QString file = ChooseUploadFileName();
    if (!file.isEmpty()) E_FileName->setText(file);
  }
}

void TFormMain::SB_StaClick() {
  StopOperation();  // two operations never run at once
  if (!OpenSelectedPort()) return;
  // A refusal's reason goes beside it, without the last run's.
  details_.clear();
  const Operation operation = SelectedOperation();
  const std::string file = E_FileName->text().toStdString();
  switch (station_.Driver().CheckStart(operation, file)) {
    case StartCheck::kRefused:
      return;
    case StartCheck::kAskOverwrite:
      if (!ConfirmOverwrite()) {
        E_FileName->clear();
        return;
      }
      break;
    case StartCheck::kReady:
      break;
  }
  StartWorker(operation, file);
}

void TFormMain::SB_ResetClick() {
  StopOperation();
  ProgressBarMain->setValue(0);
  station_.Close();
  Shape_ComState->SetPortOpen(false);
  Shape_ComState->setToolTip({});
  ClearStatus();
  E_FileName->clear();
  SetChoiceControlsEnabled(true);
  CB_Com->setCurrentIndex(0);
  CB_Upg->setCurrentIndex(PositionOf(Operation::kDownload));
  ShowOpenCaption(Operation::kDownload);
}

void TFormMain::SB_Close1Click() {
  StopOperation();
  station_.Close();
  EndProcess();
}

void TFormMain::ShowAbout() {
  // Modal for the user; the operation goes on in the worker meanwhile.
  TFormAbout about(this);
  about.exec();
}

void TFormMain::BringToFront() {
  if (isMinimized()) {
    showNormal();
  } else {
    show();
    raise();
  }
  activateWindow();
}

QString TFormMain::ChooseDownloadFileName() {
  QFileDialog dialog(this, QStringLiteral("Open Download File"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilter(QStringLiteral("Settings Files(*.dld)"));
  dialog.setDefaultSuffix(QStringLiteral("dld"));
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles().value(0);
}

QString TFormMain::ChooseUploadFileName() {
  QFileDialog dialog(this, QStringLiteral("Save Upload File"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  // Start asks before covering an existing file.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters({QStringLiteral("Settings Files(*.dld)"), QStringLiteral("All File(*.*)")});
  dialog.setDefaultSuffix(QStringLiteral("dld"));
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles().value(0);
}

bool TFormMain::ConfirmOverwrite() {
  return QMessageBox::question(this, QStringLiteral("Confirm"), QLatin1String(kOverwriteQuestion),
                               QMessageBox::Yes | QMessageBox::Cancel,
                               QMessageBox::Cancel) == QMessageBox::Yes;
}

void TFormMain::ShowErrorBox(const QString& text) {
  // Not exec(): the box must not hold up the reports queued behind it.
  auto* box =
      new QMessageBox(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void TFormMain::ShowNotice(const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Notice"), text,
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void TFormMain::EndProcess() {
  QCoreApplication::exit(0);
}

void TFormMain::contextMenuEvent(QContextMenuEvent* event) {
  contextMenu_->popup(event->globalPos());
}

void TFormMain::closeEvent(QCloseEvent* event) {
  StopOperation();
  station_.Close();
  event->accept();
}

}  // namespace vn
