#pragma once
// The main window: port, operation and file choice, Start, the status line and the progress bar.
//
// Threads: the window's thread owns every widget and does Start's checks, opening the port before
// anything runs. The station's worker thread then runs the operation loop and owns the port until
// it ends; what it reports arrives here through the observer bridge's queued signals. Reset,
// Close, a port or operation change, Open and a second Start stop a running operation first: the
// station's stop ends every wait of the worker within a fraction of a second, and the worker is
// joined before the port is touched again.
#include <QStringList>
#include <QWidget>
#include <memory>

#include "app/observer_bridge.h"
#include "app/status_tone.h"
#include "link/com_port.h"
#include "link/station.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QToolButton;

namespace vn {

class ComStateLamp;
class PortComboBox;

class TFormMain : public QWidget {
  Q_OBJECT
 public:
  TFormMain(std::unique_ptr<ComPort> port, QString programDir, QWidget* parent = nullptr);
  ~TFormMain() override;

  // True while the worker runs an operation (waiting for a box included).
  bool OperationRunning() const { return station_.Running(); }

 public slots:
  void CB_ComSelect(int index);
  void CB_UpgSelect(int index);
  void SB_OpenClick();
  void SB_StaClick();
  void SB_ResetClick();
  void SB_Close1Click();
  void ShowAbout();
  // Another copy was started: restore if minimised, otherwise come to the front.
  void BringToFront();

 protected:
  // The modal dialogs and the end of the process, replaced by tests.
  virtual QString ChooseDownloadFileName();  // empty when cancelled
  virtual QString ChooseUploadFileName();    // empty when cancelled
  virtual bool ConfirmOverwrite();
  virtual void ShowErrorBox(const QString& text);
  virtual void ShowNotice(const QString& text);
  virtual void EndProcess();

  void contextMenuEvent(QContextMenuEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void ConnectBridge();
  void SetChoiceControlsEnabled(bool enabled);
  // The status line's text, coloured by whether it tells of a success or a failure.
  void ShowStatus(const QString& text, StatusTone tone);
  QString StatusToolTip() const;
  void ClearStatus();
  // "Open" with its picture for a download, "Save" for an upload.
  void ShowOpenCaption(int operation);
  // Stops and joins a running operation; true if one ran. The port is left not usable.
  bool StopOperation();
  // For Open and an operation change, which keep the chosen port: reopen it if a stop spent it.
  void StopOperationKeepingPort();
  bool OpenSelectedPort();
  void StartWorker(int operation, const std::string& file);
  void WorkerFinished(int run);

  ObserverBridge bridge_;
  Station station_;
  int run_ = 0;          // reports of other runs are stale
  QStringList details_;  // the running operation's details, for the status line's tooltip

  QLabel* banner_ = nullptr;
  QFrame* mainPanel_ = nullptr;
  QFrame* buttonBar_ = nullptr;
  QLabel* comLabel_ = nullptr;
  QLabel* upgLabel_ = nullptr;
  ComStateLamp* Shape_ComState = nullptr;
  PortComboBox* CB_Com = nullptr;
  QLineEdit* E_Bau = nullptr;
  QComboBox* CB_Upg = nullptr;
  QToolButton* SB_Open = nullptr;
  QLineEdit* E_FileName = nullptr;
  QToolButton* SB_Sta = nullptr;
  QLineEdit* E_Start = nullptr;
  QProgressBar* ProgressBarMain = nullptr;
  QToolButton* SB_Reset = nullptr;
  QToolButton* SB_Close1 = nullptr;
  QMenu* contextMenu_ = nullptr;
};

}  // namespace vn
