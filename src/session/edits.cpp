// Placeholder: replaced by the crop/rotate/reflect/arithmetic implementation.
#include "session/commands.h"
#include "session/session.h"

namespace zelvo {
void command_crop(Session&) {}
void command_rotate(Session&) {}
void command_reflect(Session&) {}
void command_arithmetic(Session&) {}
}  // namespace zelvo
