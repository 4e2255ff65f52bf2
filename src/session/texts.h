// Fixed texts of the main menu: banner, title box, menu, welcome and help texts.
// Code prints them; tests compare against them.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace zelvo {

inline constexpr std::string_view kProductName = "Zelvo";
inline constexpr std::string_view kFullName = "Galaxy and Star Image Tools";
inline constexpr std::string_view kVersionText = "v. 1.03";
inline constexpr std::string_view kHomePage = "http://www.zelvo.example.org/";
inline constexpr std::string_view kHelpPage = "http://www.zelvo.example.org/help/";
inline constexpr std::string_view kSupportMail = "zelvo-support@zelvo.example.org";

// The start-up banner: sixteen lines of 56 characters.
std::span<const std::string> banner_lines();
// The session header of the main log (five lines).
std::span<const std::string> mainlog_header_lines();
// The title box printed at every menu pass (five lines, the first and last empty).
std::span<const std::string> title_box_lines();
// The main menu (OPTIONSTEXT), eighteen lines.
std::span<const std::string_view> options_lines();
// The welcome text after the banner (five lines).
std::span<const std::string_view> welcome_lines();
// The help window's introduction and question (six lines, the first and fifth empty).
std::span<const std::string> help_intro_lines();
// The help text of a menu key (upper or lower case); empty for keys without help.
std::span<const std::string_view> help_text(char key);

}  // namespace zelvo
