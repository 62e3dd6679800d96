#pragma once
// What one box's exchange cost on the line: bytes each way, what had to be said twice, and how
// long the box's answers took. The port keeps the tallies; the driver starts them afresh for each
// box, and every event of the run carries a copy.
#include <cstdint>

#include "link/line_rate.h"

namespace vn {

struct LinkCounters {
  int64_t bytesSent = 0;      // everything the PC wrote
  int64_t bytesReceived = 0;  // every whole message the PC read, kept or dropped
  int framesResent = 0;       // header, descriptor, data frame or read request sent again
  int naksSent = 0;
  int naksReceived = 0;
  int timeouts = 0;  // limited waits that ran out
  // The box's ACK or NAK answers to what the PC sent, and how long they took beyond the line time
  // of the message they answer: an adapter that holds received bytes back shows up here.
  int answers = 0;
  int64_t answerDelayMicros = 0;
  // How much later than planned the PC's own sleeps in its waits ended: a loaded PC wakes late,
  // and every answer then seems that much later, whatever the line does.
  int wakeups = 0;
  int64_t wakeupDelayMicros = 0;

  // Mean answer delay beyond the line time, in milliseconds; 0 before the first answer.
  double MeanAnswerDelayMs() const {
    return answers > 0 ? double(answerDelayMicros) / answers / 1000.0 : 0.0;
  }
  // Mean lateness of the PC's wake-ups, in milliseconds; 0 before the first.
  double MeanWakeupDelayMs() const {
    return wakeups > 0 ? double(wakeupDelayMicros) / wakeups / 1000.0 : 0.0;
  }
};

}  // namespace vn
