#pragma once
// Text from records on its way to a terminal or a page. A record is anyone's writing: a port name
// or a status text with an escape sequence would retitle, clear or recolour the terminal that
// shows the report, and a direction override (U+202E) would turn a row's order around so that it
// shows other figures than it holds.
#include <string>
#include <string_view>

namespace vn {

// `text` with every C0 and C1 control (DEL included), every bidirectional embedding, override,
// isolate and mark (U+202A-202E, U+2066-2069, U+200E, U+200F, U+061C) and every byte that is not
// UTF-8 replaced by U+FFFD; the rest as it is.
std::string DisplayText(std::string_view text);

}  // namespace vn
