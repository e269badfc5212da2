// zarn: resamples sinusoidal partials on a uniform time grid with not-a-knot cubic splines.
//
// main parses the options and chooses the run: the help, --info, a batch, or the plan of
// steps (read, edit, grid, fit, list, save, extra writers) executed one partial at a time
// where it can be, else on every partial at once.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <string>

#include "app/batch.hpp"
#include "app/checks.hpp"
#include "app/help.hpp"
#include "app/options.hpp"
#include "app/plan.hpp"
#include "app/stream.hpp"
#include "formats/formats.hpp"
#include "io/output.hpp"
#include "io/tokens.hpp"
#include "model/failure.hpp"
#include "render/info.hpp"

#ifndef ZARN_VERSION
#define ZARN_VERSION "0.0.0"
#endif

namespace zarn {
namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;

// --info: reads the input and says what it holds, writing nothing; the options that save,
// edit or draw are warned of, since nothing is saved, edited or drawn.
int describe(const Options& options, Output& console) {
  warn_of_unused_with_info(options, console);
  const std::string name = input_name(options.input);
  InputCloser input{open_input(options.input)};
  if (input.fd < 0) throw system_failure(name, errno);
  const double step = options.step ? parse_time_step(*options.step) : kDefaultTimeStep;
  const PartialSet read = read_input(input.fd, name, options.read);
  if (!options.quiet) write_info(console, info_lines(name, read, info_of(read, step), step));
  return kOk;
}

// The run as the options choose its steps; `saved` tells whether the result was written whole.
int run(const Options& options, Output& console, bool& saved) {
  switch (options.mode) {
    case Options::Mode::kUsage:
      usage(console);
      return kFailed;
    case Options::Mode::kHelp:
      help(console);
      return kOk;
    case Options::Mode::kVersion:
      console.put("zarn " ZARN_VERSION "\n"
                  "License GPL-3.0-or-later <https://gnu.org/licenses/gpl.html>: you may change and share it;\n"
                  "there is no warranty.\n");
      return kOk;
    case Options::Mode::kRun:
      break;
  }
  if (options.info) return describe(options, console);
  check_before_reading(options, console);
  if (streams(options)) {  // nothing asked for needs every partial at once
    run_streaming(options, console, kNothingSaved, "zarn " ZARN_VERSION);
    saved = true;
    return kOk;
  }
  return run_whole(options, console, saved, "zarn " ZARN_VERSION);
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

namespace zarn {
namespace {

// One run of the options, every failure through the one reporter; standard output failing
// after the result was saved is reported (once), but the result stands: the status is 0
// exactly when everything asked for was written whole.
int run_reported(const Options& options, bool stdout_closed) {
  Output console(STDOUT_FILENO);
  int status = 1;
  bool saved = false;
  std::string reported;
  try {
    // A run that prints nothing on standard output (-q, every output a named file) needs none.
    if (stdout_closed && !(options.mode == Options::Mode::kRun && options.quiet && options.named_output() &&
                           !options.output_to_stdout() && options.wav != "-")) {
      report(console, stdout_failed(EBADF));
      return 1;
    }
    status = options.batch() ? run_batch(options, [](const Options& one) { return run_reported(one, false); }, console)
                             : run(options, console, saved);
  } catch (const Failure& failure) {
    report(console, failure.message);
    reported = failure.message;
  } catch (const std::bad_alloc&) {
    report(console, "zarn: out of memory\n");
  } catch (const std::exception& e) {
    report(console, compose(std::string("internal error: ") + e.what()));
  }
  if (!console.flush()) {
    const std::string message = stdout_failed(console.error());
    if (message != reported) report(console, message);
    if (!saved) status = 1;
  }
  return status;
}

}  // namespace
}  // namespace zarn

int main(int argc, char** argv) {
  // A write past the file size limit, or into a closed pipe, fails with EFBIG or EPIPE and
  // is reported like any other failed write, instead of killing the process part-way.
  ::signal(SIGXFSZ, SIG_IGN);
  ::signal(SIGPIPE, SIG_IGN);
  const bool stdout_closed = zarn::guard_standard_streams();
  zarn::Options options;
  try {
    options = zarn::parse_options(argc, argv);
  } catch (const zarn::Failure& failure) {
    zarn::Output console(STDOUT_FILENO);
    zarn::report(console, failure.message);
    return 1;
  } catch (const std::bad_alloc&) {
    zarn::Output console(STDOUT_FILENO);
    zarn::report(console, "zarn: out of memory\n");
    return 1;
  } catch (const std::exception& e) {
    zarn::Output console(STDOUT_FILENO);
    zarn::report(console, zarn::compose(std::string("internal error: ") + e.what()));
    return 1;
  }
  return zarn::run_reported(options, stdout_closed);
}
