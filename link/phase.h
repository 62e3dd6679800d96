#pragma once
// The steps of an operation, as events and the message table name them.
namespace vn {

enum class Phase { kNone, kConnect, kVerify, kTransfer, kErase, kProgram };

}  // namespace vn
