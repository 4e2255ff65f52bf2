// Header cards: finding the image HDU and reading its cards, taking the values the program
// uses from them, and copying a source's cards into a file being written. Used inside the
// fits folder only (it needs CFITSIO's fitsfile).
#pragma once

#include <fitsio.h>

#include <cstddef>
#include <string>
#include <vector>

#include "fits/header_values.h"

namespace zelvo {

inline constexpr std::size_t kCardLength = 80;

// The keyword of a card: its first eight columns without trailing blanks.
std::string keyword_of(const std::string& card);

// Takes the header values the program uses from the cards of one header (each padded to 80
// columns), from these cards alone: a value the header lacks is 0 or blank. The exposure time
// is EXPTIME, or ITIME when there is no readable EXPTIME. ST, RA and DEC are the values of
// the cards of exactly those names (so RADESYS or STATUS never stand in for them), cut to
// 15 characters; when several cards match, the last one read wins.
void take_header_values(const std::vector<std::string>& cards, SlotHeader& hdr, HeaderTexts& texts);

// Moves to the first HDU holding an image with data: the primary array, or for files
// whose primary array is empty (tile-compressed .fz files, multi-extension files) the
// first image extension. Stays on the primary HDU when there is none.
void move_to_first_image(fitsfile* f, int& status);

// Reads all header cards of the current HDU, each padded to 80 columns, END excluded. Of a
// tile-compressed image, the header of the image it holds, as CFITSIO restores it (the
// compression table's own cards left out).
std::vector<std::string> read_cards(fitsfile* f, int& status);

// Writes the source cards that still describe the image into the current header, after the
// cards CFITSIO wrote itself (which are not repeated), then the HISTORY card of this write.
// Tells whether the source carried a CHECKSUM. A card CFITSIO refuses as not valid FITS
// (a control character, say) is written with its offending characters made blanks, or as a
// COMMENT if even that is refused: a damaged card never stops the image from being saved.
void write_source_cards(fitsfile* f, const std::vector<std::string>& cards, bool& had_checksum, int& status);

}  // namespace zelvo
