#include "galaxy/galaxy_texts.h"

#include <array>

namespace zelvo {

namespace {
constexpr std::array<std::string_view, 2> kSplintAlarm = {"Bad xa input in splint!", "Hit <ENTER> to continue..."};
}  // namespace

std::span<const std::string_view> splint_alarm_lines() { return kSplintAlarm; }

}  // namespace zelvo
