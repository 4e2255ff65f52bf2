// The console side of list-directed reads: the variables one read fills, and how one item
// is stored into each. The plain text work (splitting lines, numbers as text) is in text/.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "text/list_format.h"
#include "text/list_parse.h"

namespace zelvo {

// A value to be read by one list-directed read.
using ListTarget = std::variant<int32_t*, float*, double*, char*, std::string*>;

// What a target expects, for the line that asks again ("a whole number", "a number", "a text").
const char* list_target_kind(const ListTarget& t);

// Stores one item into its target; false when the item is not of the target's kind. A null
// item leaves the target as it is.
bool store_list_item(const ListTarget& t, const ListItem& item);

}  // namespace zelvo
