// zelvo: interactive reduction of 2-D FITS images.
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/interrupt.h"
#include "platform/line_editor.h"
#include "platform/list_io.h"
#include "session/batch_run.h"
#include "session/loop.h"

namespace {

const char* const kUsage =
    "Usage: zelvo [--device DEV] [--seed N] [--help] [--version]\n"
    "       zelvo run JOB FRAME --out DIR ...   (a batch job without a display; zelvo run --help)\n"
    "\n"
    "Interactive reduction of 2-D FITS images. Zelvo works in the current folder.\n"
    "\n"
    "Options:\n"
    "  --device DEV  graphics device (any giza device: /xw, /null, /png, ...); default:\n"
    "                /xw at the size set in Zelvo.ini when an X display is reachable,\n"
    "                otherwise /null\n"
    "  --seed N      fix the random seed (noise of repainted pixels), so that a reduction\n"
    "                can be repeated exactly; default: the system clock\n"
    "  --help        show this text\n"
    "  --version     show the version\n"
    "\n"
    "Files read:    Zelvo.ini (window-size code 1/2/3, extended logs 0/1), FITS images,\n"
    "               ZelvoRep.log (object list for removal options 8 and 9)\n"
    "Files written: Zelvo.log, ZelvoDebug.log, ZelvoRepeat.log, ZelvoApPhot.log (and .ecsv,\n"
    "               .reg), ZelvoProfile1.log (and .ecsv), ZelvoStars.ecsv and .reg, ZelvoImage.ps,\n"
    "               FITS images saved with S or X\n"
    "\n"
    "More: the README and man zelvo.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "run") == 0) {
    const std::vector<std::string> args(argv + 2, argv + argc);
    return zelvo::run_batch(args, std::cout, std::cerr);
  }
  zelvo::ProgramOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const std::string& opt, std::string& out) {
      if (a == opt && i + 1 < argc) {
        out = argv[++i];
        return true;
      }
      if (a.rfind(opt + "=", 0) == 0) {
        out = a.substr(opt.size() + 1);
        return true;
      }
      return false;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--version") {
      std::cout << "zelvo " << ZELVO_VERSION << "\n";
      return 0;
    } else if (value("--device", v)) {
      if (v.empty() || v.find('?') != std::string::npos) {
        std::cerr << "zelvo: --device needs a device name such as /xw, /null or file.png/png\n" << kUsage;
        return 2;
      }
      options.device = v;
    } else if (value("--seed", v)) {
      const auto seed = zelvo::parse_integer(v);
      if (!seed) {
        std::cerr << "zelvo: --seed needs a whole number, not '" << v << "'\n" << kUsage;
        return 2;
      }
      options.seed = *seed;
    } else {
      std::cerr << "zelvo: unknown option '" << a << "'\n" << kUsage;
      return 2;
    }
  }
  // Ctrl-C stops long work or abandons a question; it never ends the program.
  options.interrupt = zelvo::install_sigint_handler();
  const bool terminal_out = isatty(STDOUT_FILENO) != 0;
  // A person at a terminal edits answers with the arrow keys and recalls earlier ones;
  // scripted input (a pipe or a file) is read as it stands.
  if (zelvo::editing_possible()) {
    zelvo::TerminalLineBuf editor(stdin, stdout);
    if (editor.ready()) {
      std::istream typed(&editor);
      return zelvo::run_zelvo(options, typed, std::cout, terminal_out);
    }
  }
  return zelvo::run_zelvo(options, std::cin, std::cout, terminal_out);
}
