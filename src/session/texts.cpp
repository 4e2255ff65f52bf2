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
    "Use L (load) to load (=read) a FITS image from floppy or hard",
    "disk into the memory of the program. If you give only the name of",
    "the image, Zelvo assumes the image exists in the same folder as",
    "Zelvo.exe. If this is not the case you must give the path of your",
    "image (e.g. C:\\WinApp\\Zelvo\\FITSimages\\MyFITSimage.fits).",
};

constexpr std::array<std::string_view, 5> kHelpS = {
    "Use S (save) to save (=write) the image in the active image slot",
    "to floppy or hard disk. If you give only the name of the image,",
    "Zelvo writes it to the same folder where Zelvo.exe is located.",
    "If you want the image written elsewhere, you must give the whole",
    "path (e.g. ..\\FITSimages\\MyAlteredFITSimage.fits).",
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

constexpr std::array<std::string_view, 13> kHelpA = {
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
    "The new maximum and minimum pixel values are reported.",
};

constexpr std::array<std::string_view, 27> kHelpR = {
    "Use R to remove stars and other unwanted features from the image in",
    "the active image slot. Each removed disc is replaced by a model of",
    "the background around it plus noise with the spread of that sky.",
    "On entry a constant level is added so that every pixel is positive;",
    "it is taken off again when you leave the submenu with 0.",
    "",
    "1 removes a star: click the star, then its centre in the zoomed",
    "101 x 101 view. Zelvo finds the centre, the sky and the size, shows",
    "the pixel values against radius and circles at 10 and 20 pixels,",
    "and asks the removal radius (type where the profile meets the sky).",
    "2 removes a saturated star with its bleeding column, 3 a circular",
    "area of the radius you type, 6 a bad column: its sky and noise come",
    "from a 20 x 20 box, which you keep (y), replace by typed values (m)",
    "or measure again by clicking on the background (c).",
    "4 finds the stars in the image and writes them as an object list;",
    "7 removes a bad row. 5 fits a galaxy's isophotes, leaves the residual.",
    "",
    "After each removal you are asked whether to undo it. Every removal",
    "you keep is appended to ZelvoRepeat.log, one line per object: type",
    "(1 star, 2 saturated, 3 area, 6 column), x, y and radius. Options",
    "8 and 9 repeat the removals listed in ZelvoRep.log, in that form",
    "(a ZelvoRepeat.log without its header lines): 8 shows each object",
    "and asks the radius and the undo question, 9 removes them all",
    "without a click or a question. The working notes of each removal",
    "go to ZelvoDebug.log and Zelvo.log.",
    "",
    "Save the cleaned image with S (or X) when you are done.",
};

constexpr std::array<std::string_view, 27> kHelpG = {
    "Use G for the special operations for galaxies. Options 1 and 2 work",
    "on the image in the active slot; 3 and 4 write their result into it.",
    "",
    "1 extracts the radial profile of a galaxy in flux. Give the centre",
    "(x and y pixel), the extent (radius) and step in pixels, and an",
    "eccentricity and position angle (degrees) of the elliptical",
    "isophotes. Zelvo estimates the sky from a histogram of the pixels",
    "outside the extent and lets you shift it by a percentage; it bins",
    "the pixels by elliptical radius, fits a spline through the binned",
    "profile and computes the rotation curve of a flat disc with that",
    "profile. A page shows the profile, the rotation curve, the image",
    "with the ellipses and the sky histogram; the tables are appended",
    "to ZelvoProfile1.log. Take the sky off first (e.g. A with - 1000):",
    "the histogram panel shows the counts from -400 to 400.",
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
    "are set to -99999. Save the result with S.",
    "",
};

constexpr std::array<std::string_view, 29> kHelpO = {
    "Use O to get aperture photometry of an object in the image.",
    "A submenu lets you set the zoom box, the three radii, the",
    "exposure time and then measure objects by clicking them.",
    "",
    "First zoom in on the area of your objects (option 1): give the",
    "width and height of the zoom box and click on its centre. Only",
    "clicks inside the zoom box are measured; a click outside it",
    "returns to the submenu.",
    "",
    "Then give the three radii in increasing order (option 2): the",
    "radius of the star aperture, and the inner and outer radius of",
    "the sky annulus around it. The sky is measured in the annulus,",
    "and the star's flux is the sum inside the aperture minus the sky",
    "times the number of pixels in the aperture.",
    "",
    "Check the exposure time (option 3); it is read from the header",
    "of the image (EXPTIME) when the image is loaded.",
    "",
    "Each clicked object is centred, measured and its instrumental",
    "magnitude is printed and written to the file ZelvoApPhot.log:",
    "",
    "  mag = zmag - 2.5 * log10(flux) + 2.5 * log10(itime)",
    "",
    "where zmag is the zero point, flux the sky-subtracted sum in the",
    "aperture and itime the exposure time. Saturated objects are not",
    "measured.",
    "",
    "Keep clicking objects; click outside the zoom box (or press q or",
    "Esc) to return to the submenu, and choose 0 for the main menu.",
};

constexpr std::array<std::string_view, 3> kHelpF = {
    "Use F to reflect the image in the active image slot. You can",
    "reflect either through vertical axis (from left to right) or",
    "through horizontal axis (from top to bottom).",
};

constexpr std::array<std::string_view, 6> kHelpC = {
    "Use C to crop the image in the active image slot. You are asked",
    "to provide the beginning and ending values for x- and y-axis. The",
    "values are relative to the current image (i.e. before cropping).",
    "The cropped image is discarded so if you want to preserve both",
    "the original and cropped image, remember to save your image",
    "before cropping.",
};

constexpr std::array<std::string_view, 6> kHelpT = {
    "Use T to rotate the image in the active image slot. You can only",
    "rotate 90, 180, or 270 (= -90) degrees. Any other rotation would",
    "really mess up the information in your pixels and is therefore",
    "left out in this version of Zelvo. The rotation is done clockwise",
    "so if you want to rotate 90 degrees anticlockwise, select the",
    "270 degree option.",
};

constexpr std::array<std::string_view, 3> kHelpP = {
    "Use P (print) to write your active image (the one in the selected",
    "image slot) into a file (ZelvoImage.ps) on the hard disk. It will",
    "be written into the folder where Zelvo.exe is located in.",
};

constexpr std::array<std::string_view, 3> kHelpH = {
    "Help?  But this is the help!",
    "However, read the README or `man zelvo` for more and better help.",
    "(To close the help window select option H (help) again.)",
};

constexpr std::array<std::string_view, 3> kHelpX = {
    "Use X (save and exit) to save all open images which have been",
    "modified and then quit the program.",
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
