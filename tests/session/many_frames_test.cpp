// scripts/many_frames.sh: frames with hostile names, each in a folder of its own, none reaching
// a shell; clashes and an unusable output folder refused before anything runs; done and
// failed frames counted from each job's exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "session/batch_run.h"
#include "support/session_harness.h"
#include "support/without_root.h"
#include "synthetic_field.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::HasSubstr;

namespace {

struct ScriptRun {
  int status = -1;
  std::string out;  // standard output and error
};

// Starts `program` in `cwd` with `args` as they are, no shell seeing
// them; `fd` receives its standard output and error.
pid_t start(const std::string& cwd, const std::vector<std::string>& args, int& fd, std::string program) {
  std::vector<char*> argv{program.data()};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int p[2];
  if (pipe(p) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    dup2(p[1], 1);
    dup2(p[1], 2);
    close(p[0]);
    close(p[1]);  // (a daemon it starts must not keep the pipe open)
    if (chdir(cwd.c_str()) != 0) _exit(127);
    setenv("ZELVO", ZELVO_BINARY, 1);
    execvp(program.c_str(), argv.data());
    _exit(127);
  }
  close(p[1]);
  fd = p[0];
  return child;
}

// Reads what the program started by start() says until it ends, and its exit status.
ScriptRun finish(pid_t child, int fd) {
  ScriptRun r;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) r.out.append(buf, static_cast<std::size_t>(n));
  close(fd);
  int st = 0;
  waitpid(child, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// Runs `program` (the script when not given) to its end.
ScriptRun run(const std::string& cwd, const std::vector<std::string>& args,
              const std::string& program = ZELVO_SOURCE_DIR "/scripts/many_frames.sh") {
  int fd = -1;
  const pid_t child = start(cwd, args, fd, program);
  return child < 0 ? ScriptRun{} : finish(child, fd);
}
ScriptRun many_frames(const std::string& cwd, const std::vector<std::string>& args) { return run(cwd, args); }

// Waits up to `seconds` for `ready`.
template <class Ready>
bool wait_for(Ready ready, int seconds) {
  for (int i = 0; i < seconds * 50; ++i) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return ready();
}

// Every file under `folder` (folders themselves not listed), by path relative to it.
std::vector<std::string> files_under(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder, ec))
    if (!e.is_directory()) files.push_back(std::filesystem::relative(e.path(), folder).string());
  std::sort(files.begin(), files.end());
  return files;
}

// A 3000 x 3000 frame with a list of 600 objects on it: a run of several seconds.
void write_slow_job(const ScratchFolder& dir, const std::string& frame, const std::string& list) {
  dir.write_fits(frame, small_field(3000, 3000));
  std::string objects;
  for (int i = 1; i <= 600; ++i)
    objects += "1 " + std::to_string(90 * (i % 30 + 1)) + " " + std::to_string(90 * (i % 30 + 1)) + " 5\n";
  dir.write(list, objects);
}

class ManyFrames : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v parallel > /dev/null 2>&1") != 0) GTEST_SKIP() << "GNU parallel is not installed";
    std::filesystem::create_directories(work + "/night1");
    std::filesystem::create_directories(work + "/night2");
    for (int seed : {1, 2}) {
      FieldOptions o;
      o.nx = o.ny = 160;
      o.seed = static_cast<uint64_t>(seed);
      o.stars = 8;
      const SyntheticField f = synthetic_field(o);
      ASSERT_EQ(write_field_fits(work + "/night" + std::to_string(seed) + "/a.fits", f.image, o), 0);
      if (seed == 1) star = f.stars.front();
    }
    for (const std::string name :
         {"$(touch INJECTED) b.fits", "-lead.fits", ".fits", "new\nline.fits", "a.fits", "a.fits.gz"})
      std::filesystem::copy_file(work + "/night1/a.fits", work + "/" + name);
    dir.write("work dir/bad.fits", "SIMPLE  = this is no FITS file\n");
    dir.write("work dir/" + list, "1 " + std::to_string(star.x) + " " + std::to_string(star.y) + " 8.0\n");
  }
  ScratchFolder dir;
  const std::string work = dir.file("work dir");
  const std::string list = "stars $(touch INJECTED).txt";
  FieldStar star;
};

TEST_F(ManyFrames, HostileNamesGetFoldersOfTheirOwnAndNeverReachAShell) {
  dir.write("work dir/frames0", std::string("new\nline.fits\0.fits\0", 21));
  const ScriptRun r =
      many_frames(work, {"-j", "3", "--out", "out dir", "--frames0", "frames0", "remove", "--list", list, "--seed", "5",
                         "--", "night1/a.fits", "night2/a.fits", "$(touch INJECTED) b.fits", "-lead.fits", "./a.fits",
                         "a.fits.gz", "bad.fits"});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_THAT(r.out, HasSubstr("8 of 9 frames done; results in out dir/<frame>/\n"
                               "Failed (1):\n"
                               "  bad.fits (exit status 2)\n"));
  EXPECT_THAT(r.out, HasSubstr("zelvo run remove: bad.fits: the frame cannot be read"));
  for (const std::string f : {"night1/a.fits/a", "night2/a.fits/a", "$(touch INJECTED) b.fits/$(touch INJECTED) b",
                              "-lead.fits/-lead", "a.fits/a", "a.fits.gz/a", ".fits/.fits", "new\nline.fits/new\nline"})
    EXPECT_TRUE(dir.exists("work dir/out dir/" + f + ".clean.fits")) << f;
  EXPECT_FALSE(dir.exists("work dir/INJECTED"));
  EXPECT_FALSE(dir.exists("INJECTED"));
  // night1/a.fits and night2/a.fits kept apart; the star is gone from the cleaned frame.
  const Image before = dir.read_fits("work dir/night1/a.fits");
  const Image one = dir.read_fits("work dir/out dir/night1/a.fits/a.clean.fits");
  EXPECT_NE(one.px, dir.read_fits("work dir/out dir/night2/a.fits/a.clean.fits").px);
  const int x = static_cast<int>(star.x + 0.5), y = static_cast<int>(star.y + 0.5);
  EXPECT_LT(one.at(x, y), before.at(x, y) - 0.5f * static_cast<float>(star.peak));
  // Again into the same folder: every frame is refused, no result removed.
  const ScriptRun again = many_frames(work, {"--out", "out dir", "remove", "--list", list, "--", "night1/a.fits"});
  EXPECT_EQ(again.status, 1);
  EXPECT_THAT(again.out, HasSubstr("is not empty; give a new or empty folder"));
  EXPECT_EQ(dir.read_fits("work dir/out dir/night1/a.fits/a.clean.fits").px, one.px);
}

TEST_F(ManyFrames, ClashesAndAnUnusableFolderAreRefusedBeforeAnythingRuns) {
  dir.write("work dir/file", "");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--out", "o", "remove", "--list", list, "--", "a.fits", "./a.fits"},
       "many_frames.sh: './a.fits' and 'a.fits' would share the folder o/a.fits; run them separately\n"},
      {{"--out", "o", "remove", "--list", list, "--", "night1", "night1/a.fits"},
       "many_frames.sh: 'night1' would hold the folder of 'night1/a.fits'; run them separately\n"},
      {{"--out", "o", "remove", "--list", list, "--", "."}, "many_frames.sh: '.' is not a frame's file name\n"},
      {{"--out", "o", "remove", "--list", list, "--", "a.fits", "./joblog.txt/a.fits"},
       "many_frames.sh: './joblog.txt/a.fits' would have its folder where the joblog goes, o/joblog.txt; run it "
       "from another folder\n"},
      {{"--out", "file/o", "remove", "--list", list, "--", "a.fits"},
       "many_frames.sh: cannot make the output folder file/o\n"},
  };
  for (const auto& [args, said] : cases) {
    const ScriptRun r = many_frames(work, args);
    EXPECT_EQ(r.status, 2) << said;
    EXPECT_EQ(r.out, said);
  }
  EXPECT_FALSE(dir.exists("work dir/o"));
  std::filesystem::create_directory(work + "/locked");
  ::chmod((work + "/locked").c_str(), 0555);
  ::chmod(dir.path().c_str(), 0755);
  ::chmod(work.c_str(), 0755);
  const std::optional<bool> refused = without_root([&] {
    const ScriptRun r = many_frames(work, {"--out", "locked", "remove", "--list", list, "--", "a.fits"});
    return r.status == 2 && r.out == "many_frames.sh: cannot write in the output folder locked\n";
  });
  if (refused) {
    EXPECT_TRUE(*refused);
  }
}

TEST_F(ManyFrames, SigtermStopsEveryJobAndStartsNoMore) {
  write_slow_job(dir, "work dir/big.fits", "work dir/big.log");
  for (const char* name : {"big2.fits", "big3.fits", "big4.fits"})
    ASSERT_EQ(link((work + "/big.fits").c_str(), (work + "/" + name).c_str()), 0);
  int fd = -1;
  const pid_t script = start(work,
                             {"-j", "2", "--out", "stop", "remove", "--list", "big.log", "--", "big.fits", "big2.fits",
                              "big3.fits", "big4.fits"},
                             fd, ZELVO_SOURCE_DIR "/scripts/many_frames.sh");
  ASSERT_TRUE(wait_for(
      [&] {
        for (const std::string& f : files_under(work + "/stop"))
          if (f.find("session.txt") != std::string::npos) return true;
        return false;
      },
      20));
  kill(script, SIGTERM);
  const ScriptRun r = finish(script, fd);
  EXPECT_EQ(r.status, 128 + SIGTERM) << r.out;
  EXPECT_THAT(r.out, HasSubstr("0 of 4 frames done; results in stop/<frame>/\nFailed (4):\n"));
  EXPECT_THAT(r.out, ::testing::EndsWith("Stopped by SIGTERM\n"));
  // Nothing goes on writing, and the frames in the queue were never begun.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(files_under(work + "/stop"), std::vector<std::string>{"joblog.txt"});
}

TEST_F(ManyFrames, FramesThatFailAreCountedFromTheirExitStatus) {
  dir.write("work dir/bad list", "1 50 50 5\nthis is no object\n");
  const ScriptRun r = many_frames(work, {"--out", "o", "remove", "--list", "bad list", "--", "a.fits", "-lead.fits"});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, HasSubstr("0 of 2 frames done; results in o/<frame>/\nFailed (2):\n"
                               "  a.fits (exit status 1)\n  -lead.fits (exit status 1)\n"));
  EXPECT_TRUE(dir.exists("work dir/o/a.fits/a.clean.fits"));
  const ScriptRun seed =
      many_frames(work, {"--out", "s", "remove", "--list", list, "--seed", "1; touch X", "--", "a.fits"});
  EXPECT_EQ(seed.status, 1);
  EXPECT_THAT(seed.out, HasSubstr("zelvo run: --seed needs a whole number, not '1; touch X'\n"));
  EXPECT_THAT(seed.out, HasSubstr("0 of 1 frames done"));
  EXPECT_FALSE(dir.exists("work dir/X"));
}

TEST_F(ManyFrames, PhotometryListMeasuresEachFrame) {
  dir.write("work dir/stars.txt", std::to_string(star.x) + " " + std::to_string(star.y) + "\n");
  const ScriptRun r = many_frames(
      work, {"--out", "p", "photometry", "--list", "stars.txt", "--radii", "4,10,15", "--", "a.fits", "bad.fits"});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, HasSubstr("Failed (1):\n  bad.fits (exit status 2)\n"));
  EXPECT_TRUE(dir.exists("work dir/p/a.fits/a.ZelvoApPhot.log"));
}

}  // namespace

// scripts/slurm_frames.sh on a real one-node Slurm cluster of the test's own
// (tests/support/slurm_cluster.sh): task states and exit codes from Slurm's job completion
// record, the reasons on each task's standard error, the results those of `zelvo run`.
class SlurmFrames : public ManyFrames {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/zelvo-slurm-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    cluster = folder;
    const ScriptRun up = run(cluster, {"60", kCluster, "start", cluster}, "timeout");
    if (up.status == 3) GTEST_SKIP() << "no Slurm cluster here: " << up.out.substr(0, up.out.find('\n'));
    ASSERT_EQ(up.status, 0) << up.out;
    setenv("SLURM_CONF", (cluster + "/slurm.conf").c_str(), 1);
    ManyFrames::SetUp();
  }
  void TearDown() override {
    (void)std::system((kCluster + " stop " + cluster).c_str());
    unsetenv("SLURM_CONF");
    std::error_code ec;
    std::filesystem::remove_all(cluster, ec);
  }
  // Submits the array script in the work folder; returns the job's id.
  std::string submit(const std::string& tasks, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"30", "sbatch", "--parsable", "--array=" + tasks,
                                    ZELVO_SOURCE_DIR "/scripts/slurm_frames.sh"};
    all.insert(all.end(), args.begin(), args.end());
    const ScriptRun r = run(work, all, "timeout");
    EXPECT_EQ(r.status, 0) << r.out;
    return r.out.substr(0, r.out.find_first_of(";\n"));
  }
  // The completion records of job `id`'s tasks by task number ("JobState=... ExitCode=..."),
  // once there are `tasks` of them (at most a minute's wait).
  std::map<int, std::string> records(const std::string& id, std::size_t tasks) {
    std::map<int, std::string> r;
    wait_for(
        [&] {
          std::ifstream log(cluster + "/jobcomp.txt");
          for (std::string line; std::getline(log, line);)
            if (line.find(" ArrayJobId=" + id + " ") != std::string::npos)
              r[std::stoi(field(line, "ArrayTaskId"))] =
                  "JobState=" + field(line, "JobState") + " ExitCode=" + field(line, "ExitCode");
          return r.size() >= tasks;
        },
        60);
    return r;
  }
  static std::string field(const std::string& line, const std::string& name) {
    const std::size_t at = line.find(" " + name + "=");
    if (at == std::string::npos) return {};
    const std::size_t from = at + name.size() + 2;
    return line.substr(from, line.find(' ', from) - from);
  }
  const std::string kCluster = ZELVO_SOURCE_DIR "/tests/support/slurm_cluster.sh";
  std::string cluster;
};

TEST_F(SlurmFrames, AnArrayJobFailsItsDamagedFrameAloneAndAStoppedTaskLeavesNothing) {
  dir.write("work dir/frames.txt",
            "night1/a.fits\nnight2/a.fits\n$(touch INJECTED) b.fits\nbad.fits\n-lead.fits\n"
            "night1/a.fits\n");
  write_slow_job(dir, "work dir/big.fits", "work dir/big.log");
  dir.write("work dir/big.txt", "big.fits\n");
  const std::string slow = submit("1", {"big.txt", "stop", "remove", "--list", "big.log"});
  const std::string id = submit("1-6", {"frames.txt", "runs", "remove", "--list", list, "--seed", "5"});
  // The slow task stopped as Slurm stops a task at its time limit (SIGTERM, then SIGKILL after
  // KillWait): scancel takes the same way, and at once, where a limit is whole minutes.
  ASSERT_TRUE(wait_for([&] { return !files_under(work + "/stop").empty(); }, 30));
  ASSERT_EQ(std::system(("scancel " + slow).c_str()), 0);
  EXPECT_EQ(records(slow, 1), (std::map<int, std::string>{{1, "JobState=CANCELLED ExitCode=0:0"}}));
  // (The record is written at once; the task's processes end within KillWait.)
  EXPECT_TRUE(wait_for(
      [&] {
        const ScriptRun q = run(work, {"10", "squeue", "-h", "-j", slow}, "timeout");
        return q.status == 0 && q.out.empty();
      },
      20));
  EXPECT_EQ(files_under(work + "/stop"), std::vector<std::string>{});
  const std::map<int, std::string> done = records(id, 6);
  const std::string ok = "JobState=COMPLETED ExitCode=0:0";
  EXPECT_EQ(done, (std::map<int, std::string>{
                      {1, ok}, {2, ok}, {3, ok}, {4, "JobState=FAILED ExitCode=2:0"}, {5, ok}, {6, ok}}));
  const std::string why = dir.read("work dir/zelvo-frames-" + id + "_4.err");
  EXPECT_THAT(why, ::testing::StartsWith("zelvo run remove: bad.fits: the frame cannot be read"));
  EXPECT_EQ(count_of(why, "\n"), 1) << why;
  // Each result is what `zelvo run` makes of the frame with the same seed.
  const std::vector<std::pair<int, std::string>> frames = {{1, "night1/a.fits"},
                                                           {2, "night2/a.fits"},
                                                           {3, "$(touch INJECTED) b.fits"},
                                                           {5, "-lead.fits"},
                                                           {6, "night1/a.fits"}};
  for (const auto& [task, frame] : frames) {
    std::ostringstream o, e;
    const std::string ref = "work dir/ref" + std::to_string(task);
    const std::vector<std::string> args = {"remove",      "--list", work + "/" + list, "--seed", "5", "--out",
                                           dir.file(ref), "--",     work + "/" + frame};
    ASSERT_EQ(run_batch(args, o, e), 0) << e.str();
    const std::string stem = frame_stem(frame), got = "work dir/runs/" + std::to_string(task) + "-" +
                                                      std::filesystem::path(frame).filename().string() + "/" + stem;
    EXPECT_EQ(dir.read_fits(got + ".clean.fits").px, dir.read_fits(ref + "/" + stem + ".clean.fits").px) << frame;
    EXPECT_EQ(dir.read(got + ".ZelvoRepeat.log"), dir.read(ref + "/" + stem + ".ZelvoRepeat.log")) << frame;
  }
  EXPECT_FALSE(dir.exists("work dir/INJECTED"));
}
