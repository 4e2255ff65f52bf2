#include "support/isolated_run.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <streambuf>

#include "session/loop.h"

namespace zelvo::testing {

namespace {

// Keeps the first `cap` characters written and counts the rest.
class CappedBuffer : public std::streambuf {
 public:
  explicit CappedBuffer(std::size_t cap) : cap_(cap) {}
  const std::string& text() const { return text_; }
  bool overflowed() const { return dropped_ > 0; }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (text_.size() < cap_) {
      text_.push_back(traits_type::to_char_type(c));
    } else {
      ++dropped_;
    }
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    for (std::streamsize i = 0; i < n; ++i) overflow(traits_type::to_int_type(s[i]));
    return n;
  }

 private:
  std::size_t cap_;
  std::string text_;
  std::size_t dropped_ = 0;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

bool IsolatedRun::ended_well() const {
  return exited && exit_code == 0 && !output_capped && err.find("runtime error") == std::string::npos &&
         err.find("Sanitizer") == std::string::npos;
}

bool IsolatedRun::clean() const { return ended_well() && out.find("Thank you for using Zelvo.") != std::string::npos; }

std::string IsolatedRun::verdict() const {
  if (timed_out) return "the session did not end within its time (a hang)";
  if (!exited) return "the session was killed by signal " + std::to_string(signal);
  if (exit_code != 0)
    return "the session exited with status " + std::to_string(exit_code) + ":\n" + err.substr(0, 4000);
  if (output_capped) return "the session printed without end";
  if (err.find("runtime error") != std::string::npos || err.find("Sanitizer") != std::string::npos)
    return "sanitizer report:\n" + err.substr(0, 4000);
  if (out.find("Thank you for using Zelvo.") == std::string::npos) return "the closing lines are missing";
  return "clean";
}

IsolatedRun run_isolated_call(const ScratchFolder& dir, const std::function<std::string()>& body, unsigned seconds) {
  const std::string out_file = dir.file(".isolated-out"), err_file = dir.file(".isolated-err"),
                    flag_file = dir.file(".isolated-capped");
  std::remove(flag_file.c_str());
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    // The child: a fresh standard error for sanitizer reports, a time limit, the body.
    const int fd = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
      ::dup2(fd, STDERR_FILENO);
      ::close(fd);
    }
    std::signal(SIGALRM, SIG_DFL);
    ::alarm(seconds);
    std::filesystem::current_path(dir.path());
    // Nothing may leave the child but through _exit: an exception would run the rest of the
    // test program in this copy of it.
    std::string text;
    try {
      text = body();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "uncaught exception: %s\n", e.what());
      std::fflush(nullptr);
      ::_exit(3);
    } catch (...) {
      std::fprintf(stderr, "uncaught exception\n");
      std::fflush(nullptr);
      ::_exit(3);
    }
    {
      std::ofstream o(out_file, std::ios::binary | std::ios::trunc);
      o << text;
    }
    std::fflush(nullptr);
    ::_exit(0);
  }
  IsolatedRun run;
  int wstatus = 0;
  if (pid < 0 || ::waitpid(pid, &wstatus, 0) != pid) {
    run.err = "fork or wait failed";
    return run;
  }
  run.exited = WIFEXITED(wstatus);
  if (run.exited) run.exit_code = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) {
    run.signal = WTERMSIG(wstatus);
    run.timed_out = run.signal == SIGALRM;
  }
  run.out = slurp(out_file);
  run.err = slurp(err_file);
  run.output_capped = dir.exists(".isolated-capped");
  std::remove(out_file.c_str());
  std::remove(err_file.c_str());
  std::remove(flag_file.c_str());
  return run;
}

IsolatedRun run_isolated(const ScratchFolder& dir, const std::vector<std::string>& lines, unsigned seconds,
                         std::size_t max_output) {
  if (!dir.exists("Zelvo.ini")) dir.write("Zelvo.ini", "2\n0\n");
  const std::string flag_file = dir.file(".isolated-capped");
  return run_isolated_call(
      dir,
      [&]() -> std::string {
        std::string script;
        for (const auto& l : lines) script += l + "\n";
        std::istringstream in(script);
        CappedBuffer buffer(max_output);
        std::ostream out(&buffer);
        ProgramOptions opt;
        opt.device = "/null";
        opt.seed = 12345;
        const int status = run_zelvo(opt, in, out, false);
        if (buffer.overflowed()) std::ofstream(flag_file) << "capped\n";
        if (status != 0) {
          std::fflush(nullptr);
          ::_exit(status);
        }
        return buffer.text();
      },
      seconds);
}

}  // namespace zelvo::testing
