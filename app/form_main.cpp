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
#include "app/port_combo_box.h"
#include "form/form_texts.h"
#include "form/program_identity.h"
#include "link/status_texts.h"

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

QColor ColourOf(Rgb colour) {
  return QColor(colour.red, colour.green, colour.blue);
}

QString Text(const char* text) {
  return QString::fromUtf8(text);
}

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

TFormMain::TFormMain(std::unique_ptr<ComPort> port, QString programDir, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("FormMain"));
  setWindowTitle(QLatin1String(kWindowCaption));
  setFixedSize(kClientWidth, kClientHeight);
  BuildControls();
  FormView& view = *this;
  model_ = std::make_unique<FormModel>(view, std::move(port), programDir.toStdString());
  Show(model_->State());
  if (const QScreen* screen = this->screen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

TFormMain::~TFormMain() {
  model_.reset();  // stops and joins a running operation while the widgets are still there
}

void TFormMain::BuildControls() {
  banner_ = MakeBannerLabel(kMainBanner, this);
  banner_->setObjectName(QStringLiteral("Image_Banner"));
  banner_->setGeometry(0, 0, kClientWidth, 100);

  mainPanel_ = MakePanel(this, "P_Main", QRect(0, 100, kClientWidth, 170));
  comLabel_ = MakeLabel(mainPanel_, Text(kComCaption), QPoint(16, 14));
  comLabel_->setObjectName(QStringLiteral("Label_Com"));
  Shape_ComState = new ComStateLamp(mainPanel_);
  Shape_ComState->setObjectName(QStringLiteral("Shape_ComState"));
  // Right of the caption so that the two do not overlap with wider fonts than the original's.
  Shape_ComState->setGeometry(66, 16, 11, 11);
  CB_Com = new PortComboBox(mainPanel_);
  CB_Com->setObjectName(QStringLiteral("CB_Com"));
  CB_Com->setGeometry(90, 10, 150, 24);
  UseNavyText(CB_Com);
  MakeLabel(mainPanel_, Text(kRateCaption), QPoint(250, 14));
  E_Bau = MakeField(mainPanel_, "E_Bau", QRect(340, 10, 100, 22));
  E_Bau->setText(Text(kRateText));

  upgLabel_ = MakeLabel(mainPanel_, Text(kOperationCaption), QPoint(16, 48));
  upgLabel_->setObjectName(QStringLiteral("Label_Upg"));
  CB_Upg = new QComboBox(mainPanel_);
  CB_Upg->setObjectName(QStringLiteral("CB_Upg"));
  CB_Upg->setGeometry(90, 44, 151, 24);
  UseNavyText(CB_Upg);
  for (const std::string& name : OperationNames()) CB_Upg->addItem(Text(name));

  SB_Open = MakeButton(mainPanel_, "SB_Open", Text(kOpenCaption), QStyle::SP_DialogOpenButton,
                       QRect(12, 78, 70, 23), true);
  E_FileName = MakeField(mainPanel_, "E_FileName", QRect(90, 79, 342, 22));
  SB_Sta = MakeButton(mainPanel_, "SB_Sta", Text(kStartCaption), QStyle::SP_MediaPlay,
                      QRect(12, 112, 70, 23), true);
  E_Start = MakeField(mainPanel_, "E_Start", QRect(90, 113, 342, 22));
  ProgressBarMain = new QProgressBar(mainPanel_);
  ProgressBarMain->setObjectName(QStringLiteral("ProgressBarMain"));
  ProgressBarMain->setGeometry(12, 147, 420, 12);
  ProgressBarMain->setTextVisible(false);
  ProgressBarMain->setRange(0, 100);
  ProgressBarMain->setValue(0);

  buttonBar_ = MakePanel(this, "P_Button", QRect(0, 270, kClientWidth, 30));
  SB_Reset = MakeButton(buttonBar_, "SB_Reset", Text(kResetCaption), QStyle::SP_BrowserReload,
                        QRect(285, 4, 70, 22), false);
  SB_Close1 = MakeButton(buttonBar_, "SB_Close1", Text(kCloseCaption), QStyle::SP_DialogCloseButton,
                         QRect(362, 4, 70, 22), false);

  contextMenu_ = new QMenu(this);
  contextMenu_->setObjectName(QStringLiteral("PopupMenu"));
  connect(contextMenu_->addAction(Text(kAboutMenuEntry)), &QAction::triggered, this,
          &TFormMain::ShowAbout);
  contextMenu_->addSeparator();
  connect(contextMenu_->addAction(Text(kExitMenuEntry)), &QAction::triggered, this,
          &TFormMain::SB_Close1Click);

  // Only a user's choice acts; the start-up selection and Reset set the lists quietly.
  connect(CB_Com, &QComboBox::activated, this, &TFormMain::CB_ComSelect);
  connect(CB_Upg, &QComboBox::activated, this, &TFormMain::CB_UpgSelect);
  connect(SB_Open, &QToolButton::clicked, this, &TFormMain::SB_OpenClick);
  connect(SB_Sta, &QToolButton::clicked, this, &TFormMain::SB_StaClick);
  connect(SB_Reset, &QToolButton::clicked, this, &TFormMain::SB_ResetClick);
  connect(SB_Close1, &QToolButton::clicked, this, &TFormMain::SB_Close1Click);
  CB_Com->onOpening = [this] { model_->RefreshPorts(); };
}

void TFormMain::Show(const FormState& state) {
  // The captions of the two lists go grey with them.
  for (QWidget* control :
       std::initializer_list<QWidget*>{comLabel_, upgLabel_, CB_Com, CB_Upg, SB_Open, SB_Sta}) {
    control->setEnabled(state.choicesEnabled);
  }
  CB_Com->SetEntries(state.ports, state.portIndex);
  {
    const QSignalBlocker quiet(CB_Upg);
    CB_Upg->setCurrentIndex(state.operationIndex);
  }
  SB_Open->setText(Text(state.openCaption));
  SB_Open->setIcon(style()->standardIcon(state.openSaves ? QStyle::SP_DialogSaveButton
                                                         : QStyle::SP_DialogOpenButton));
  E_FileName->setText(Text(state.fileName));
  SetEnabledTextColour(E_Start, {QPalette::Text}, ColourOf(ColourOfTone(state.tone)));
  if (E_Start->text() != Text(state.status)) {
    E_Start->setText(Text(state.status));
    // A text longer than the field shows its start, which names what happened; the tooltip has
    // all.
    E_Start->setCursorPosition(0);
  }
  E_Start->setToolTip(Text(state.statusToolTip));
  Shape_ComState->SetPortOpen(state.portOpen);
  Shape_ComState->setToolTip(Text(state.lampToolTip));
  ProgressBarMain->setRange(0, state.progressMaximum);
  ProgressBarMain->setValue(state.progress);
}

void TFormMain::PostToUiThread(std::function<void()> task) {
  QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void TFormMain::CB_ComSelect(int index) {
  model_->ChoosePort(index);
}

void TFormMain::CB_UpgSelect(int index) {
  model_->ChooseOperation(index);
}

void TFormMain::SB_OpenClick() {
  model_->Open();
}

void TFormMain::SB_StaClick() {
  model_->Start();
}

void TFormMain::SB_ResetClick() {
  model_->Reset();
}

void TFormMain::SB_Close1Click() {
  model_->Close();
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

std::optional<std::string> TFormMain::ChooseDownloadFile() {
  QFileDialog dialog(this, Text(kOpenDialogTitle));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilter(Text(kUpgradeFileFilter.name));
  dialog.setDefaultSuffix(Text(kDefaultExtension));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> TFormMain::ChooseUploadFile() {
  QFileDialog dialog(this, Text(kSaveDialogTitle));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  // Start asks before covering an existing file.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters({Text(kUpgradeFileFilter.name), Text(kAllFilesFilter.name)});
  dialog.setDefaultSuffix(Text(kDefaultExtension));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

bool TFormMain::ConfirmOverwrite() {
  return QMessageBox::question(this, Text(kConfirmCaption), Text(kOverwriteQuestion),
                               QMessageBox::Yes | QMessageBox::Cancel,
                               QMessageBox::Cancel) == QMessageBox::Yes;
}

void TFormMain::ShowErrorBox(const std::string& text) {
  // Not exec(): the box must not hold up the reports queued behind it.
  auto* box = new QMessageBox(QMessageBox::Critical, Text(kErrorCaption), Text(text),
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void TFormMain::ShowNotice(const std::string& text) {
  auto* box = new QMessageBox(QMessageBox::Information, Text(kNoticeCaption), Text(text),
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
  model_->Shutdown();
  event->accept();
}

}  // namespace vn
