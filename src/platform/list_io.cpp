#include "platform/list_io.h"

namespace zelvo {

const char* list_target_kind(const ListTarget& t) {
  switch (t.index()) {
    case 0: return "a whole number";
    case 1:
    case 2: return "a number";
    default: return "a text";
  }
}

bool store_list_item(const ListTarget& t, const ListItem& item) {
  if (item.null) return true;
  switch (t.index()) {
    case 0: {
      auto v = parse_integer(item.text);
      if (!v) return false;
      *std::get<0>(t) = *v;
      return true;
    }
    case 1: {
      auto v = parse_real(item.text);
      if (!v) return false;
      *std::get<1>(t) = *v;
      return true;
    }
    case 2: {
      auto v = parse_double(item.text);
      if (!v) return false;
      *std::get<2>(t) = *v;
      return true;
    }
    case 3: *std::get<3>(t) = item.text.empty() ? ' ' : item.text[0]; return true;
    default: *std::get<4>(t) = item.text; return true;
  }
}

}  // namespace zelvo
