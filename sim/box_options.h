#pragma once
// What a virtual box is made of and what it counts: its identity, its faults, its work times and
// its tallies. The box and each of its sessions share these; the box alone runs sessions.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dld/file_identity.h"

namespace vn {

class MessageObserver;

// Where in a session a fault strikes, or which kind of message from the PC it damages. The
// command line spells them "start", "header", ... (box_fault_option.cpp); not every fault takes
// every one.
enum class FaultStep {
  kNone,
  kStart,
  kHeader,
  kVerdict,
  kDescriptor,
  kFrame,
  kFirstErase,  // the first erase report, after the last data frame's ACK
  kErase,
  kProgram,
  kRequest,
  kAnswer,  // the PC's ACK or NAK in an upload
};

// Every field is off by default. "Nth" counts from 1 within one session (one operation started
// by a start command); the counters start over with every session.
struct BoxFaults {
  int nakFrame = 0;               // answer NAK to the Nth received data frame (download) ...
  int nakFrameTimes = 1;          //   ... that many times in a row (10 makes the PC give up)
  int dropAck = 0;                // stay silent instead of the Nth ACK the box would send ...
  int dropAckTimes = 1;           //   ... and instead of the ones due after it, that many in all
  int nakAck = 0;                 // answer NAK instead of the Nth ACK the box would send ...
  int nakAckTimes = 1;            //   ... and instead of the ones due after it, that many in all
  int nakHeaderAlways = 0;        // 1: answer every downloaded header with NAK
  int corruptFrame = 0;           // upload: flip a payload byte of the Nth sent data frame ...
  int corruptFrameTimes = 1;      //   ... on that many sends in a row (10 makes the PC give up)
  int badComplementFrame = 0;     // upload: Nth sent data frame has byte 2 == byte 1 (first send)
  int badHeaderCrc = 0;           // upload: send the header with a wrong CRC
  int badDescriptorCrc = 0;       // upload: Nth descriptor sent with a wrong CRC ...
  int badDescriptorCrcTimes = 1;  //   ... on that many sends in a row (10 makes the PC give up)
  int resendAckedFrame = 0;       // upload: send the Nth data frame again after its ACK, then go on
  bool garbageBeforeReady = false;  // a few random bytes before every other ready frame
  bool nonReadyFirst = false;       // 02 04 00 03 in turn with the ready frame while idle
  // Stop answering at a step: start, header, verdict, descriptor, frame, erase, program, request.
  FaultStep silentAt = FaultStep::kNone;
  int eraseFailAt = 0;          // report erase failure for the Nth partition, success for every one
  int programFailAt = 0;        // same for program
  bool refuseIdentity = false;  // always send the verdict 02 03 00 03
  FaultStep vanishAt = FaultStep::kNone;  // close the pseudo-terminal at a step: a pulled cable
  // Send a message in one write with the one before it, the first time: verdict (with the
  // header's ACK), descriptor (upload: the first with the read request's ACK), first erase
  // (the first erase report with the last data frame's ACK), erase and program (the reports
  // two at a time).
  FaultStep backToBack = FaultStep::kNone;
  std::chrono::milliseconds stallRead{0};  // wait that long before reading each message
  // Damage the Nth message of a kind received from the PC before checking it, as the line would:
  // start (counted over the box's life), header, descriptor, frame, request, verdict or answer.
  // Every bit of its second byte flips (of its only byte, for an answer).
  FaultStep damageReceived = FaultStep::kNone;
  int damageReceivedNth = 1;
  // Change the byte at this flash address (0: none) once a download has programmed the flash, as
  // a worn or disturbed cell would: the download still succeeds, and only reading back finds it.
  uint32_t flipAfterProgram = 0;
  // upload: the Nth region sent holds only the first half of what was asked for (a box that
  // answers a shorter block); its descriptor and block agree with each other.
  int shortRegion = 0;
};

// How one session (a start command and what followed) ended, for a log.
struct BoxSessionReport {
  bool upload = false;     // the PC asked for an upload (0x09) rather than a download (0x0A)
  bool completed = false;  // the operation ran to its end
  std::string summary;     // one line, e.g. "upload: regions sent 2, frames sent 67"
};

inline constexpr std::chrono::milliseconds kShortestFlashWork{100};

struct BoxOptions {
  FileIdentity identity = LabBoxIdentity();  // its identForNocheck means nothing to a box
  BoxFaults faults;
  bool pace = false;  // line-rate pacing: 115200 bit/s, 11 bits a byte, both directions
  // Stop once that many operations succeeded (downloads to the last program report, uploads to
  // the last region's ACK); failed or abandoned sessions do not count. 0: until Stop().
  int stopAfterSuccesses = 0;
  std::vector<uint8_t> flash;  // initial image at 0x40000000 (padded with 0xFF to 2 MiB)
  // Told of every message on the line, for a trace; null: none. Outlives the box.
  MessageObserver* trace = nullptr;
  // The box's own work, which spaces out what it sends on its own initiative. Erasing and
  // programming are per 64 KiB (smaller regions take a share, but never less than
  // kShortestFlashWork); a real box takes tens to hundreds of milliseconds for either.
  std::chrono::milliseconds judgeTime{50};    // from the header's ACK to the verdict
  std::chrono::milliseconds eraseTime{120};   // before each erase report
  std::chrono::milliseconds programTime{80};  // before each program report
  std::chrono::milliseconds prepareTime{40};  // upload: reading and packing a region
  // Called on the box's thread after every session, with no lock held.
  std::function<void(const BoxSessionReport&)> onSessionEnd;
  // Called on the box's thread when a start command has come, before its session: another box
  // put in this one's place, with faults and a flash image of its own (`session` from 1). It runs
  // under the box's lock: it must not call the box. The faults of the box's announcements
  // (garbageBeforeReady, nonReadyFirst) come before any start command, so they belong to the
  // box that comes next.
  std::function<void(int session, BoxFaults& faults, std::vector<uint8_t>& flash)> beforeSession;
};

struct BoxStats {
  int downloadsDone = 0;    // downloads that ran to the last program report
  int uploadsDone = 0;      // uploads whose last region was acknowledged
  int sessionsStarted = 0;  // start commands received
  int framesReceived = 0;   // data frames received in downloads, resends included
  int framesResent = 0;     // download: frames that repeated the previous number; upload: resends
  int naksSent = 0;
  int acksSent = 0;
  int headersReceived = 0;        // download header blocks received, resends included
  int identityRefusals = 0;       // verdicts 02 03 00 03 sent
  int framesSent = 0;             // upload data frames sent, resends included
  int readRequests = 0;           // read requests accepted
  int partitionsProgrammed = 0;   // regions written into the image
  int timeouts = 0;               // sessions dropped because the PC went silent
  int answersMissing = 0;         // answers the PC owed (ACK, NAK, verdict) that never came
  std::vector<int> frameNumbers;  // numbers of the download frames received, in order
  std::vector<uint32_t> programmedAddresses;  // flash addresses written, in order
  std::string lastError;                      // the last thing that went wrong, in words
};

}  // namespace vn
