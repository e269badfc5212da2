#include "run_binary.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zarn_test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zarn-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> TempDir::list() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string data(const std::string& name) { return slurp(std::string(ZARN_TEST_DATA) + "/" + name); }

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void spill(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

RunResult run_zarn(const std::vector<std::string>& args, const std::string& cwd, const RunOptions& options) {
  // Standard input comes from a file; standard output and error go into pipes, which a file
  // size limit does not touch, read together so that neither can fill up and block.
  TempDir io;
  const std::string in_path = io / "stdin";
  spill(in_path, options.stdin_text);

  std::vector<char*> argv;
  std::string binary = ZARN_BINARY;
  argv.push_back(binary.data());
  std::vector<std::string> copies(args);
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out_pipe[2], err_pipe[2], in_pipe[2] = {-1, -1};
  if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
  const bool hang_up = !options.hang_up_after.empty();
  if (hang_up && ::pipe(in_pipe) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int in = hang_up ? in_pipe[0] : ::open(in_path.c_str(), O_RDONLY);
    if (hang_up) ::close(in_pipe[1]);
    if (in < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out_pipe[1], 1);
    ::dup2(err_pipe[1], 2);
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    if (options.close_stdout) ::close(1);
    if (!options.stdout_path.empty()) {
      const int fd = ::open(options.stdout_path.c_str(), O_WRONLY);
      if (fd >= 0) ::dup2(fd, 1);
    }
    // The signals as a shell leaves them: a file size limit kills by SIGXFSZ unless zarn
    // itself handles it.
    ::signal(SIGXFSZ, SIG_DFL);
    ::signal(SIGPIPE, SIG_DFL);
    const auto limit = [](int resource, long bytes) {
      if (bytes < 0) return;
      struct rlimit l;
      l.rlim_cur = l.rlim_max = static_cast<rlim_t>(bytes);
      ::setrlimit(resource, &l);
    };
    limit(RLIMIT_FSIZE, options.file_size_limit);
    limit(RLIMIT_AS, options.address_space_limit);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (hang_up) ::close(in_pipe[0]);
  RunResult result;
  struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_pipes = 2;
  char buffer[65536];
  while (open_pipes > 0) {
    if (::poll(fds, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
        if (i == 0 && hang_up && result.out.find(options.hang_up_after) != std::string::npos) {
          ::close(fds[0].fd);
          fds[0].fd = -1;
          --open_pipes;
          if (::write(in_pipe[1], options.stdin_text.data(), options.stdin_text.size()) < 0) {
          }
          ::close(in_pipe[1]);
          in_pipe[1] = -1;
        }
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_pipes;
      }
    }
  }
  if (in_pipe[1] >= 0) ::close(in_pipe[1]);  // the text never came: end of input
  int wstatus = 0;
  struct rusage usage {};
  while (::wait4(pid, &wstatus, 0, &usage) < 0) {
  }
  result.max_rss_kb = usage.ru_maxrss;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return result;
}

}  // namespace zarn_test
