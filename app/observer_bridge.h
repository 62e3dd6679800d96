#pragma once
// Carries what the operation reports on the worker thread over to the window's thread. Every
// signal carries the number of the run it belongs to: once the window has stopped a run, reports
// of that run still queued are recognised and dropped, so a Reset is not undone by a late
// "Connectting...".
#include <QObject>
#include <QString>
#include <atomic>

#include "app/status_tone.h"
#include "link/link_observer.h"

namespace vn {

class ObserverBridge : public QObject, public LinkObserver {
  Q_OBJECT
 public:
  explicit ObserverBridge(QObject* parent = nullptr) : QObject(parent) {}

  // Set by the window's thread while no worker runs.
  void SetRun(int run) { run_.store(run); }
  int Run() const { return run_.load(); }

  void OnEvent(const LinkEvent& event) override;
  void OnErrorBox(const std::string& text) override;
  void OnDetail(const std::string& text) override;

 signals:
  void Status(int run, const QString& text, vn::StatusTone tone);
  void Progress(int run, int position, int maximum);
  void ControlsEnabled(int run, bool enabled);
  void ErrorBox(int run, const QString& text);
  void Notice(int run, const QString& text);
  void Detail(int run, const QString& text);
  // Emitted by the worker as its last act; the window then joins it.
  void Finished(int run);

 private:
  std::atomic<int> run_{0};
};

}  // namespace vn
