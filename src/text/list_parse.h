// Free-format (list-directed) input: splitting a line into items and reading one item as a
// number. Plain text work, used by the console's reads and by readers of text files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvo {

// One item of a list-directed input line.
struct ListItem {
  std::string text;
  bool null = false;  // an empty item between two commas: the variable keeps its value
};

// Splits one input line into items. Items are separated by blanks or a comma; a text
// item may be quoted ('...' or "...", a doubled quote stands for one). A slash outside
// quotes ends the list: `slash` is set and the rest of the line is ignored. With
// `slash_in_text` a slash is an ordinary character of an unquoted item (file paths).
std::vector<ListItem> split_list_items(std::string_view line, bool& slash, bool slash_in_text = false);

// Parsers for a single item; they return nothing when the text is not of that type.
// An integer must fit in 32 bits; reals accept Fortran D exponents (1.5D3).
std::optional<int32_t> parse_integer(std::string_view text);
std::optional<float> parse_real(std::string_view text);
std::optional<double> parse_double(std::string_view text);

}  // namespace zelvo
