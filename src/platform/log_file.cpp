#include "platform/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <streambuf>
#include <vector>

#include "platform/console.h"

namespace zelvo {

std::string special_file_kind(unsigned mode) {
  if (S_ISREG(mode)) return "";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a plain file";
}

namespace {
std::string not_regular_line(const std::string& name, const std::string& kind) {
  return name + " is " + kind + ", not a regular file";
}
}  // namespace

// Lines are kept until a newline or flush and then written with write(2), so that a full
// disk or an I/O error is seen at once and reported.
class LogFile::Buffer : public std::streambuf {
 public:
  Buffer(int fd, std::string name, Console& con, std::string consequence)
      : fd_(fd), name_(std::move(name)), con_(con), consequence_(std::move(consequence)) {}
  ~Buffer() override {
    flush_all();
    ::close(fd_);
  }
  bool failed() const { return failed_; }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    pending_.push_back(traits_type::to_char_type(c));
    if (pending_.size() >= kChunk) flush_all();
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    pending_.insert(pending_.end(), s, s + n);
    if (pending_.size() >= kChunk) flush_all();
    return n;
  }
  int sync() override {
    flush_all();
    return 0;  // a failure is reported, never turned into a stream error the callers would trip on
  }

 private:
  static constexpr std::size_t kChunk = 8192;

  void flush_all() {
    if (failed_) {
      pending_.clear();
      return;
    }
    std::size_t done = 0;
    while (done < pending_.size()) {
      const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        const int err = n < 0 ? errno : ENOSPC;
        failed_ = true;
        con_.log_failure(name_, name_ + " could not be written (" + std::strerror(err) + "); " + consequence_ + ".");
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    pending_.clear();
  }

  int fd_;
  std::string name_;
  Console& con_;
  std::string consequence_;
  std::vector<char> pending_;
  bool failed_ = false;
};

LogFile::LogFile() : out_(nullptr) {}
LogFile::~LogFile() { close(); }

bool LogFile::open(const std::filesystem::path& path, Console& con, const std::string& consequence) {
  const Opening o = open_untold(path, con, consequence);
  if (!o.opened) con.log_failure(path.filename().string(), o.refusal);
  return o.opened;
}

LogFile::Opening LogFile::open_untold(const std::filesystem::path& path, Console& con, const std::string& consequence) {
  close();
  const std::string name = path.filename().string();
  const auto refuse = [&](const std::string& why) { return Opening{false, why + "; " + consequence + "."}; };
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    return refuse(not_regular_line(name, special_file_kind(st.st_mode)));
  // O_NONBLOCK: a FIFO swapped in after the check cannot stall the open (no reader: ENXIO).
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == ENXIO) return refuse(not_regular_line(name, "a FIFO"));
    return refuse(name + " cannot be opened for appending (" + std::strerror(errno) + ")");
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return refuse(not_regular_line(name, special_file_kind(st.st_mode)));
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  buf_ = std::make_unique<Buffer>(fd, name, con, consequence);
  out_.rdbuf(buf_.get());
  out_.clear();
  return Opening{true, {}};
}

void LogFile::close() {
  out_.rdbuf(nullptr);
  buf_.reset();
}

bool LogFile::is_open() const { return buf_ != nullptr; }
bool LogFile::good() const { return buf_ != nullptr && !buf_->failed(); }

SmallFile read_small_file(const std::filesystem::path& path) {
  SmallFile file;
  const std::string name = path.filename().string();
  const auto refuse = [&](mode_t mode) {
    file.status = SmallFile::Status::not_regular;
    file.refusal = not_regular_line(name, special_file_kind(mode));
    return file;
  };
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return file;
  if (!S_ISREG(st.st_mode)) return refuse(st.st_mode);
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return file;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return refuse(st.st_mode);
  }
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      file.text.clear();
      return file;
    }
    if (n == 0) break;
    file.text.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  file.status = SmallFile::Status::read;
  return file;
}

}  // namespace zelvo
