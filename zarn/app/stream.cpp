#include "app/stream.hpp"

#include <unistd.h>

#include <cerrno>
#include <optional>

#include "app/checks.hpp"
#include "edit/edits.hpp"
#include "fit/resample.hpp"
#include "formats/formats.hpp"
#include "formats/partial_file.hpp"
#include "io/save.hpp"
#include "model/failure.hpp"

namespace zarn {

bool streams(const Options& options) {
  return options.mode == Options::Mode::kRun && !options.info && !options.batch() && options.quiet && options.named_output() &&
         !options.output_to_stdout() && options.result_format() == Format::kList && !options.aligned_grid() && !options.whole &&
         options.plot.empty() && options.wav.empty() && options.f0.empty() && options.morph_with.empty() &&
         chosen_edits(options.edits, input_name(options.input)).empty();
}

namespace {

// Lays each partial's own grid, fits it and writes it to the list as it comes. A failure of a
// partial's grid or figures is kept, and thrown once the input is read to its end, so that a
// fault of the input itself, further on, is the one reported, as when every partial is read
// first; of the two, the grid's comes first, as it is counted before anything is fitted.
class ListStream final : public PartialSink {
 public:
  ListStream(Output& out, Output& console, double step, Fit fit, const std::string& name)
      : out_(out), console_(console), step_(step), fit_(fit), name_(name) {
    plan_.step = step;
    plan_.points.assign(1, 0);
  }

  void start(const PartialSet& input, int count) override {
    places_.places = input.places;
    if (count == 0 && !input.passed_over.empty()) report(console_, compose_warning(name_ + ": no partials read: " + input.passed_over));
    write_list_start(out_, count);
  }

  void take(Partial& part, int p) override {
    if (grid_failure_) return;  // read on, for the input's own faults
    try {
      plan_.points[0] = grid_points(part, step_, places_, name_);
    } catch (const Failure& f) {
      grid_failure_ = f;
      return;
    }
    part_.time.clear(), part_.freq.clear(), part_.amp.clear();
    lay_and_fit(plan_, 0, breakpoints_of(part), part.origin, fit_, part_);
    const auto index = static_cast<std::size_t>(p);
    if (!figure_failure_) {
      try {
        check_list_partial(part_, index);
      } catch (const Failure& f) {
        figure_failure_ = f;
      }
    }
    if (!repeated_) {
      RepeatedTime at;
      if (repeated_time(part_, index, at)) repeated_ = at;
    }
    write_list_partial(out_, part_);
  }

  // The end of the list, or the failure kept.
  void finish() {
    if (grid_failure_) throw *grid_failure_;
    if (figure_failure_) throw *figure_failure_;
    write_list_end(out_);
  }

  const std::optional<RepeatedTime>& repeated() const { return repeated_; }

 private:
  Output& out_;
  Output& console_;
  double step_;
  Fit fit_;
  const std::string& name_;
  PartialSet places_;  // what a partial's place counts, for messages
  GridPlan plan_;      // of the partial at hand
  Resampled part_;     // its grid and fit, its memory used again for the next
  std::optional<Failure> grid_failure_, figure_failure_;
  std::optional<RepeatedTime> repeated_;
};

}  // namespace

void run_streaming(const Options& options, Output& console, const std::string& nothing_saved) {
  const std::string name = input_name(options.input);
  const int fd = open_input(options.input);
  if (fd < 0) throw system_failure(name, errno);
  struct Closer {
    int fd;
    ~Closer() {
      if (fd > STDERR_FILENO) ::close(fd);
    }
  } closer{fd};
  const double step = options.step ? parse_time_step(*options.step) : kDefaultTimeStep;
  std::optional<RepeatedTime> repeated;
  save_as(options.output, options.force, through_output([&](Output& out) {
            ListStream stream(out, console, step, options.fit, name);
            read_input_each(fd, name, options.read, stream);
            stream.finish();
            repeated = stream.repeated();
          }),
          nothing_saved);
  if (repeated) warn_of_repeated_time(*repeated, console);
}

}  // namespace zarn
