// zarn: resamples sinusoidal partials on a uniform time grid with not-a-knot cubic splines.
//
// The run: banner, read the partial list, lay the grid, list every resampled breakpoint on
// standard output, ask for an output file name and save the result in the same format.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "failure.hpp"
#include "partial_file.hpp"
#include "resample.hpp"
#include "text_io.hpp"

#ifndef ZARN_VERSION
#define ZARN_VERSION "0.0.0"
#endif

namespace zarn {
namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;

enum class Mode { kUsage, kHelp, kVersion, kRun };

struct Args {
  Mode mode = Mode::kUsage;
  std::string path;                // the partial list to read
  const char* step_text = nullptr; // the step as typed, checked once the input is open
};

Args parse_args(int argc, char** argv) {
  Args args;
  if (argc < 2) return args;
  const std::string_view first = argv[1];
  if (first == "--help" || first == "-h") {
    args.mode = Mode::kHelp;
  } else if (first == "--version") {
    args.mode = Mode::kVersion;
  } else {
    args.mode = Mode::kRun;
    args.path = argv[1];
    if (argc > 2) args.step_text = argv[2];  // later arguments are ignored
  }
  return args;
}

void usage(Output& out) {
  out.put("USAGE:\n");
  out.put("      zarn <infile> <dur>\n");
  out.put("           <infile> is in LISP IRCAM format\n");
  out.put("           <dur> = time spacing between resampled breakpoints\n");
}

void help(Output& out) {
  usage(out);
  out.put(
      "\n"
      "zarn lists every resampled breakpoint (time --> frequency, linear amplitude), then asks\n"
      "for the name of the output file on standard input. A name that already exists is refused\n"
      "and asked for again; nothing is ever overwritten. The result is written in the same\n"
      "format as the input, with levels in decibels. <dur> defaults to 0.05.\n"
      "\n"
      "Scripted use:\n"
      "      echo out.txt | zarn analysis.txt 0.01\n"
      "\n"
      "Exit status:\n"
      "      0  the result was saved (or --help, --version)\n"
      "      1  anything else: no arguments, unreadable or malformed input, a bad time step,\n"
      "         no output name, an output file that could not be created or written\n");
}

// The one reporter of failures: what was printed so far goes out first, then the message.
// It allocates nothing, since it also reports running out of memory.
int report(Output& out, std::string_view message) {
  out.flush();
  write_all(STDERR_FILENO, message.data(), message.size());
  return kFailed;
}

Failure stdout_failure(int error) {
  return Failure(std::string("zarn: cannot write standard output: ") + std::strerror(error) + "\n");
}

// Flushes standard output before the user is asked anything; a console we cannot write to
// ends the run.
void flush_console(Output& out) {
  if (!out.flush()) throw stdout_failure(out.error());
}

// Reads one whitespace-separated word from standard input; false at end of input.
bool read_word(std::string& word) {
  word.clear();
  int c;
  do {
    c = std::getchar();
    if (c == EOF) return false;
  } while (c == ' ' || (c >= '\t' && c <= '\r'));
  do {
    word += static_cast<char>(c);
    c = std::getchar();
  } while (c != EOF && c != ' ' && !(c >= '\t' && c <= '\r'));
  return true;
}

void say_with_name(Output& out, const char* before, const std::string& name, const char* after) {
  out.put(before);
  out.put(name);
  out.put(after);
}

enum class Saved { kWritten, kExists, kCannotCreate, kCannotWrite };

// Creates `name` exclusively and writes the set into it; a file that could not be written
// whole is removed again.
Saved create_and_write(const std::string& name, const PartialSet& set) {
  // O_EXCL: an existing path of any kind, a dangling link included, is never opened.
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? Saved::kExists : Saved::kCannotCreate;
  bool written = false;
  try {
    Output file(fd);
    write_partials(file, set);
    written = file.flush();
  } catch (...) {
    ::close(fd);
    ::unlink(name.c_str());
    throw;
  }
  if (::close(fd) != 0) written = false;
  if (written) return Saved::kWritten;
  ::unlink(name.c_str());  // never leave a partly written file
  return Saved::kCannotWrite;
}

// Asks for a name until one is new, then saves the resampled set under it. True when the
// whole file was written and closed.
bool save_result(const PartialSet& set, Output& out) {
  std::string name;
  for (;;) {
    out.put("Enter file name: \n");
    out.put("                 ");  // 17 spaces
    flush_console(out);
    if (!read_word(name)) throw Failure("zarn: no output file name given; nothing saved\n");
    if (name.find('\0') != std::string::npos)
      throw Failure("zarn: the output file name holds a NUL byte; nothing saved\n");
    switch (create_and_write(name, set)) {
      case Saved::kWritten:
        out.put("Hello, World!\n");
        return true;
      case Saved::kExists:
        say_with_name(out, "File ", name, " exists\n");
        continue;
      case Saved::kCannotCreate:
        say_with_name(out, "Cannot create file ", name, "\n");
        return false;
      case Saved::kCannotWrite:
        say_with_name(out, "Cannot write file ", name, "\n");
        return false;
    }
  }
}

// Closes a file descriptor when the scope ends.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

// Runs what the arguments ask for; `saved` tells whether a result file was written whole.
int run(const Args& args, Output& out, bool& saved) {
  switch (args.mode) {
    case Mode::kUsage:
      usage(out);
      return kFailed;
    case Mode::kHelp:
      help(out);
      return kOk;
    case Mode::kVersion:
      out.put("zarn " ZARN_VERSION "\n");
      return kOk;
    case Mode::kRun:
      break;
  }
  out.put("============= KV ==============\n");
  FdCloser input{::open(args.path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (input.fd < 0) {
    say_with_name(out, "File ", args.path, " not found\n");
    return kFailed;
  }
  const double step = args.step_text != nullptr ? parse_time_step(args.step_text) : kDefaultTimeStep;
  PartialSet set;
  {
    Input in(input.fd, args.path);
    set = read_partials(in);
  }
  ::close(input.fd);
  input.fd = -1;

  lay_grid(set, step, args.path);
  for (const Partial& part : set.partials) {
    out.put("Len2: ");
    out.put_int(part.N());
    out.put(" points\n");
  }
  out.put('\n');

  for (Partial& part : set.partials) {
    resample_partial(part);
    for (std::size_t k = 0; k < part.rtime.size(); ++k) {  // "%lf --> %lf\t%lf\n"
      out.put_fixed(part.rtime[k], 6);
      out.put(" --> ");
      out.put_fixed(part.rfreq[k], 6);
      out.put('\t');
      out.put_fixed(part.ramp[k], 6);
      out.put('\n');
    }
    out.put('\n');
  }
  flush_console(out);
  saved = save_result(set, out);
  return saved ? kOk : kFailed;
}

// A closed standard stream would hand its number to the next file opened, and text meant
// for the console could end up in a file: fills such gaps with /dev/null. True if standard
// output was closed (output to it would be lost).
bool guard_standard_streams() {
  bool stdout_closed = false;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0) continue;
    if (fd == STDOUT_FILENO) stdout_closed = true;
    if (::open("/dev/null", O_RDWR) != fd) std::_Exit(kFailed);
  }
  return stdout_closed;
}

}  // namespace
}  // namespace zarn

int main(int argc, char** argv) {
  // A write past the file size limit, or into a closed pipe, fails with EFBIG or EPIPE and
  // is reported like any other failed write, instead of killing the process part-way.
  ::signal(SIGXFSZ, SIG_IGN);
  ::signal(SIGPIPE, SIG_IGN);
  const bool stdout_closed = zarn::guard_standard_streams();
  zarn::Output out(STDOUT_FILENO);
  if (stdout_closed) return zarn::report(out, zarn::stdout_failure(EBADF).message);
  int status;
  bool saved = false;
  try {
    status = zarn::run(zarn::parse_args(argc, argv), out, saved);
  } catch (const zarn::Failure& failure) {
    status = zarn::report(out, failure.message);
  } catch (const std::bad_alloc&) {
    status = zarn::report(out, std::string_view("zarn: out of memory\n"));
  }
  // Standard output failing after the result was saved is reported, but the result stands:
  // the status is 0 exactly when the file was written whole.
  if (!out.flush()) {
    const int failed = zarn::report(out, zarn::stdout_failure(out.error()).message);
    if (!saved) status = failed;
  }
  return status;
}
