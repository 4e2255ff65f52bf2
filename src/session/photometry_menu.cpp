// Placeholder: replaced by the submenu implementation.
#include "session/commands.h"
#include "session/session.h"

namespace zelvo {
void command_photometry(Session&) {}
}  // namespace zelvo
