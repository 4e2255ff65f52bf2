#include "session/batch_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <set>

#include "platform/list_io.h"

namespace zelvo {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kRunUsage =
    "Usage: zelvo run JOB FRAME --out DIR [--seed N] [--force] [job options]\n"
    "       (a FRAME or value that starts with '-' may follow '--', which ends the options)\n"
    "Jobs:\n";
constexpr std::string_view kRunUsageTail =
    "DIR must be new or empty; --force replaces only the files this run writes there.\n"
    "Every output is named after the frame: DIR/<stem>.<output>.\n"
    "Exit status: 0 when every listed object was handled, 1 when some were not (one line\n"
    "each on standard error), 2 when nothing could be done or an output was not written.\n";

}  // namespace

std::string one_line(std::string_view text) {
  std::string s;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n') {
      s += "\\n";
    } else if (c == '\t') {
      s += "\\t";
    } else if (u < 0x20 || u == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", u);
      s += buf;
    } else {
      s += c;
    }
  }
  return s;
}

namespace {

std::string errno_text() { return std::strerror(errno); }

void print_usage(std::ostream& os) {
  os << kRunUsage;
  for (const BatchJob& j : batch_jobs()) os << "  " << j.usage << '\n';
  os << kRunUsageTail;
}

const BatchJob* find_job(std::string_view name) {
  for (const BatchJob& j : batch_jobs())
    if (j.name == name) return &j;
  return nullptr;
}

bool has_suffix(std::string_view s, std::string_view suffix) {
  if (s.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), s.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                    [](char lower, char c) { return std::tolower(static_cast<unsigned char>(c)) == lower; });
}

// A run writes into a private folder ".zelvo-run-<host>-<pid>-XXXXXX" inside DIR. The host and
// process id tell a later run whether the writer has ended without clearing it (SIGKILL, a
// crash, a node that went down and came back): only a folder of this host whose process is
// gone is known to be dead. On a shared file system a folder of another host is never judged.
constexpr std::string_view kWorkPrefix = ".zelvo-run-";

std::string host_name() {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0 || buf[0] == 0) return "localhost";
  return buf;
}

// Removes a private folder and the files in it; false (errno set) when something in it is not
// a file a run writes (a folder), or cannot be removed.
bool remove_work_folder(const fs::path& work) {
  std::error_code ec;
  for (fs::directory_iterator it(work, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->symlink_status(ec).type() == fs::file_type::directory) {
      errno = EISDIR;
      return false;
    }
    if (!fs::remove(it->path(), ec)) break;
  }
  if (!ec) fs::remove(work, ec);
  if (ec) errno = ec.value();
  return !ec;
}

// Clears the private folders in DIR that runs of this host left when they ended without
// finishing, with a line on `out` for each; names on `err` every one it cannot clear, and why.
void clear_dead_runs(const fs::path& dir, std::ostream& out, std::ostream& err, const std::string& lead) {
  const std::string here = host_name();
  std::error_code ec;
  std::vector<fs::path> found;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().filename().string().rfind(kWorkPrefix, 0) == 0 &&
        it->symlink_status(ec).type() == fs::file_type::directory)
      found.push_back(it->path());
  std::sort(found.begin(), found.end());
  for (const fs::path& f : found) {
    const std::string shown = one_line(f.string());
    // "<host>-<pid>-XXXXXX" after the prefix; the host may hold '-' itself.
    const std::string rest = f.filename().string().substr(kWorkPrefix.size());
    const std::size_t last = rest.rfind('-');
    const std::size_t mid = last == std::string::npos || last == 0 ? std::string::npos : rest.rfind('-', last - 1);
    const std::optional<int32_t> pid =
        mid == std::string::npos ? std::nullopt : parse_integer(rest.substr(mid + 1, last - mid - 1));
    if (!pid || *pid <= 0) {
      err << lead << shown
          << " is a run folder of unknown origin; it is left as it is (remove it once no run writes there)\n";
      continue;
    }
    const std::string host = rest.substr(0, mid), process = "process " + std::to_string(*pid);
    if (host != here) {
      err << lead << shown << " belongs to a run on host " << one_line(host) << " (" << process
          << "); it is left as it is (remove it once that run has ended)\n";
    } else if (*pid == ::getpid() || ::kill(*pid, 0) == 0 || errno != ESRCH) {
      err << lead << shown << " belongs to a run that is still going (" << process << "); it is left as it is\n";
    } else if (!remove_work_folder(f)) {
      err << lead << "cannot remove " << shown << ", left by a run that ended unfinished: " << errno_text() << '\n';
    } else {
      out << "Removed " << shown << ", left by a run that ended unfinished (" << process << ")\n";
    }
  }
}

// The output folder: made when it does not exist, otherwise it must be a folder and empty
// (or --force), once the private folders of dead runs are cleared. Returns the private folder
// inside it where the job writes, or "" after one line on `err`.
fs::path prepare_output(const BatchArgs& a, std::ostream& out, std::ostream& err, const std::string& lead) {
  const std::string dir = one_line(a.out.string());
  struct stat st {};
  if (::stat(a.out.c_str(), &st) != 0) {
    if (errno != ENOENT || ::mkdir(a.out.c_str(), 0777) != 0) {
      err << lead << "cannot make the output folder " << dir << ": " << errno_text() << '\n';
      return {};
    }
  } else if (!S_ISDIR(st.st_mode)) {
    err << lead << dir << " is not a folder\n";
    return {};
  } else {
    clear_dead_runs(a.out, out, err, lead);
    std::error_code ec;
    fs::directory_iterator it(a.out, ec);
    if (ec) {
      err << lead << "cannot read the output folder " << dir << ": " << ec.message() << '\n';
      return {};
    }
    if (it != fs::directory_iterator() && !a.force) {
      err << lead << dir
          << " is not empty; give a new or empty folder, or --force to replace the files of this run there\n";
      return {};
    }
  }
  std::string work =
      (a.out / (std::string(kWorkPrefix) + host_name() + "-" + std::to_string(::getpid()) + "-XXXXXX")).string();
  if (::mkdtemp(work.data()) == nullptr) {
    err << lead << "cannot write in the output folder " << dir << ": " << errno_text() << '\n';
    return {};
  }
  return work;
}

// Moves every file the job wrote from the private folder into DIR: a new name is linked (never
// replacing a file that appeared meanwhile), with --force a file is renamed over the old one.
// Returns the number of files left behind, each told in one line.
std::size_t move_outputs(const BatchArgs& a, const fs::path& work, std::ostream& err, const std::string& lead) {
  std::size_t left = 0;
  std::error_code ec;
  std::vector<fs::path> files;
  for (const fs::directory_entry& e : fs::directory_iterator(work, ec)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  // The run's inputs are never replaced, whatever their names.
  const auto is_input = [&](const fs::path& to) {
    std::error_code same;
    if (fs::equivalent(to, a.frame, same)) return true;
    for (const auto& [option, value] : a.values)
      if (fs::equivalent(to, value, same)) return true;
    return false;
  };
  for (const fs::path& f : files) {
    const fs::path to = a.out / f.filename();
    if (is_input(to)) {
      err << lead << one_line(to.string()) << " is an input of this run and is kept; the new file is "
          << one_line(f.string()) << '\n';
      ++left;
      continue;
    }
    bool moved = false;
    if (a.force) {
      moved = ::rename(f.c_str(), to.c_str()) == 0;
    } else {
      moved = ::renameat2(AT_FDCWD, f.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
      if (!moved && (errno == EINVAL || errno == ENOSYS))  // a file system without it: link, then unlink
        moved = ::link(f.c_str(), to.c_str()) == 0 && ::unlink(f.c_str()) == 0;
    }
    if (!moved) {
      err << lead << one_line(to.string()) << " was not written (" << errno_text() << "); the new file is "
          << one_line(f.string()) << '\n';
      ++left;
    }
  }
  if (left == 0) ::rmdir(work.c_str());
  return left;
}

// Whether a file the job wrote would replace one in DIR.
bool replaces_any(const BatchArgs& a, const fs::path& work) {
  std::error_code ec;
  for (fs::directory_iterator it(work, ec), end; !ec && it != end; it.increment(ec))
    if (fs::exists(fs::symlink_status(a.out / it->path().filename(), ec))) return true;
  return false;
}

// A run stopped by a signal (a batch system's time limit, a closed terminal, Ctrl-C) removes
// its private folder with what it holds before it ends, so no half-written result and no
// hidden folder stay behind. Only calls that are safe in a signal handler are made there.
struct WorkFolder {
  int fd = -1;
  char path[4096] = {};
};
WorkFolder g_work;
constexpr std::array<int, 3> kStopSignals = {SIGTERM, SIGHUP, SIGINT};

void remove_work_and_end(int sig) {
  if (g_work.fd >= 0) {
    alignas(8) static char buf[8192];
    for (;;) {
      const long n = ::syscall(SYS_getdents64, g_work.fd, buf, sizeof buf);
      if (n <= 0) break;
      for (long off = 0; off < n;) {
        struct Entry {
          uint64_t ino;
          int64_t off;
          unsigned short reclen;
          unsigned char type;
          char name[1];
        };
        const auto* e = reinterpret_cast<const Entry*>(buf + off);
        const bool dots = e->name[0] == '.' && (e->name[1] == 0 || (e->name[1] == '.' && e->name[2] == 0));
        if (!dots) ::unlinkat(g_work.fd, e->name, 0);
        off += e->reclen;
      }
    }
    ::rmdir(g_work.path);
  }
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

// Installs the handler for the work folder `work` while it lives.
class StopCleanup {
 public:
  explicit StopCleanup(const fs::path& work) {
    const std::string p = work.string();
    if (p.size() >= sizeof g_work.path) return;
    std::copy(p.begin(), p.end(), g_work.path);
    g_work.path[p.size()] = 0;
    g_work.fd = ::open(g_work.path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct sigaction sa {};
    sa.sa_handler = remove_work_and_end;
    sigfillset(&sa.sa_mask);
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) ::sigaction(kStopSignals[i], &sa, &old_[i]);
  }
  ~StopCleanup() {
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) ::sigaction(kStopSignals[i], &old_[i], nullptr);
    if (g_work.fd >= 0) ::close(g_work.fd);
    g_work.fd = -1;
  }
  StopCleanup(const StopCleanup&) = delete;
  StopCleanup& operator=(const StopCleanup&) = delete;

 private:
  std::array<struct sigaction, 3> old_{};
};

}  // namespace

const std::string* BatchArgs::value(std::string_view option) const {
  const auto it = values.find(std::string(option));
  return it == values.end() ? nullptr : &it->second;
}

std::string frame_stem(std::string_view frame) {
  const std::size_t slash = frame.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? frame : frame.substr(slash + 1);
  std::string_view stem = name;
  for (std::string_view z : {".gz", ".fz"})
    if (has_suffix(stem, z)) {
      stem.remove_suffix(z.size());
      break;
    }
  for (std::string_view f : {".fits", ".fit", ".fts"})
    if (has_suffix(stem, f)) {
      stem.remove_suffix(f.size());
      break;
    }
  return std::string(stem.empty() ? name : stem);
}

std::string output_name(std::string_view frame, std::string_view what) {
  return frame_stem(frame) + "." + std::string(what);
}

BatchRun::BatchRun(const BatchArgs& a, fs::path work, std::ostream& o, std::ostream& err)
    : args(a), out(o), work_(std::move(work)), err_(err) {}

fs::path BatchRun::output(std::string_view what) const { return work_ / output_name(args.frame, what); }

void BatchRun::problem(std::string_view line) {
  err_ << "zelvo run " << args.job << ": " << one_line(args.frame) << ": " << one_line(line) << '\n';
  ++problems_;
}

void BatchRun::lost_output(std::string_view line) {
  problem(line);
  outputs_lost_ = true;
}

std::optional<BatchArgs> parse_batch_args(std::span<const std::string> args, std::ostream& err) {
  const auto fail = [&](const std::string& line) -> std::optional<BatchArgs> {
    err << "zelvo run: " << one_line(line) << '\n';
    return std::nullopt;
  };
  if (args.empty()) return fail("which job? (zelvo run --help lists them)");
  BatchArgs a;
  a.job = args[0];
  const BatchJob* job = find_job(a.job);
  if (!job) return fail("no job named '" + a.job + "' (zelvo run --help lists them)");
  std::vector<std::string> positional;
  std::set<std::string> seen;
  bool options_end = false;
  std::optional<std::string> out;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_end || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    std::string name = arg, value;
    bool inline_value = false;
    if (const std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inline_value = true;
    }
    if (!seen.insert(name).second) return fail(name + " is given twice");
    if (name == "--force") {
      if (inline_value) return fail("--force takes no value");
      a.force = true;
      continue;
    }
    const bool known = name == "--out" || name == "--seed" ||
                       std::find(job->options.begin(), job->options.end(), name) != job->options.end();
    if (!known)
      return fail("the " + a.job + " job has no option '" + arg + "' (a name that starts with '-' goes after '--')");
    if (!inline_value) {
      if (i + 1 >= args.size()) return fail(name + " needs a value");
      value = args[++i];
    }
    if (name == "--out") {
      if (value.empty()) return fail("--out needs a folder name");
      out = value;
    } else if (name == "--seed") {
      const auto seed = parse_integer(value);
      if (!seed) return fail("--seed needs a whole number, not '" + value + "'");
      a.seed = *seed;
    } else {
      a.values[name] = value;
    }
  }
  if (positional.empty()) return fail("which frame? (zelvo run " + a.job + " FRAME ...)");
  if (positional.size() > 1)
    return fail("one frame per run, not " + std::to_string(positional.size()) + " (scripts/many_frames.sh runs many)");
  a.frame = positional[0];
  if (a.frame.empty()) return fail("the frame's name is empty");
  if (!out) return fail("--out DIR is needed: the folder the results go to");
  a.out = *out;
  for (std::string_view r : job->required)
    if (!a.value(r)) return fail("the " + a.job + " job needs " + std::string(r));
  return a;
}

int run_batch(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    print_usage(out);
    return 0;
  }
  const std::optional<BatchArgs> a = parse_batch_args(args, err);
  if (!a) return kJobRefused;
  const BatchJob* job = find_job(a->job);
  const std::string lead = "zelvo run " + a->job + ": ";
  const fs::path work = prepare_output(*a, out, err, lead);
  if (work.empty()) return kJobRefused;
  BatchRun run(*a, work, out, err);
  int status = 0;
  {
    const StopCleanup cleanup(work);
    status = job->run(run);
  }
  if (status == 0 && run.problems() > 0) status = kJobIncomplete;
  // A --force rerun that could do nothing would put its logs beside the results of the run
  // before it, which they do not describe: the earlier files stay together, the new ones go.
  if (status == kJobRefused && a->force && replaces_any(*a, work)) {
    remove_work_folder(work);
    err << lead << one_line(a->frame) << ": the earlier results in " << one_line(a->out.string())
        << " are kept as they were; this run's files are not kept\n";
    return status;
  }
  const std::size_t left = move_outputs(*a, work, err, lead);
  if (run.outputs_lost() || left > 0) status = kJobRefused;
  return status;
}

}  // namespace zelvo
