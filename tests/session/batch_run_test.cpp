// `zelvo run`: arguments taken literally, the output folder rule, one line per problem and
// the exit status, and the remove job against option 9 of a scripted session.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "session/batch_run.h"
#include "support/session_harness.h"
#include "support/without_root.h"
#include "synthetic_field.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::HasSubstr;

namespace {

struct ParseCase {
  std::vector<std::string> args;
  std::string frame;  // empty: refused
  std::string said;   // the refusal line, or the --list value when accepted
};

class BatchArguments : public ::testing::TestWithParam<ParseCase> {};

TEST_P(BatchArguments, AreTakenLiterally) {
  const ParseCase& c = GetParam();
  std::ostringstream err;
  const std::optional<BatchArgs> a = parse_batch_args(c.args, err);
  if (c.frame.empty()) {
    EXPECT_FALSE(a);
    EXPECT_EQ(err.str(), "zelvo run: " + c.said + "\n");
    return;
  }
  ASSERT_TRUE(a) << err.str();
  EXPECT_EQ(a->frame, c.frame);
  EXPECT_EQ(*a->value("--list"), c.said);
  EXPECT_EQ(a->out, "o");
}

const std::string kInjecting = "$(touch INJECTED) b\nc.fits";

INSTANTIATE_TEST_SUITE_P(
    Cases, BatchArguments,
    ::testing::Values(
        ParseCase{{"remove", kInjecting, "--list", "l; rm x", "--out", "o"}, kInjecting, "l; rm x"},
        ParseCase{{"remove", "--list=-l", "--out=o", "--", "-x.fits"}, "-x.fits", "-l"},
        ParseCase{{"remove", "--list", "l", "--out", "o", "--", "--"}, "--", "l"},
        ParseCase{{"remove", "-x.fits", "--list", "l", "--out", "o"},
                  "",
                  "the remove job has no option '-x.fits' (a name that starts with '-' goes after '--')"},
        ParseCase{{"remove", "a.fits", "--list", "l", "--out", "o", "--seed", "1; touch X"},
                  "",
                  "--seed needs a whole number, not '1; touch X'"},
        ParseCase{{"remove", "a.fits", "--out", "o"}, "", "the remove job needs --list"},
        ParseCase{{"remove", "a.fits", "--list", "l"}, "", "--out DIR is needed: the folder the results go to"},
        ParseCase{{"remove", "a.fits", "b.fits", "--list", "l", "--out", "o"},
                  "",
                  "one frame per run, not 2 (scripts/many_frames.sh runs many)"},
        ParseCase{{"remove", "a.fits", "--list", "l", "--list", "m", "--out", "o"}, "", "--list is given twice"},
        ParseCase{{"remove", "a.fits", "--list", "l", "--out", ""}, "", "--out needs a folder name"},
        ParseCase{{"remove", "", "--list", "l", "--out", "o"}, "", "the frame's name is empty"},
        ParseCase{{"rm -rf", "a.fits"}, "", "no job named 'rm -rf' (zelvo run --help lists them)"}));

TEST(BatchNames, EveryOutputCarriesTheFramesStem) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"night1/a.fits", "a.clean.fits"}, {"a.fits.gz", "a.clean.fits"},     {"b.FITS", "b.clean.fits"},
      {"c.fit.fz", "c.clean.fits"},      {"x/.fits", ".fits.clean.fits"},   {"my frame.fts", "my frame.clean.fits"},
      {"noext", "noext.clean.fits"},     {"-lead.fits", "-lead.clean.fits"}};
  for (const auto& [frame, name] : cases) EXPECT_EQ(output_name(frame, "clean.fits"), name) << frame;
}

// A 200 x 200 synthetic frame with a few stars, and a list of its three brightest.
class RemoveJob : public ::testing::Test {
 protected:
  void SetUp() override {
    FieldOptions o;
    o.nx = o.ny = 200;
    o.seed = 21;
    o.stars = 6;
    o.saturated_star = false;
    o.galaxy = GalaxyProfile::None;
    field = synthetic_field(o);
    ASSERT_EQ(write_field_fits(dir.file(frame), field.image, o), 0);
    for (std::size_t i = 0; i < 3; ++i) {
      const FieldStar& s = field.stars[field.stars.size() - 1 - i];
      list += "1 " + std::to_string(s.x) + " " + std::to_string(s.y) + " 6.0\n";
    }
  }
  int run(std::vector<std::string> extra) {
    std::vector<std::string> args = {"remove", "--list", dir.file("list.log"), "--out", dir.file("out"), "--seed", "5"};
    args.insert(args.end(), extra.begin(), extra.end());
    out.str("");
    err.str("");
    return run_batch(args, out, err);
  }
  std::vector<std::string> outputs() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.file("out"))) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  ScratchFolder dir;
  SyntheticField field;
  const std::string frame = "$(touch INJECTED) a b.fits";
  std::string list;
  std::ostringstream out, err;
};

TEST_F(RemoveJob, RemovesWhatOption9RemovesInASessionWithTheSameSeed) {
  dir.write("list.log", list);
  dir.write("ZelvoRep.log", list);
  EXPECT_EQ(run({"--", dir.file(frame)}), 0) << err.str();
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(out.str(), "$(touch INJECTED) a b.clean.fits: 3 of 3 listed objects removed\n");
  const std::string stem = "$(touch INJECTED) a b.";
  EXPECT_EQ(outputs(), (std::vector<std::string>{stem + "Zelvo.log", stem + "ZelvoDebug.log", stem + "ZelvoRepeat.log",
                                                 stem + "clean.fits", stem + "session.txt"}));
  // (L takes a name up to its first blank, so the session loads a copy.)
  dir.write("plain.fits", dir.read(frame));
  const SessionRun s =
      run_session(dir, {"", "l", "plain.fits", "r", "9", "0", "s", "session.fits", "", "q"}, "/null", 0, 5);
  const Image by_session = dir.read_fits("session.fits"), by_run = dir.read_fits("out/" + stem + "clean.fits");
  ASSERT_FALSE(by_run.empty());
  EXPECT_EQ(by_run.px, by_session.px);
  EXPECT_NE(by_run.px, field.image.px);
  // The same main-log lines, and the record lists what was removed.
  EXPECT_EQ(count_of(dir.read("out/" + stem + "Zelvo.log"), "Entering centre/radius finding for regular stars..."), 3);
  EXPECT_EQ(count_of(dir.read("out/" + stem + "ZelvoRepeat.log"), "\n 1 "), 3);
  EXPECT_FALSE(dir.exists("INJECTED"));
}

TEST_F(RemoveJob, ALineItCannotHandleIsOneLineAndANonZeroStatusAndTheFrameSaysSo) {
  dir.write("list.log", list + "1 500.0 20.0 5.0\n1 50 x 5\n");
  EXPECT_EQ(run({dir.file(frame)}), 1);
  const std::string ref = "zelvo run remove: " + dir.file(frame) + ": list.log, line ";
  EXPECT_EQ(err.str(), ref + "4: the centre lies outside the image; the object is skipped.\n" + ref +
                           "5, is not four numbers (type, x, y, radius); the list stops there.\n");
  EXPECT_EQ(out.str(), "$(touch INJECTED) a b.clean.fits: 3 of 4 listed objects removed\n");
  const std::string header = dir.read("out/$(touch INJECTED) a b.clean.fits").substr(0, 2880 * 4);
  EXPECT_THAT(header, HasSubstr("HISTORY zelvo run remove: 3 of 4 listed objects removed"));
  // A type no removal knows stops the list there.
  dir.write("list.log", "4 50 50 5\n" + list);
  EXPECT_EQ(run({"--force", dir.file(frame)}), 1);
  EXPECT_EQ(err.str(), ref + "1: type 4 is not 1, 2, 3, 5, 6 or 7; the list stops there\n");
}

TEST_F(RemoveJob, AFolderThatHoldsResultsIsRefusedAndForceReplacesOnlyThisRunsFiles) {
  dir.write("list.log", list);
  std::filesystem::create_directory(dir.file("out"));
  dir.write("out/keep.txt", "an earlier result");
  dir.write("out/b.clean.fits", "old");
  EXPECT_EQ(run({dir.file(frame)}), 2);
  EXPECT_EQ(err.str(),
            "zelvo run remove: " + dir.file("out") +
                " is not empty; give a new or empty folder, or --force to replace the files of this run there\n");
  EXPECT_EQ(outputs(), (std::vector<std::string>{"b.clean.fits", "keep.txt"}));
  dir.write("b.fits", dir.read(frame));
  EXPECT_EQ(run({"--force", dir.file("b.fits")}), 0) << err.str();
  EXPECT_EQ(dir.read("out/keep.txt"), "an earlier result");
  EXPECT_EQ(outputs().size(), 6u);
  EXPECT_FALSE(dir.read_fits("out/b.clean.fits").empty());
  // A list kept in the folder under the name of an output stays as it is.
  dir.write("out/b.ZelvoRepeat.log", list);
  std::vector<std::string> args = {
      "remove", "--list", dir.file("out/b.ZelvoRepeat.log"), "--out", dir.file("out"), "--force", dir.file("b.fits")};
  EXPECT_EQ(run_batch(args, out, err), 2);  // an output not put in place fails the run
  EXPECT_EQ(dir.read("out/b.ZelvoRepeat.log"), list);
  EXPECT_THAT(err.str(), HasSubstr("b.ZelvoRepeat.log is an input of this run and is kept"));
}

TEST_F(RemoveJob, AForceRerunThatCanDoNothingLeavesTheEarlierResultsWhole) {
  dir.write("list.log", list);
  ASSERT_EQ(run({dir.file(frame)}), 0) << err.str();
  const std::string stem = "out/$(touch INJECTED) a b.";
  const std::string transcript = dir.read(stem + "session.txt");
  const std::vector<float> cleaned = dir.read_fits(stem + "clean.fits").px;
  dir.write(frame, "SIMPLE  = this is no FITS file any more\n");
  EXPECT_EQ(run({"--force", dir.file(frame)}), 2);
  EXPECT_THAT(err.str(), HasSubstr(": the frame cannot be read"));
  EXPECT_THAT(err.str(), ::testing::EndsWith(": the earlier results in " + dir.file("out") +
                                             " are kept as they were; this run's files are not kept\n"));
  EXPECT_EQ(outputs().size(), 5u);
  EXPECT_EQ(dir.read(stem + "session.txt"), transcript);
  EXPECT_EQ(dir.read_fits(stem + "clean.fits").px, cleaned);
}

// The private folders a run leaves when it is killed: those of runs of this host that are gone
// are cleared by the next run; any other is named and left.
TEST_F(RemoveJob, RunFoldersOfDeadRunsAreClearedAndOthersNamed) {
  dir.write("list.log", list);
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const std::string ended = std::string(".zelvo-run-") + host + "-" + std::to_string(gone), out_dir = dir.file("out/");
  const std::string dead = ended + "-a1B2c3", stuck = ended + "-withafolder", old = ".zelvo-run-Qw3rty";
  const std::string live = std::string(".zelvo-run-") + host + "-" + std::to_string(getpid()) + "-x";
  const std::string elsewhere = ".zelvo-run-node-7.cluster-" + std::to_string(gone) + "-x";
  for (const std::string& f : {dead, live, elsewhere, old, stuck + "/sub"})
    std::filesystem::create_directories(out_dir + f);
  dir.write("out/" + dead + "/a.clean.fits", "half written");
  dir.write("out/" + live + "/a.clean.fits", "being written");
  EXPECT_EQ(run({dir.file(frame)}), 2);
  EXPECT_EQ(out.str(), "Removed " + out_dir + dead + ", left by a run that ended unfinished (process " +
                           std::to_string(gone) + ")\n");
  const std::string lead = "zelvo run remove: " + out_dir;
  for (const std::string& line :
       {lead + old + " is a run folder of unknown origin; it is left as it is (remove it once no run writes there)\n",
        "zelvo run remove: cannot remove " + out_dir + stuck +
            ", left by a run that ended unfinished: Is a directory\n",
        lead + live + " belongs to a run that is still going (process " + std::to_string(getpid()) +
            "); it is left as it is\n",
        lead + elsewhere + " belongs to a run on host node-7.cluster (process " + std::to_string(gone) +
            "); it is left as it is (remove it once that run has ended)\n",
        "zelvo run remove: " + dir.file("out") + " is not empty; give a new or empty folder, or --force"})
    EXPECT_THAT(err.str(), HasSubstr(line));
  EXPECT_EQ(count_of(err.str(), "\n"), 5);
  EXPECT_FALSE(dir.exists("out/" + dead));
  EXPECT_EQ(dir.read("out/" + live + "/a.clean.fits"), "being written");
}

TEST_F(RemoveJob, AnOutputFolderItCannotWriteIsRefusedBeforeAnythingIsDone) {
  dir.write("list.log", list);
  dir.write("file", "");
  std::vector<std::string> args = {"remove",       "--list", dir.file("list.log"), "--out", dir.file("file/out"),
                                   dir.file(frame)};
  EXPECT_EQ(run_batch(args, out, err), 2);
  EXPECT_EQ(err.str(),
            "zelvo run remove: cannot make the output folder " + dir.file("file/out") + ": Not a directory\n");
  std::filesystem::create_directory(dir.file("locked"));
  ::chmod(dir.file("locked").c_str(), 0555);
  ::chmod(dir.path().c_str(), 0755);
  args[4] = dir.file("locked");
  const std::optional<bool> refused = without_root([&] {
    std::ostringstream o, e;
    return run_batch(args, o, e) == 2 && e.str().find("cannot write in the output folder") != std::string::npos;
  });
  if (refused) {
    EXPECT_TRUE(*refused);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("locked")));
}

TEST_F(RemoveJob, AFrameTheLoaderRefusesIsOneProblemLineAndNothingRemoved) {
  dir.write("list.log", list);
  // BITPIX 16 with a BSCALE that is not a number: the pixel values are unknown.
  std::string header;
  for (const char* c :
       {"SIMPLE  =                    T", "BITPIX  =                   16", "NAXIS   =                    2",
        "NAXIS1  =                    4", "NAXIS2  =                    4", "BSCALE  = 'abc'", "END"})
    header += std::string(c) + std::string(80 - std::string(c).size(), ' ');
  header.resize(2880, ' ');
  dir.write("scaled.fits", header + std::string(2880, '\0'));
  EXPECT_EQ(run({dir.file("scaled.fits")}), 2);
  EXPECT_THAT(err.str(),
              ::testing::StartsWith("zelvo run remove: " + dir.file("scaled.fits") + ": the frame is refused: "));
  EXPECT_FALSE(dir.exists("out/scaled.clean.fits"));
}

// A batch system's time limit (SIGTERM) in the middle of a run leaves nothing in the folder;
// after SIGKILL, which no program can catch, the next run into the folder clears what is left.
class BatchStop : public ::testing::TestWithParam<int> {};

TEST_P(BatchStop, TheUnfinishedFilesGo) {
  ScratchFolder dir;
  dir.write_fits("big.fits", small_field(3000, 3000));
  std::string list;
  for (int i = 1; i <= 30; ++i) list += "1 " + std::to_string(90 * i) + " " + std::to_string(90 * i) + " 5\n";
  dir.write("list.log", list);
  const std::string out = dir.file("out"), frame = dir.file("big.fits"), listed = dir.file("list.log");
  const pid_t child = fork();
  if (child == 0) {
    execl(ZELVO_BINARY, ZELVO_BINARY, "run", "remove", frame.c_str(), "--list", listed.c_str(), "--out", out.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  // Once the run has begun writing (its transcript is there), stop it.
  const auto started = [&] {
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(out, ec))
      if (e.path().filename() == "big.session.txt") return true;
    return false;
  };
  for (int i = 0; i < 5000 && !started(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(started());
  kill(child, GetParam());
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), GetParam());
  if (GetParam() == SIGKILL) {
    dir.write_fits("small.fits", small_field(100, 100));
    std::ostringstream o, e;
    const std::vector<std::string> again = {"remove", dir.file("small.fits"), "--list", listed, "--out", out};
    EXPECT_EQ(run_batch(again, o, e), 1) << e.str();  // (the list's stars lie outside a small frame)
    EXPECT_THAT(o.str(), ::testing::StartsWith("Removed " + out + "/.zelvo-run-"));
    for (const auto& f : std::filesystem::directory_iterator(out)) EXPECT_NE(f.path().filename().c_str()[0], '.');
    return;
  }
  EXPECT_TRUE(std::filesystem::is_empty(out));
}

INSTANTIATE_TEST_SUITE_P(Signals, BatchStop, ::testing::Values(SIGTERM, SIGKILL),
                         [](const ::testing::TestParamInfo<int>& i) { return std::string(sigabbrev_np(i.param)); });

}  // namespace
