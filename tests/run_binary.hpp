// Runs the built zarn binary with given arguments and standard input, in a directory of its own.
#pragma once

#include <string>
#include <vector>

namespace zarn_test {

/// What every run prints first.
inline const std::string kBanner = "============= KV ==============\n";
/// The save dialogue's prompt, 17 spaces included.
inline const std::string kPrompt = "Enter file name: \n                 ";

/// A file of tests/data.
std::string data(const std::string& name);

/// True if anything, even a dangling link, stands at `path`.
bool exists(const std::string& path);

/// What a run of the binary printed and how it ended.
struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;  // standard output
  std::string err;  // standard error
  long max_rss_kb = 0;  // peak resident memory
};

/// Options for a run.
struct RunOptions {
  std::string stdin_text;      // fed on standard input (then end of input)
  long file_size_limit = -1;   // RLIMIT_FSIZE in bytes, SIGXFSZ left at its default; -1 for none
  long address_space_limit = -1;  // RLIMIT_AS in bytes; -1 for none
  bool close_stdout = false;   // start with standard output closed
  std::string stdout_path = {};  // if set, standard output is this file (such as /dev/full)
  // If set, standard input is a pipe: once standard output has shown this text, its reader
  // goes away (as `| head` does), and only then is stdin_text sent.
  std::string hang_up_after = {};
};

/// A fresh temporary directory, removed with everything in it when this goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  /// The directory's path.
  const std::string& path() const { return path_; }
  /// path()/name.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  /// The names in the directory, sorted.
  std::vector<std::string> list() const;

 private:
  std::string path_;
};

/// Runs ZARN_BINARY with `args` in directory `cwd`.
RunResult run_zarn(const std::vector<std::string>& args, const std::string& cwd, const RunOptions& options = {});

/// The whole content of a file ("" if it cannot be read).
std::string slurp(const std::string& path);

/// Writes a file, replacing it.
void spill(const std::string& path, const std::string& content);

}  // namespace zarn_test
