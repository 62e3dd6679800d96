// The short exchanges every transfer is built of: control bytes, command frames and the connect.
#include "link/framing.h"

#include "link/message_wait.h"

namespace vn {
namespace {

bool IsReplyByte(uint8_t byte) {
  return byte == ACK || byte == NAK || byte == STX;
}
bool IsStx(uint8_t byte) {
  return byte == STX;
}
// With more behind it, a lone STX is the start of a frame rather than an answer.
bool IsWholeAnswer(const uint8_t* message) {
  return message[0] == ACK || message[0] == NAK;
}
bool IsWholeCommand(const uint8_t* frame) {
  return frame[0] == STX && frame[kCommandFrameSize - 1] == ETX;
}

}  // namespace

bool Transmit(ComPort& port, const uint8_t* data, int32_t count) {
  // Whatever is still unread is dropped with the port's own input: the box waits for this
  // message, so all that can be waiting are answers to earlier ones, now stale.
  DropPendingInput(port);
  if (port.ComWrite(data, count) != count) return false;
  port.Tally().Sent(std::span(data, size_t(count)));
  return true;
}

// The result of the write is not looked at: a lost answer shows up as the peer's time-out.
void SendAck(ComPort& port) {
  Transmit(port, &ACK, 1);
  port.Tally().Progressed();
}
void SendNak(ComPort& port) {
  Transmit(port, &NAK, 1);
  port.Tally().NakSent();
}

void SendCommand(ComPort& port, int index) {
  if (const std::optional<CommandFrame> frame = CommandFrameOf(index)) {
    Transmit(port, frame->data(), kCommandFrameSize);
  }
}

uint8_t WaitReplyByte(ComPort& port, int polls) {
  uint8_t reply = 0;
  if (AwaitMessage(port, &reply, 1, IsReplyByte, IsWholeAnswer, polls) != WaitOutcome::kArrived)
    return 0;
  if (reply != STX) port.Tally().Answered(reply == NAK);
  if (reply == ACK) port.Tally().Progressed();
  return reply;
}

int ReceiveCommand(ComPort& port) {
  CommandFrame frame{};
  if (AwaitMessage(port, frame.data(), kCommandFrameSize, IsStx, IsWholeCommand, kNoPollLimit) !=
      WaitOutcome::kArrived) {
    return -1;
  }
  port.Tally().Progressed();
  return DecodeCommand(frame.data());
}

bool WaitConnect(ComPort& port) {
  const int index = ReceiveCommand(port);
  if (index == kMsgConnecting) return true;
  if (port.PortOpened()) port.Tally().NoteFault(BoxFailureKind::kUnexpectedAnswer);
  return false;
}

}  // namespace vn
