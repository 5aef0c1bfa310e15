#pragma once

namespace rqm5 {

// The icon of a message box: none, the exclamation mark of a warning, or the stop sign of an
// error. Plain code chooses it; the window maps it to its toolkit's icons.
enum class MessageIcon { None, Warning, Error };

}  // namespace rqm5
