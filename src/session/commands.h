// Main-menu commands, one function each; the command loop dispatches to them.
#pragma once

namespace zelvo {

struct Session;

// Part of the loop itself (session/commands.cpp).
void command_load(Session& s);       // L
void command_new(Session& s);        // N
void command_help(Session& s);       // H
void command_save(Session& s);       // S
bool command_exit_save(Session& s);  // X: false when a write failed and the program goes on
void command_print(Session& s);      // P

// Whole-image edits (session/edits.cpp).
void command_crop(Session& s);        // C
void command_rotate(Session& s);      // T
void command_reflect(Session& s);     // F
void command_arithmetic(Session& s);  // A

// Submenus.
void command_display(Session& s);     // D  (session/display_menu.cpp)
void command_mouse(Session& s);       // M  (session/mouse_menu.cpp)
void command_remove(Session& s);      // R  (session/remove_menu.cpp)
void command_photometry(Session& s);  // O  (session/photometry_menu.cpp)
void command_galaxy(Session& s);      // G  (session/galaxy_menu.cpp)

// Prints the one-line refusal for commands that need pixels; true when the slot is empty.
bool refuse_empty_slot(Session& s);

}  // namespace zelvo
