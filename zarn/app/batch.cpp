#include "app/batch.hpp"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/checks.hpp"
#include "formats/formats.hpp"
#include "io/spool.hpp"
#include "model/failure.hpp"

namespace zarn {

namespace {

// The input's name without its folder, split at the dot of its ending (none for a name that
// starts with its only dot).
std::pair<std::string, std::string> stem_and_ending(const std::string& input) {
  const std::size_t slash = input.find_last_of('/');
  const std::string base = slash == std::string::npos ? input : input.substr(slash + 1);
  const std::size_t dot = base.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return {base, ""};
  return {base.substr(0, dot), base.substr(dot + 1)};
}

// The template with {name} and {ext} replaced in one pass, so that braces within the input's
// own name are never taken for the template's.
std::string filled(const std::string& pattern, const std::string& name, const std::string& ext) {
  std::string text;
  for (std::size_t at = 0; at < pattern.size();) {
    if (pattern.compare(at, 6, "{name}") == 0) {
      text += name, at += 6;
    } else if (pattern.compare(at, 5, "{ext}") == 0) {
      text += ext, at += 5;
    } else {
      text += pattern[at++];
    }
  }
  return text;
}

// The ending of a result in the batch's format, for a folder given as -o.
std::string result_ending(const Options& options) {
  if (options.format)
    for (const FormatRow& row : format_table())
      if (row.format == *options.format && !row.ending.empty()) return std::string(row.ending);
  return ".txt";
}

std::string duration(double seconds) {
  char text[32];
  const long s = static_cast<long>(seconds + 0.5);
  std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

}  // namespace

std::string output_name(const std::string& pattern, const std::string& input, std::string_view ending) {
  const auto [stem, ext] = stem_and_ending(input);
  if (!pattern.empty() && pattern.back() == '/') return pattern + stem + std::string(ending);
  return filled(pattern, stem, ext);
}

Options one_input(const Options& batch, const std::string& input) {
  Options o = outputs_named_for(batch, input);
  o.quiet = true;
  return o;
}

Options outputs_named_for(const Options& batch, const std::string& input) {
  Options o = batch;
  o.inputs.clear();
  o.input = input;
  o.output = output_name(batch.output, input, result_ending(batch));
  if (!o.plot.empty()) o.plot = output_name(batch.plot, input, ".svg");
  if (!o.wav.empty()) o.wav = output_name(batch.wav, input, ".wav");
  if (!o.f0.empty()) o.f0 = output_name(batch.f0, input, ".f0.txt");
  if (!o.residual.empty()) o.residual = output_name(batch.residual, input, ".residual.wav");
  return o;
}

void check_batch_names(const Options& batch) {
  std::map<std::string, std::string> writer;  // each output name, and the input it is for
  for (const std::string& input : batch.inputs) {
    const Options o = one_input(batch, input);
    for (const std::string* name : {&o.output, &o.plot, &o.wav, &o.f0, &o.residual}) {
      if (name->empty()) continue;
      const auto [at, fresh] = writer.emplace(*name, input);
      if (!fresh)
        throw failure(*name, at->second == input ? "is named for two outputs of " + input + "; nothing saved"
                                                 : "would be written for both " + at->second + " and " + input + "; nothing saved");
    }
  }
}

namespace {

// The runs of a batch under way, each in a process of its own with its standard error kept in
// a file until it ends; the progress on a terminal.
class Batch {
 public:
  Batch(const Options& options, const std::function<int(const Options&)>& one, Output& console)
      : options_(options), one_(one), console_(console), total_(options.inputs.size()),
        progress_(!options.quiet && ::isatty(STDERR_FILENO) == 1), began_(std::chrono::steady_clock::now()) {}

  int run() {
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    const std::size_t jobs = static_cast<std::size_t>(options_.jobs > 0 ? options_.jobs : std::max(1L, cores));
    console_.flush();
    while (next_ < total_ || !running_.empty()) {
      while (running_.size() < jobs && next_ < total_ && start_next()) {
      }
      if (running_.empty()) break;
      wait_for_one();
    }
    if (!shown_.empty()) show("");
    if (!options_.quiet) {
      // The inputs that failed, by name: the first few, and how many more.
      constexpr std::size_t kNamed = 5;
      std::string named;
      for (std::size_t k = 0; k < failed_inputs_.size() && k < kNamed; ++k) named += (k == 0 ? " (" : ", ") + failed_inputs_[k];
      if (failed_inputs_.size() > kNamed) named += " and " + std::to_string(failed_inputs_.size() - kNamed) + " more";
      if (!named.empty()) named += ")";
      char took[48];
      std::snprintf(took, sizeof took, ", in %.1f s", elapsed());
      report(console_, compose(std::to_string(total_) + " files: " + std::to_string(total_ - failed_) + " done, " + std::to_string(failed_) +
                               " failed" + named + took));
    }
    return failed_ == 0 ? 0 : 1;
  }

 private:
  struct Job {
    pid_t pid;
    std::size_t input;
    std::FILE* err;  // the run's standard error, said when it ends
  };

  // Starts the next input's run; false where it must wait for a run to end first.
  bool start_next() {
    const std::size_t i = next_++;
    std::string folder;
    const int fd = unnamed_temporary_file(folder);  // in TMPDIR's folder, as every spool
    std::FILE* err = fd < 0 ? nullptr : ::fdopen(fd, "w+");
    if (err == nullptr && fd >= 0) ::close(fd);
    const pid_t parent = ::getpid();
    const pid_t pid = err == nullptr ? -1 : ::fork();
    if (pid == 0) {
      // A run outlives no batch: it ends with its parent, however the parent ends.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) std::_Exit(1);
      ::dup2(::fileno(err), STDERR_FILENO);
      std::_Exit(one_(one_input(options_, options_.inputs[i])));
    }
    if (pid < 0) {
      const int error = errno;
      if (err != nullptr) std::fclose(err);
      // Out of processes or files for now: the input waits until a run ends and gives some back.
      if (!running_.empty() && (error == EAGAIN || error == EMFILE || error == ENFILE || error == ENOMEM)) {
        --next_;
        return false;
      }
      say(compose(options_.inputs[i], std::string("cannot start its run: ") + std::strerror(error)));
      failed_inputs_.push_back(options_.inputs[i]);
      ++failed_, ++done_;
      return true;
    }
    running_.push_back({pid, i, err});
    update(options_.inputs[i]);
    return true;
  }

  // Waits for a run to end and says how it ended.
  void wait_for_one() {
    int status = 0;
    const pid_t pid = ::waitpid(-1, &status, 0);
    if (pid < 0) {
      if (errno == EINTR) return;
      // The runs can no longer be waited for: each still running is said to be not known done.
      const std::string why = std::strerror(errno);
      for (const Job& j : running_) {
        say(compose(options_.inputs[j.input], "whether its run ended well cannot be learned: " + why));
        failed_inputs_.push_back(options_.inputs[j.input]);
        std::fclose(j.err);
        ++failed_, ++done_;
      }
      running_.clear();
      return;
    }
    const auto job = std::find_if(running_.begin(), running_.end(), [&](const Job& j) { return j.pid == pid; });
    if (job == running_.end()) return;
    std::string said;
    std::rewind(job->err);
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, job->err)) > 0;) said.append(buffer, got);
    std::fclose(job->err);
    const std::string& input = options_.inputs[job->input];
    if (!said.empty()) say(said);
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    // A failure that names only an output (one that exists, a full disk) is followed by the
    // input it was for.
    if (!ok && WIFSIGNALED(status)) say(compose(input, "its run ended by signal " + std::to_string(WTERMSIG(status))));
    else if (!ok && said.find(input) == std::string::npos) say(compose(input, "not done"));
    if (!ok) failed_inputs_.push_back(input);
    failed_ += ok ? 0 : 1;
    ++done_;
    running_.erase(job);
    update(running_.empty() ? std::string() : options_.inputs[running_.back().input]);
  }

  double elapsed() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count(); }

  // The progress line on a terminal.
  void show(const std::string& line) {
    if (!progress_) return;
    const std::string text = "\r" + line + "\033[K";
    if (::write(STDERR_FILENO, text.data(), text.size()) < 0) return;
    shown_ = line;
  }
  void say(const std::string& message) {
    if (!shown_.empty()) show("");
    report(console_, message);
  }
  void update(const std::string& current) {
    std::string line = "[" + std::to_string(done_) + "/" + std::to_string(total_) + "] " + current;
    if (done_ > 0) line += "  " + duration(elapsed() / static_cast<double>(done_) * static_cast<double>(total_ - done_)) + " left";
    show(line);
  }

  const Options& options_;
  const std::function<int(const Options&)>& one_;
  Output& console_;
  std::size_t total_;
  bool progress_;
  std::chrono::steady_clock::time_point began_;
  std::vector<Job> running_;
  std::size_t next_ = 0, done_ = 0, failed_ = 0;
  std::vector<std::string> failed_inputs_;  // in the order they failed
  std::string shown_;  // the progress line on the terminal
};

}  // namespace

int run_batch(const Options& options, const std::function<int(const Options&)>& one, Output& console) {
  check_batch_names(options);
  // A caller that ignores SIGCHLD (trap '' CHLD, inherited) has the runs reaped unseen, and
  // waitpid would find none of them: the default is taken back while the batch runs.
  struct sigaction default_action {}, caller_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  ::sigaction(SIGCHLD, &default_action, &caller_action);
  struct Restore {
    struct sigaction action;
    ~Restore() { ::sigaction(SIGCHLD, &action, nullptr); }
  } restore{caller_action};
  return Batch(options, one, console).run();
}

}  // namespace zarn
