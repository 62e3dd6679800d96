#pragma once
// One copy per user and desktop. How a copy finds the first one and hands over is the view's
// (a local socket, a window class); the order of the two steps is the same for all.
#include <functional>
#include <string>

namespace vn {

enum class InstanceRole {
  kFirst,       // this copy runs the window and comes forward when another one starts
  kHandedOver,  // another copy runs and was told to come forward: end without showing anything
  kAlone,       // neither listening nor handing over worked: run unguarded rather than not at all
};

// Hand over if a first copy answers; otherwise become the first by listening. When listening
// fails, another copy may have won the race between the two steps: try handing over once more.
InstanceRole DecideInstanceRole(const std::function<bool()>& handOver,
                                const std::function<bool()>& listen);

// A name for this title, user and desktop (":0" and ":0.0" are one desktop), reduced to
// characters safe in a file name.
std::string InstanceName(const std::string& title, const std::string& user, std::string display);

}  // namespace vn
