#include "app/batch.hpp"

#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>

#include "app/checks.hpp"
#include "formats/formats.hpp"
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

std::string replaced(std::string text, std::string_view what, const std::string& with) {
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
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
  return replaced(replaced(pattern, "{name}", stem), "{ext}", ext);
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
  return o;
}

void check_batch_names(const Options& batch) {
  std::map<std::string, std::string> writer;  // each output name, and the input it is for
  for (const std::string& input : batch.inputs) {
    const Options o = one_input(batch, input);
    for (const std::string* name : {&o.output, &o.plot, &o.wav, &o.f0}) {
      if (name->empty()) continue;
      const auto [at, fresh] = writer.emplace(*name, input);
      if (!fresh)
        throw failure(*name, at->second == input ? "is named for two outputs of " + input + "; nothing saved"
                                                 : "would be written for both " + at->second + " and " + input + "; nothing saved");
    }
  }
}

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
  const std::size_t total = options.inputs.size();
  const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
  const std::size_t jobs = static_cast<std::size_t>(options.jobs > 0 ? options.jobs : std::max(1L, cores));
  const bool progress = !options.quiet && ::isatty(STDERR_FILENO) == 1;
  const auto began = std::chrono::steady_clock::now();
  const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(); };
  struct Job {
    pid_t pid;
    std::size_t input;
    std::FILE* err;  // the run's standard error, said when it ends
  };
  std::vector<Job> running;
  std::size_t next = 0, done = 0, failed = 0;
  std::string shown;  // the progress line on the terminal
  const auto show = [&](const std::string& line) {
    if (!progress) return;
    const std::string text = "\r" + line + "\033[K";
    if (::write(STDERR_FILENO, text.data(), text.size()) < 0) return;
    shown = line;
  };
  const auto say = [&](const std::string& message) {
    if (!shown.empty()) show("");
    report(console, message);
  };
  const auto update = [&](const std::string& current) {
    std::string line = "[" + std::to_string(done) + "/" + std::to_string(total) + "] " + current;
    if (done > 0) line += "  " + duration(elapsed() / static_cast<double>(done) * static_cast<double>(total - done)) + " left";
    show(line);
  };
  console.flush();
  while (next < total || !running.empty()) {
    while (running.size() < jobs && next < total) {
      const std::size_t i = next++;
      std::FILE* err = std::tmpfile();
      const pid_t pid = err == nullptr ? -1 : ::fork();
      if (pid == 0) {
        ::dup2(::fileno(err), STDERR_FILENO);
        std::_Exit(one(one_input(options, options.inputs[i])));
      }
      if (pid < 0) {
        const int error = errno;
        if (err != nullptr) std::fclose(err);
        // Out of processes or files for now: the input waits until a run ends and gives some back.
        if (!running.empty() && (error == EAGAIN || error == EMFILE || error == ENFILE || error == ENOMEM)) {
          --next;
          break;
        }
        say(compose(options.inputs[i], std::string("cannot start its run: ") + std::strerror(error)));
        ++failed, ++done;
        continue;
      }
      running.push_back({pid, i, err});
      update(options.inputs[i]);
    }
    if (running.empty()) break;
    int status = 0;
    const pid_t pid = ::waitpid(-1, &status, 0);
    if (pid < 0) {
      if (errno == EINTR) continue;
      // The runs can no longer be waited for: each still running is said to be not known done.
      const std::string why = std::strerror(errno);
      for (const Job& j : running) {
        say(compose(options.inputs[j.input], "whether its run ended well cannot be learned: " + why));
        std::fclose(j.err);
        ++failed, ++done;
      }
      running.clear();
      break;
    }
    const auto job = std::find_if(running.begin(), running.end(), [&](const Job& j) { return j.pid == pid; });
    if (job == running.end()) continue;
    std::string said;
    std::rewind(job->err);
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, job->err)) > 0;) said.append(buffer, got);
    std::fclose(job->err);
    const std::string& input = options.inputs[job->input];
    if (!said.empty()) say(said);
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok && WIFSIGNALED(status)) say(compose(input, "its run ended by signal " + std::to_string(WTERMSIG(status))));
    else if (!ok && said.empty()) say(compose(input, "not done"));
    failed += ok ? 0 : 1;
    ++done;
    running.erase(job);
    update(running.empty() ? std::string() : options.inputs[running.back().input]);
  }
  if (!shown.empty()) show("");
  if (!options.quiet) {
    char summary[160];
    std::snprintf(summary, sizeof summary, "%zu files: %zu done, %zu failed, in %.1f s", total, total - failed, failed, elapsed());
    report(console, compose(summary));
  }
  return failed == 0 ? 0 : 1;
}

}  // namespace zarn
