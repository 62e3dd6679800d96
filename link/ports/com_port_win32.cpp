// The serial port on Windows, through the Win32 communications calls on an overlapped handle.
//
// Every wait sleeps on an event: the port's EV_RXCHAR wait for input, the request's own event for
// a read or a write, and always the stop event beside it, so that RequestStop from another thread
// ends any wait at once. No wait is without a limit. A port that vanishes (USB adapter pulled)
// makes ClearCommError or a transfer fail, which clears PortOpened.
//
// The line must carry all 256 byte values unchanged both ways: the header block's tag is 0x11
// (XON), and any byte may occur inside a frame. So XON/XOFF is off both ways, no received byte is
// replaced or dropped (parity replacement, error character, null stripping), and a line error
// does not abort the transfers that follow it (the protocol's checksums judge the data). Speed,
// size, parity and stop bits are set; everything else stays as the driver had it.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "link/line_rate.h"
#include "link/port_failure.h"
#include "link/system_port.h"
#include "platform/system_message_win32.h"

namespace vn {
namespace {

constexpr DWORD kQueueSize = 3072;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kPurgeInput = PURGE_RXABORT | PURGE_RXCLEAR;
constexpr std::chrono::microseconds kWaitSlice{50000};
// How long a wait sleeps between looks on a driver whose event wait does not wait.
constexpr DWORD kBlindSliceMs = 3;
// A read of bytes ClearCommError already reported, or a write the driver takes on: their line
// time plus this margin, after which the request is cancelled.
constexpr std::chrono::milliseconds kTransferMargin{1000};
// What a close may wait for written bytes to leave, beyond their line time.
constexpr std::chrono::milliseconds kDrainMargin{200};
constexpr std::chrono::milliseconds kDrainPoll{2};

std::chrono::milliseconds LineTimeOf(int64_t bytes) {
  return std::chrono::ceil<std::chrono::milliseconds>(LineTime(bytes));
}

// The platform's reading of a Windows error, with what it means for a port: Windows opens a
// port for one handle only, so a port in use is refused as access denied; a name that is no
// device is refused as a function the driver lacks; anything else is a set-up the user cannot
// act on.
FailureKind ProblemOfOpenError(DWORD error) {
  switch (error) {
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
      return FailureKind::kNotFound;
    case ERROR_ACCESS_DENIED:
      return FailureKind::kBusy;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
      return FailureKind::kWrongKind;
  }
  const FailureKind kind = FailureOfSystemError(error).kind;
  return kind == FailureKind::kOther ? FailureKind::kSetupFailed : kind;
}

DWORD MillisecondsOf(std::chrono::microseconds limit) {
  return DWORD(std::max<int64_t>(1, std::chrono::ceil<std::chrono::milliseconds>(limit).count()));
}

class Win32ComPort final : public ComPort {
 public:
  Win32ComPort() : stopEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Win32ComPort() override {
    CloseComPort();
    if (stopEvent_ != nullptr) CloseHandle(stopEvent_);
  }

  bool OpenComPort(const std::string& name) override {
    CloseComPort();
    failure_ = {};
    ClearLoss();
    notice_.clear();
    if (!CreateEvents()) {
      // Shown by whoever opened the port: the window in a box of its own, the command line on
      // standard error.
      notice_ = "CreateEvent Error!";
      return Fail(FailureKind::kSetupFailed, GetLastError());
    }
    handle_ = CreateFileA(ComDeviceName(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      return Fail(ProblemOfOpenError(error), error);
    }
    DCB line{};
    line.DCBlength = sizeof line;
    if (!GetCommState(handle_, &line)) return Fail(FailureKind::kWrongKind, GetLastError());
    SetupComm(handle_, kQueueSize, kQueueSize);
    ResetEvent(stopEvent_);
    stopRequested_ = false;
    opened_ = true;
    // A failed step leaves the handle open but unusable; the next close or open ends it.
    bool configured = ConfigureLine(line);
    if (configured && !SetCommMask(handle_, EV_RXCHAR)) configured = false;
    if (configured && !PurgeComPort()) configured = false;
    if (!configured) {
      opened_ = false;
      failure_ = {.kind = FailureKind::kSetupFailed,
                  .systemMessage = SystemMessage(GetLastError())};
      return false;
    }
    // Sleeps elsewhere in the wait (while a message is arriving) would otherwise last at least
    // one 15.6 ms tick, which a lock-step line pays on every frame.
    timePeriodSet_ = timeBeginPeriod(1) == TIMERR_NOERROR;
    return true;
  }

  bool CloseComPort() override {
    // A stop asked for by the user drops unsent output; an operation that ended by itself lets it
    // go out, since the box is still owed the answers written last.
    const bool drain = !stopRequested_.exchange(false);
    opened_ = false;
    if (handle_ != INVALID_HANDLE_VALUE) {
      if (!drain || !DrainOutput()) PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);
      EndInputWait();
      CloseHandle(handle_);
      handle_ = INVALID_HANDLE_VALUE;
    }
    CloseEvents();
    if (timePeriodSet_) timeEndPeriod(1);
    timePeriodSet_ = false;
    return true;
  }

  Failure LastOpenFailure() const override { return failure_; }
  std::string LastOpenNotice() const override { return notice_; }

  bool PurgeComPort() override {
    return handle_ != INVALID_HANDLE_VALUE && PurgeComm(handle_, kPurgeAll);
  }

  int32_t ComWrite(const uint8_t* data, int32_t count) override {
    // Only unread input is thrown away: purging output too would drop an answer (an ACK, say)
    // that the driver has not sent yet when the next message follows it at once.
    if (handle_ != INVALID_HANDLE_VALUE) PurgeComm(handle_, kPurgeInput);
    if (count < 0 || count > kMaxTransfer || !opened_) return -1;
    const auto deadline = std::chrono::steady_clock::now() + LineTimeOf(count) + kTransferMargin;
    int32_t written = 0;
    while (written < count && opened_) {
      const int32_t n = Transfer(Direction::kWrite, const_cast<uint8_t*>(data) + written,
                                 count - written, deadline);
      if (n <= 0) break;
      written += n;
    }
    return written;
  }

  int32_t ComReadExact(uint8_t* destination, int32_t count) override {
    if (count < 0 || count > kMaxTransfer || !opened_) return -1;
    const int32_t waiting = BytesWaiting();
    if (waiting != count) {
      // A surplus is lost whole: the box sends one message at a time, so extra bytes mean the
      // message is not the one awaited.
      if (waiting > count) PurgeComm(handle_, kPurgeInput);
      return -1;
    }
    if (count == 0) return 0;
    const auto deadline = std::chrono::steady_clock::now() + LineTimeOf(count) + kTransferMargin;
    int32_t got = 0;
    while (got < count && opened_) {
      const int32_t n = Transfer(Direction::kRead, destination + got, count - got, deadline);
      if (n <= 0) break;
      got += n;
    }
    COMSTAT status{};
    DWORD errors = 0;
    ClearCommError(handle_, &errors, &status);
    return got == count ? count : -1;
  }

  int32_t ComReadSome(uint8_t* destination, int32_t max) override {
    if (max < 0 || max > kMaxTransfer) return -1;
    const int32_t waiting = BytesWaiting();
    if (waiting <= 0 || max == 0) return waiting < 0 ? -1 : 0;
    // Only bytes the driver already holds are asked for, so the read ends at once.
    const int32_t count = std::min(waiting, max);
    const auto deadline = std::chrono::steady_clock::now() + LineTimeOf(count) + kTransferMargin;
    const int32_t got = Transfer(Direction::kRead, destination, count, deadline);
    return got < 0 ? -1 : got;
  }

  bool PortOpened() const override { return opened_; }

  void RequestStop() override {
    stopRequested_ = true;
    opened_ = false;
    if (stopEvent_ != nullptr) SetEvent(stopEvent_);
  }

  int32_t BytesWaiting() override {
    if (handle_ == INVALID_HANDLE_VALUE || !opened_) return -1;
    COMSTAT status{};
    DWORD errors = 0;
    // Line errors are cleared here and never reported: the protocol's checksums judge the data.
    // A failure means the device is gone.
    if (!ClearCommError(handle_, &errors, &status)) {
      Lose(GetLastError());
      return -1;
    }
    return int32_t(std::min<DWORD>(status.cbInQue, INT32_MAX));
  }

  void WaitForInput(std::chrono::microseconds limit) override {
    if (handle_ == INVALID_HANDLE_VALUE || !opened_ || limit.count() <= 0) return;
    const DWORD milliseconds = MillisecondsOf(std::min(limit, kWaitSlice));
    if (!ArmInputWait()) {
      // The driver refuses the event wait: sleep on the stop event alone, still bounded.
      WaitForSingleObject(stopEvent_, milliseconds);
      return;
    }
    // Bytes that came in just before the wait was armed may not raise the event (not every
    // driver reports characters already queued), so look once more before sleeping.
    if (BytesWaiting() != 0) return;
    const HANDLE events[] = {waitEvent_, stopEvent_};
    if (WaitForMultipleObjects(2, events, FALSE, milliseconds) != WAIT_OBJECT_0) return;
    ReapInputWait();
    if (BytesWaiting() != 0) {
      emptyWakeups_ = 0;
      return;
    }
    // The wait ended with nothing received: once after bytes already read (their event stays
    // latched), but every time on a driver that cannot watch the line (Wine on a pseudo-terminal
    // ends every wait at once). There a short sleep on the stop event keeps the wait from spinning.
    if (++emptyWakeups_ > 1) WaitForSingleObject(stopEvent_, std::min(milliseconds, kBlindSliceMs));
  }

 private:
  enum class Direction { kRead, kWrite };

  bool CreateEvents() {
    if (stopEvent_ == nullptr) stopEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    waitEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    readEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    writeEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return stopEvent_ != nullptr && waitEvent_ != nullptr && readEvent_ != nullptr &&
           writeEvent_ != nullptr;
  }

  void CloseEvents() {
    for (HANDLE* event : {&waitEvent_, &readEvent_, &writeEvent_}) {
      if (*event != nullptr) CloseHandle(*event);
      *event = nullptr;
    }
  }

  bool ConfigureLine(DCB line) {
    line.BaudRate = CBR_115200;
    line.ByteSize = 8;
    line.Parity = EVENPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = TRUE;
    line.fOutX = FALSE;  // 0x11 and 0x13 are data, not XON and XOFF
    line.fInX = FALSE;
    line.fParity = FALSE;     // a byte with a parity error is passed on, not replaced
    line.fErrorChar = FALSE;  // ... nor swapped for the error character
    line.fNull = FALSE;       // 0x00 bytes are data
    line.fAbortOnError = FALSE;
    if (SetCommState(handle_, &line)) return true;
    // Wine may map the port to a pseudo-terminal, which has no parity: once everything else is in
    // place (a reopen), asking for parity changes nothing and is refused. Such a line is as good
    // as that port gets; any other refusal fails the open.
    const DWORD error = GetLastError();
    DCB applied{};
    applied.DCBlength = sizeof applied;
    if (GetCommState(handle_, &applied) && applied.Parity == NOPARITY &&
        SameLineButParity(applied, line)) {
      return true;
    }
    SetLastError(error);
    return false;
  }

  static bool SameLineButParity(const DCB& a, const DCB& b) {
    return a.BaudRate == b.BaudRate && a.ByteSize == b.ByteSize && a.StopBits == b.StopBits &&
           a.fBinary == b.fBinary && a.fOutX == b.fOutX && a.fInX == b.fInX &&
           a.fParity == b.fParity && a.fErrorChar == b.fErrorChar && a.fNull == b.fNull &&
           a.fAbortOnError == b.fAbortOnError;
  }

  bool Fail(FailureKind problem, DWORD error) {
    failure_ = {.kind = problem, .systemMessage = SystemMessage(error)};
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    CloseEvents();
    return false;
  }

  // One overlapped ReadFile or WriteFile of up to `count` bytes: the bytes moved, 0 when the
  // deadline passed or a stop came (the request is then cancelled), -1 on a failure, which
  // also clears PortOpened since the device is gone.
  // WriteFile only reads `bytes`.
  int32_t Transfer(Direction direction, uint8_t* bytes, int32_t count,
                   std::chrono::steady_clock::time_point deadline) {
    const HANDLE event = direction == Direction::kRead ? readEvent_ : writeEvent_;
    OVERLAPPED request{};
    request.hEvent = event;
    ResetEvent(event);
    DWORD moved = 0;
    const BOOL done = direction == Direction::kRead
                          ? ReadFile(handle_, bytes, DWORD(count), &moved, &request)
                          : WriteFile(handle_, bytes, DWORD(count), &moved, &request);
    if (done) return int32_t(moved);
    if (const DWORD error = GetLastError(); error != ERROR_IO_PENDING) {
      Lose(error);
      return -1;
    }
    const HANDLE events[] = {event, stopEvent_};
    for (;;) {
      const auto left = deadline - std::chrono::steady_clock::now();
      if (left <= decltype(left)::zero() || !opened_) break;
      const DWORD waited = WaitForMultipleObjects(
          2, events, FALSE,
          MillisecondsOf(std::chrono::duration_cast<std::chrono::microseconds>(left)));
      if (waited != WAIT_TIMEOUT) break;
    }
    if (WaitForSingleObject(event, 0) != WAIT_OBJECT_0) CancelIoEx(handle_, &request);
    // The request must be finished before its record leaves the stack.
    if (GetOverlappedResult(handle_, &request, &moved, TRUE)) return int32_t(moved);
    if (const DWORD error = GetLastError(); error != ERROR_OPERATION_ABORTED) Lose(error);
    return int32_t(moved);
  }

  // The port went away under a read or a write; a stop that got there first is no loss.
  void Lose(DWORD error) {
    if (opened_) NoteLoss(FailureOfSystemError(error));
    opened_ = false;
  }

  // Arms the EV_RXCHAR wait unless one is pending; false when the driver refuses it.
  bool ArmInputWait() {
    if (waitPending_) return true;
    waitRequest_ = OVERLAPPED{};
    waitRequest_.hEvent = waitEvent_;
    ResetEvent(waitEvent_);
    if (WaitCommEvent(handle_, &eventMask_, &waitRequest_)) return true;  // an event was pending
    if (GetLastError() != ERROR_IO_PENDING) return false;
    waitPending_ = true;
    return true;
  }

  void ReapInputWait() {
    DWORD ignored = 0;
    GetOverlappedResult(handle_, &waitRequest_, &ignored, FALSE);
    waitPending_ = false;
  }

  // A pending wait ends when its mask changes; its record must outlive it.
  void EndInputWait() {
    if (!waitPending_) return;
    SetCommMask(handle_, 0);
    if (WaitForSingleObject(waitEvent_, DWORD(kWaitSlice.count() / 1000)) != WAIT_OBJECT_0) {
      CancelIoEx(handle_, &waitRequest_);
    }
    DWORD ignored = 0;
    GetOverlappedResult(handle_, &waitRequest_, &ignored, TRUE);
    waitPending_ = false;
  }

  // Waits until the driver has passed on what was written, for at most its line time and a
  // margin; true when nothing is left.
  bool DrainOutput() {
    COMSTAT status{};
    DWORD errors = 0;
    if (!ClearCommError(handle_, &errors, &status)) return false;
    const auto deadline =
        std::chrono::steady_clock::now() + kDrainMargin + LineTimeOf(status.cbOutQue);
    while (status.cbOutQue > 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(kDrainPoll);
      if (!ClearCommError(handle_, &errors, &status)) return false;
    }
    return status.cbOutQue == 0;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  // Lives as long as the object, so that RequestStop from another thread never meets a closed
  // handle.
  HANDLE stopEvent_ = nullptr;
  HANDLE waitEvent_ = nullptr;
  HANDLE readEvent_ = nullptr;
  HANDLE writeEvent_ = nullptr;
  OVERLAPPED waitRequest_{};
  DWORD eventMask_ = 0;  // WaitCommEvent's output; which event came does not matter
  bool waitPending_ = false;
  int emptyWakeups_ = 0;  // event waits in a row that ended with nothing received
  bool timePeriodSet_ = false;
  std::atomic<bool> opened_{false};
  std::atomic<bool> stopRequested_{false};
  Failure failure_;
  std::string notice_;
};

}  // namespace

std::string ListedComDevice(int number) {
  return "\\\\.\\COM" + std::to_string(number);
}

// Windows gives a port to whoever asks first; there is no group to join.
std::string PermissionAdvice() {
  return "";
}

std::unique_ptr<ComPort> MakeSystemComPort() {
  return std::make_unique<Win32ComPort>();
}

}  // namespace vn
