// Append-only text logs and small input files of the working folder, opened without ever
// blocking on a FIFO or a device, with failures told to the user once.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace zelvo {

class Console;

// What a path names, for the one-line refusal of anything that is not a regular file:
// "a folder", "a FIFO", "a device", "a socket", or "" for a regular file.
std::string special_file_kind(unsigned mode);

// A text log opened for appending. A missing file is created (0666 less the umask); an
// existing one must be a regular file: a FIFO, a device or a folder is refused without
// blocking (checked before the open and again on the open descriptor). A refused open, a
// failed write or a failed flush gives one line on the console naming the log, with
// `consequence` ("the measurements are not logged"), at most once per log and session;
// later lines are then dropped and the work goes on.
class LogFile {
 public:
  LogFile();
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  bool open(const std::filesystem::path& path, Console& con, const std::string& consequence);
  // As open(), except that a refusal is not told but handed back, for the caller to tell
  // with Console::log_failure where its lines need it.
  struct Opening {
    bool opened = false;
    std::string refusal;  // not opened: why, and what follows from it
  };
  Opening open_untold(const std::filesystem::path& path, Console& con, const std::string& consequence);
  void close();
  // Open, and no write has failed yet.
  bool good() const;
  explicit operator bool() const { return good(); }
  bool is_open() const;
  // The lines go here (nowhere when the log is not open).
  std::ostream& stream() { return out_; }

 private:
  class Buffer;
  std::unique_ptr<Buffer> buf_;
  std::ostream out_;
};

// A small input file (the settings file, an object list) read whole.
struct SmallFile {
  enum class Status {
    read,         // `text` holds the file's bytes
    unreadable,   // missing, or it could not be opened or read
    not_regular,  // a FIFO, device or folder, never opened in a way that could block
  };
  Status status = Status::unreadable;
  std::string text;
  std::string refusal;  // not_regular: "Zelvo.ini is a FIFO, not a regular file"
  bool read() const { return status == Status::read; }
};
SmallFile read_small_file(const std::filesystem::path& path);

}  // namespace zelvo
