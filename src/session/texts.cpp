#include "session/texts.h"

#include <array>
#include <cctype>
#include <vector>

namespace zelvo {

namespace {

std::string centred(std::string_view s, std::size_t width) {
  if (s.size() >= width) return std::string(s.substr(0, width));
  const std::size_t left = (width - s.size()) / 2;
  return std::string(left, ' ') + std::string(s) + std::string(width - s.size() - left, ' ');
}

// The product name in large letters, eight rows of 44 characters.
constexpr std::array<std::string_view, 8> kBigName = {
    "#######  #######  ##       ##   ##   #####  ", "     ##  ##       ##       ##   ##  ##   ## ",
    "    ##   ##       ##       ##   ##  ##   ## ", "   ##    #####    ##       ##   ##  ##   ## ",
    "  ##     ##       ##       ##   ##  ##   ## ", " ##      ##       ##        ## ##   ##   ## ",
    "##       ##       ##        ## ##   ##   ## ", "#######  #######  #######    ###     #####  ",
};

std::vector<std::string> make_banner() {
  const std::string stars = "   " + std::string(50, '*') + "   ";
  auto row = [](std::string_view content) { return "   ---" + centred(content, 44) + "---   "; };
  std::vector<std::string> v;
  v.push_back(stars);
  v.push_back(row("Welcome to"));
  v.push_back(row(""));
  for (auto r : kBigName) v.push_back("   ---" + std::string(r) + "---   ");
  v.push_back(row(""));
  v.push_back(row(std::string(kFullName) + " " + std::string(kVersionText)));
  v.push_back(row("(c) 2001 The Zelvo developers"));
  v.push_back(row(kHomePage));
  v.push_back(stars);
  return v;
}

std::vector<std::string> make_log_header() {
  auto row = [](std::string_view content) { return " ---" + centred(content, 35) + "--- "; };
  return {"", row(kProductName), row("(" + std::string(kFullName) + ")"), row("2001 The Zelvo developers"), ""};
}

std::vector<std::string> make_title_box() {
  const std::string stars = "   " + std::string(51, '*') + "   ";
  return {"", stars, "   --- Zelvo - " + std::string(kFullName) + " " + std::string(kVersionText) + " ---   ", stars,
          ""};
}

std::vector<std::string> make_help_intro() {
  return {"",
          "This is a simple help. Please refer to the Zelvo manual",
          "(" + std::string(kHelpPage) + ")  for",
          "a more complete description on how Zelvo works, and FAQ.",
          "",
          "Give the option you want more info of (or ? to exit):"};
}

constexpr std::array<std::string_view, 12> kHelpNum = {
    "Numerical keys (1, 2, 3, or 4) select one of the four image slots",
    "of the program. Every command of the menu (load, display, crop,",
    "arithmetic, removal, photometry and so on) works on the active slot.",
    "",
    "The name of the image in the active slot is shown above the menu.",
    "An image created with N is called <unnamed image> until it is",
    "saved. When an image has been changed in memory, <modified> is",
    "added after its name.",
    "",
    "All changes stay in the memory of the program only: the file on",
    "the disk is not touched until you save the image with S, or save",
    "all changed images with X.",
};

constexpr std::array<std::string_view, 5> kHelpL = {
    "Use L (load) to load (=read) a FITS image from the disk into the",
    "active image slot. A name without a folder is looked for in the",
    "working folder (where Zelvo was started); otherwise give the path",
    "(e.g. ../data/m51.fits). Compressed images (.gz, .fz) load as they",
    "are, and Tab completes file names while the question waits.",
};

constexpr std::array<std::string_view, 7> kHelpS = {
    "Use S (save) to save (=write) the image in the active image slot",
    "to a new FITS file. Two characters replace the 01 of the proposed",
    "name ZelvoImage01.fits; a longer answer is the whole name (with its",
    "path, e.g. ../reduced/m51-clean.fits; without one the file goes to",
    "the working folder). An existing file is never overwritten. The",
    "header keeps the loaded image's cards and a HISTORY card for every",
    "edit of the pixels, so the saved file tells what was done to it.",
};

constexpr std::array<std::string_view, 5> kHelpN = {
    "Use N (new) to initialize a new image in the active image slot.",
    "If there is already an image in the active image slot, this",
    "command will destroy that first and then create an empty image in",
    "its place. You are asked to provide the size of the new image",
    "(pixel-size along X- and Y-axis).",
};

constexpr std::array<std::string_view, 21> kHelpD = {
    "Use D to display the image in the active image slot in the PGPLOT",
    "graphics window. You are first asked whether the image is drawn",
    "in greyscale (1) or in pseudocolour (0).",
    "",
    "The display levels are set automatically: the program measures",
    "the average and the scatter of the pixels in the centre of the",
    "image and sets the low level one sigma below and the high level",
    "five sigma above the average, within the limits given for the",
    "automatic levels (at load time the smallest and largest pixel).",
    "",
    "After the image is drawn you are offered to change the levels by",
    "hand, together with the limits for the automatic levels.",
    "",
    "By default images are shown as negatives (the dark level is above",
    "the bright level); give p after the levels to show the image",
    "positive, with the two levels swapped.",
    "",
    "At the level question, zscale or text chooses the automatic levels",
    "(zscale, or the ones above) and linear, sqrt, log or asinh the",
    "stretch between the levels; Zelvo.ini lines 3 and 4 set them at",
    "start-up. In R, blink at the undo question flips before and after.",
};

constexpr std::array<std::string_view, 16> kHelpM = {
    "Use M (mouse operations) to examine the image. If you want to see",
    "a part of the image enlarged, choose option 1 and give the width",
    "and height of the zoom box (at least 50 pixels each); then click",
    "on the centre of the area you want to zoom to. Giving the full",
    "size of the image unzooms (the whole image is used again). The",
    "box is reset to the whole image every time you enter M.",
    "",
    "Option 2 analyses the image around the mouse click: you get the",
    "value of the clicked pixel and the average, sigma, minimum and",
    "maximum of the 5 x 5, 9 x 9 and 15 x 15 pixel boxes around it",
    "(average and sigma after 2-sigma clipping). Keep clicking to",
    "analyse more places; click anywhere outside the image (or the",
    "zoom box), or press q or Esc, to return to the menu.",
    "",
    "Remember to display the image (D) before using the mouse",
    "operations, so that the graphics window shows what you click.",
};

constexpr std::array<std::string_view, 14> kHelpA = {
    "Use A to make arithmetic operations to your images. A submenu is",
    "shown with the operations you can make:",
    "",
    "+ N, - N, * N and / N add, subtract, multiply or divide every",
    "pixel of the active image by the constant N (e.g. type + 100).",
    "",
    "iX + iY, iX - iY, iX * iY and iX / iY combine the images in",
    "slots X and Y pixel by pixel (type e.g. i1 - i2 with single",
    "blanks). The two images must have the same size as the active",
    "image. The result always goes to the active image slot, which",
    "may be one of the two operands.",
    "",
    "The new maximum and minimum pixel values are reported, and a HISTORY",
    "card in the image's header records the operation. / 0 is refused.",
};

constexpr std::array<std::string_view, 32> kHelpR = {
    "Use R to remove stars and other unwanted features from the image in",
    "the active image slot. A removed disc is replaced by a model of the",
    "background around it plus noise with the spread of that sky. On",
    "entry a constant level is added so that every pixel is positive;",
    "it is taken off again when you leave the submenu with 0.",
    "",
    "1 removes a star: click the star, then its centre in the zoomed",
    "view. Zelvo finds the centre, the sky and where the star meets its",
    "local background, shows the pixel values against radius and the",
    "area, and asks the removal radius (the one it found is offered).",
    "2 removes a saturated star with its bleeding column, 3 a circular",
    "area of the radius you type.",
    "4 finds the stars of the image and writes them as an object list",
    "(drop or add stars on the image first), or takes the name of a",
    "list or DS9 region file to use.",
    "5 removes a galaxy: fit elliptical isophotes, subtract the model.",
    "6 repairs a bad column and 7 a bad row through the click: the line",
    "gets the background interpolated from the lines two and three to",
    "each side, plus the noise measured beside it, or the sigma you type",
    "(m) or measure again on the background (c); y keeps the measured.",
    "",
    "After each removal you are asked whether to undo it (blink flips",
    "between before and after). Each kept removal is appended to",
    "ZelvoRepeat.log (type: 1 star, 2 saturated, 3 area, 6 column,",
    "7 row; x, y and radius) and to the image's header as a HISTORY",
    "card. Options 8 and 9 repeat the removals of such a list",
    "(ZelvoRep.log, or the list option 4 named): 8 shows each object and",
    "asks its radius and the undo question; 9 removes them all without",
    "a question, with a progress line and a summary at the end, and",
    "writes each object's working notes to ZelvoDebug.log.",
    "",
    "Save the cleaned image with S (or X) when you are done.",
};

constexpr std::array<std::string_view, 30> kHelpG = {
    "Use G for the special operations for galaxies. Options 1 and 2 work",
    "on the image in the active slot; 3 and 4 write their result into it.",
    "",
    "1 extracts the radial profile of a galaxy in flux. Give the centre",
    "(x and y pixel), the extent (radius) and step in pixels, and an",
    "eccentricity and position angle (degrees, from +x towards +y) of",
    "the elliptical isophotes. The sky comes from empty boxes beyond the",
    "galaxy (outside the extent, clear of stars); shift it by a",
    "percentage or type the level itself (=150.2). Zelvo bins the pixels",
    "by elliptical radius, takes off the sky, fits a spline through the",
    "binned profile and computes the rotation curve of a flat disc with",
    "that profile (a progress line shows how far it has come; Ctrl-C",
    "stops it). A page shows the image with the ellipses, the sky, the",
    "profile and the rotation curve; the tables are appended to",
    "ZelvoProfile1.log, and the profile's table replaces",
    "ZelvoProfile1.ecsv. When the profile still falls at the extent, the",
    "sky may hold galaxy light: give a larger extent.",
    "2 gives the profile in magnitudes (no sky, no rotation curve, no",
    "log); pixels of -99999 (not computed, see 4) are left out.",
    "",
    "3 makes a calibrated (B-I) colour image from B and I images in two",
    "slots of the active image's size: give the slots, the exposure",
    "times, and kappa, lambda, my and the airmass. Both slots are",
    "divided by their exposure times (they become count rates).",
    "4 makes a calibrated I-band image in magnitudes per square",
    "arcsecond from an instrumental I image and a (B-I) image: give",
    "alpha, beta and gamma, the two slots, the airmass, the pixel scale",
    "and an extra zero-level correction. Pixels that cannot be computed",
    "are set to -99999. The headers record what was done (HISTORY);",
    "save the result with S.",
};

constexpr std::array<std::string_view, 29> kHelpO = {
    "Use O to get aperture photometry of an object in the image.",
    "A submenu lets you set the zoom box, the three radii, the exposure",
    "time and the detector's gain, and measure objects by clicking them.",
    "",
    "1 zooms in on the area of your objects: give the width and height",
    "of the zoom box and click on its centre. Only clicks inside the",
    "box are measured.",
    "2 sets the three radii in increasing order: the star aperture, and",
    "the inner and outer radius of the sky annulus around it (2.5, 9",
    "and 12 pixels at every entry).",
    "3 sets the exposure time, read from the header (EXPTIME) at load.",
    "5 sets the gain (electrons per count) and the read noise, taken",
    "from the header (GAIN or EGAIN, RDNOISE or READNOIS) where it has",
    "them; without a gain, 1 is assumed and the menu says so.",
    "4 measures: click each object. Zelvo finds its centre, refuses a",
    "saturated one, sums the aperture (partial pixels by their exact",
    "overlap) and takes off the sky, the clipped mean of the annulus:",
    "",
    "  mag = -2.5 * log10(flux) + 2.5 * log10(itime)",
    "",
    "with itime the exposure time (left out when it is 0) and no zero",
    "point. The errors of flux and magnitude follow from the CCD",
    "equation: the star's counts through the gain, and the sky's",
    "scatter over the aperture and over the annulus.",
    "Each star is appended to ZelvoApPhot.log, as a row of the ECSV",
    "catalogue ZelvoApPhot.ecsv (with its sky position when the header",
    "has a WCS) and as circles in ZelvoApPhot.reg for DS9. Keep",
    "clicking; click outside the zoom box (or press q or Esc) to return",
    "to the submenu, and choose 0 for the main menu.",
};

constexpr std::array<std::string_view, 3> kHelpF = {
    "Use F to reflect the image in the active image slot. You can",
    "reflect either through vertical axis (from left to right) or",
    "through horizontal axis (from top to bottom).",
};

constexpr std::array<std::string_view, 6> kHelpC = {
    "Use C to crop the image in the active image slot. You click near",
    "the centre of the part you want (the click only shows where you",
    "are) and give the first and last x- and y-value to keep, relative",
    "to the current image. The cropped image replaces the one in memory",
    "(the file is untouched until you save), its world coordinates",
    "follow, and a HISTORY card in its header records the crop.",
};

constexpr std::array<std::string_view, 6> kHelpT = {
    "Use T to rotate the image in the active image slot. You can only",
    "rotate 90, 180, or 270 (= -90) degrees. Any other rotation would",
    "really mess up the information in your pixels and is therefore",
    "left out in this version of Zelvo. The rotation is done clockwise",
    "so if you want to rotate 90 degrees anticlockwise, select the",
    "270 degree option.",
};

constexpr std::array<std::string_view, 4> kHelpP = {
    "Use P (print) to draw your active image (the one in the selected",
    "image slot) into the PostScript file ZelvoImage.ps in the working",
    "folder, with automatic levels and the display's stretch and",
    "negative or positive scaling; an older ZelvoImage.ps is replaced.",
};

constexpr std::array<std::string_view, 3> kHelpH = {
    "Help?  But this is the help!",
    "However, read the README or `man zelvo` for more and better help.",
    "(To close the help window select option H (help) again.)",
};

constexpr std::array<std::string_view, 6> kHelpX = {
    "Use X (save and exit) to save all images which have been modified",
    "and then quit the program. A changed image goes back to the file",
    "it was loaded from or last saved to; new images, and images whose",
    "file cannot take them back, are asked for a name. When an image",
    "cannot be written, Zelvo says so and does not quit.",
    "Be careful not to save changes you don't intend permanent.",
};

constexpr std::array<std::string_view, 3> kHelpQ = {
    "Use Q to quit the program (without saving any of the images or",
    "changes to them). When an image holds changes not yet saved, Zelvo",
    "names it and asks \"Quit anyway (y/n)?\": only y quits.",
};

}  // namespace

std::span<const std::string> banner_lines() {
  static const std::vector<std::string> v = make_banner();
  return v;
}
std::span<const std::string> mainlog_header_lines() {
  static const std::vector<std::string> v = make_log_header();
  return v;
}
std::span<const std::string> title_box_lines() {
  static const std::vector<std::string> v = make_title_box();
  return v;
}
std::span<const std::string> help_intro_lines() {
  static const std::vector<std::string> v = make_help_intro();
  return v;
}

std::span<const std::string_view> help_text(char key) {
  switch (std::toupper(static_cast<unsigned char>(key))) {
    case '1':
    case '2':
    case '3':
    case '4': return kHelpNum;
    case 'L': return kHelpL;
    case 'S': return kHelpS;
    case 'N': return kHelpN;
    case 'D': return kHelpD;
    case 'C': return kHelpC;
    case 'T': return kHelpT;
    case 'F': return kHelpF;
    case 'M': return kHelpM;
    case 'A': return kHelpA;
    case 'R': return kHelpR;
    case 'G': return kHelpG;
    case 'O': return kHelpO;
    case 'P': return kHelpP;
    case 'H': return kHelpH;
    case 'X': return kHelpX;
    case 'Q': return kHelpQ;
    default: return {};
  }
}

}  // namespace zelvo
