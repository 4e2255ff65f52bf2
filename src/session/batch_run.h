// `zelvo run JOB FRAME ...`: the batch jobs as commands. Each job runs the code of its dialogue
// on one frame without a display or a question, and writes its files into one output folder,
// each named after the frame.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iosfwd>
#include <map>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console.h"
#include "platform/graphics.h"
#include "session/session.h"

namespace zelvo {

// The arguments of one run, taken literally (any byte but NUL in a name).
struct BatchArgs {
  std::string job;
  std::string frame;
  std::filesystem::path out;                  // --out DIR
  std::optional<int32_t> seed;                // --seed N
  bool force = false;                         // --force
  std::map<std::string, std::string> values;  // the job's own options: "--list" -> "stars.log"

  // The value of a job option, or nullptr when it was not given.
  const std::string* value(std::string_view option) const;
};

// The frame's stem: its file name without the folder and without .gz or .fz and then .fits,
// .fit or .fts; the whole file name when nothing would be left (".fits").
std::string frame_stem(std::string_view frame);
// The name of one output of a run: "<stem>.<what>" ("m51.clean.fits", "m51.Zelvo.log").
std::string output_name(std::string_view frame, std::string_view what);

// A name or message as one printable line: control characters shown as \n, \t or \xNN.
std::string one_line(std::string_view text);

// What a job has while it runs: the arguments, where it writes, and its problems.
class BatchRun {
 public:
  BatchRun(const BatchArgs& args, std::filesystem::path work, std::ostream& out, std::ostream& err);
  const BatchArgs& args;
  std::ostream& out;  // what the job did, in a line or two
  // Where the job writes its output `what`: a file of a private folder inside DIR, moved to
  // DIR/<stem>.<what> when the job ends.
  std::filesystem::path output(std::string_view what) const;
  // A problem: one line on standard error, "zelvo run JOB: FRAME: line"; the run's status
  // becomes non-zero.
  void problem(std::string_view line);
  std::size_t problems() const { return problems_; }
  // An output that was not written completely: a problem line, and the run fails
  // (kJobRefused) whatever the job found.
  void lost_output(std::string_view line);
  bool outputs_lost() const { return outputs_lost_; }

 private:
  std::filesystem::path work_;
  std::ostream& err_;
  std::size_t problems_ = 0;
  bool outputs_lost_ = false;
};

// The session a job runs its dialogue's code in: its command-window lines go to
// DIR/<stem>.session.txt, any question ends the job (there are no answers: EndOfInput),
// graphics go nowhere, the main log is DIR/<stem>.Zelvo.log with its session header, and the
// generator starts from --seed (or the clock, as a session does).
struct BatchDesk {
  explicit BatchDesk(BatchRun& run);
  ~BatchDesk();
  BatchDesk(const BatchDesk&) = delete;
  BatchDesk& operator=(const BatchDesk&) = delete;

  // Loads the frame into slot 1 as L does; false after a problem line.
  bool load();
  // Writes slot 1's image as S does to the output `what` ("clean.fits"), with one HISTORY card
  // `history` when it is not empty; false after a problem line.
  bool write(std::string_view what, const std::string& history = {});

  BatchRun& run;
  std::istringstream no_answers;
  std::ofstream transcript;
  Console con;
  Graphics gfx;
  Session s;
};

// A job: runs on the parsed arguments and returns its status (0 when every listed object was
// handled, kJobIncomplete when some were not, kJobRefused when nothing could be done). A run
// whose outputs were not all written ends with kJobRefused.
struct BatchJob {
  std::string_view name;
  std::vector<std::string_view> options;   // the value options the job takes besides --out and --seed
  std::vector<std::string_view> required;  // those it cannot run without
  std::string_view usage;                  // its usage line
  int (*run)(BatchRun&);
};

inline constexpr int kJobIncomplete = 1;
inline constexpr int kJobRefused = 2;

// The table of jobs (batch_jobs.cpp). A new job is a function `int batch_<name>(BatchRun&)`
// that makes a BatchDesk, loads the frame, calls its dialogue's measuring code, writes through
// run.output() and tells each object it could not handle with run.problem(); and one more
// entry in the table.
std::span<const BatchJob> batch_jobs();

// Parses `args` (what follows "run"); nullopt after one line on `err` for a wrong argument.
std::optional<BatchArgs> parse_batch_args(std::span<const std::string> args, std::ostream& err);

// The whole command: parses, checks the output folder, runs the job and moves its files into
// place. Returns the process exit status.
int run_batch(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// Jobs of the table (batch_jobs.cpp).
int batch_remove(BatchRun& run);
int batch_photometry(BatchRun& run);
int batch_profile(BatchRun& run);
int batch_find(BatchRun& run);
int batch_model(BatchRun& run);

}  // namespace zelvo
