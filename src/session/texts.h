// Fixed texts of the main menu: banner, title box, menu, welcome and help texts.
// Code prints them; tests compare against them.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

namespace zelvo {

inline constexpr std::string_view kProductName = "Zelvo";
inline constexpr std::string_view kFullName = "Galaxy and Star Image Tools";
// The one version of the program (the build's), shown by the banner, the title box and --version.
inline constexpr std::string_view kVersionText = "v. " ZELVO_VERSION;
inline constexpr std::string_view kHomePage = "http://www.zelvo.example.org/";
// Where the help window sends the reader for more: no web address, the documents installed.
inline constexpr std::string_view kHelpPage = "the README and `man zelvo`";
inline constexpr std::string_view kSupportMail = "zelvo-support@zelvo.example.org";

// The start-up banner: sixteen lines of 56 characters.
std::span<const std::string> banner_lines();
// The session header of the main log (five lines).
std::span<const std::string> mainlog_header_lines();
// The title box printed at every menu pass (five lines, the first and last empty).
std::span<const std::string> title_box_lines();
// The main menu (OPTIONSTEXT).
inline constexpr std::array<std::string_view, 18> kOptionsLines = {
    "",
    "Options:",
    "========",
    "1 = Activate image in slot 1  (similarily 2, 3, and 4)",
    "",
    "L = Load image        S = Save image       N = Create new image",
    "D = Display image",
    "C = Crop image        T = Rotate image     F = Reflect image",
    "",
    "M = Do mouse operations on the image",
    "A = Do arithmetic operations to the image",
    "R = Remove features from the image",
    "G = Special operations for galaxies",
    "O = Aperture photometry",
    "",
    "P = Print image                      X = Save images and exit",
    "H = Toggle Help on/off               Q = Quit (without saving)",
    "",
};
// The welcome text after the banner.
inline constexpr std::array<std::string_view, 5> kWelcomeLines = {
    "Welcome to Zelvo!  Note that this program is not yet fully",
    "developed and may contain uncomfortable features or even",
    "straightforward bugs. If you encounter any, please let me know",
    "(see Zelvo web page how to contact me) so I can fix the bugs",
    "and improve the program into a more user-friendly direction.",
};
// Q's question when a slot holds work that is not saved: the lead, the slots, then the question.
inline constexpr std::string_view kUnsavedLead = "Not saved: ";
inline constexpr std::string_view kQuitAnyway = "Quit anyway (y/n)?";
// The help window's introduction and question (six lines, the first and fifth empty).
std::span<const std::string> help_intro_lines();
// Ends a page of a help text too long for the help window; <enter> shows the next page.
inline constexpr std::string_view kHelpMore = "-- more: press <enter> --";
// The help text of a menu key (upper or lower case); empty for keys without help.
std::span<const std::string_view> help_text(char key);

}  // namespace zelvo
