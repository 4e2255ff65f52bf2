// Lines of the remove-features submenu that both its per-object flow and its list flows print.
#pragma once

#include <string_view>

namespace zelvo {

inline constexpr std::string_view kRadiusSetLead = "Star removal radius set to ";
inline constexpr std::string_view kUndoPrompt = "Do you want to UNDO previous removal (y/n)? ";
inline constexpr std::string_view kObjectLeft = "This object is left as it was; nothing is recorded.";
// What a debug log that cannot be opened or written means (after the reason).
inline constexpr std::string_view kNoDebugLogText = "the removal goes on without it";

}  // namespace zelvo
