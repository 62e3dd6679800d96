#pragma once
// A higher scheduling priority for the calling thread, where the user is allowed one. A station's
// worker sleeps between messages and must wake as soon as the box's answer is in; on a PC whose
// cores are busy with other programs it otherwise wakes late, and every frame waits that long.

namespace vn {

// Raises the calling thread above ordinary threads: on Linux to the real-time round-robin class
// at a low real-time priority (root, or a user with an RLIMIT_RTPRIO limit, such as the "audio"
// group's), else to nice -10 (RLIMIT_NICE); on Windows to THREAD_PRIORITY_HIGHEST. False when the
// user may not, and the thread stays as it was.
bool RaiseThisThreadPriority();

}  // namespace vn
