#include "app/stream.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "app/checks.hpp"
#include "edit/edits.hpp"
#include "fit/resample.hpp"
#include "formats/formats.hpp"
#include "io/room.hpp"
#include "io/save.hpp"
#include "io/spool.hpp"
#include "model/failure.hpp"
#include "model/memory.hpp"
#include "render/outputs.hpp"
#include "render/sound.hpp"
#include "render/sound_file.hpp"

namespace zarn {

namespace {

// What the reader passed over where it read nothing, and what it read past.
void warn_of_reading(const PartialSet& input, int count, const std::string& name, Output& console) {
  if (count == 0 && !input.passed_over.empty()) report(console, compose_warning(name + ": no partials read: " + input.passed_over));
  if (!input.damaged.empty()) report(console, compose_warning(name + " " + input.damaged));
}

// One partial's grid at a time, as plan_grid counts and lay_and_fit lays it, checked as
// plan_grid checks every grid: the memory of the grid at hand (the one held), and the disk
// room of every grid so far (all of them written).
class PartialGrid {
 public:
  PartialGrid(GridKind kind, double step, const std::string& name, const Options& options, bool frames_set_aside)
      : kind_(kind), name_(name), options_(options), room_(result_room(options)),
        frames_(frames_set_aside), sound_(!options.wav.empty()),
        spool_room_(temporary_folder(), frames_ || sound_ ? room_in(temporary_folder()) : 0) {
    plan_.step = step;
    plan_.aligned = kind == GridKind::kAligned;
    plan_.points.assign(1, 0);
    plan_.first_k.assign(1, 0);
  }
  void set_places(PartialSet::Places places) { places_.places = places; }

  /// Counts the partial's grid and checks it for `fit`; throws Failure as plan_grid does.
  void count(const Partial& part, Fit fit) {
    const double step = plan_.step;
    plan_.points[0] = kind_ == GridKind::kAligned ? aligned_points(part, step, plan_.first_k[0], places_, name_)
                      : kind_ == GridKind::kWhole ? whole_points(part, step, places_, name_)
                                                  : grid_points(part, step, places_, name_);
    check_spacing(part, fit, places_, name_);
    const double points = plan_.points[0];
    memory_.check(points * 3 * sizeof(double), "the grid");
    take_room(room_, options_, points);
    // A file written once every partial is in (SDIF's frames) has their points wait on disk, a
    // frequency and an amplitude each; the sound's, a time besides; and a phase each where the
    // partial has them.
    const int phase = has_phase(part) ? 1 : 0;
    const int set_aside = (frames_ ? 2 + phase : 0) + (sound_ ? 3 + phase : 0);
    if (set_aside > 0) spool_room_.take(points * set_aside * sizeof(double), "the points set aside");
  }
  int points() const { return plan_.points[0]; }
  /// Checks the disk room of a grid planned whole (plan_grid checked its memory).
  void take_room_of(const GridPlan& plan) {
    double points = 0;
    for (int n : plan.points) points += n;
    take_room(room_, options_, points);
  }
  long long first_k() const { return plan_.first_k[0]; }

  /// Lays the grid counted last and fits the partial on it, into `out` (its memory used again).
  void fit(const Partial& part, Fit fit, Resampled& out) const {
    out.time.clear(), out.freq.clear(), out.amp.clear();
    lay_and_fit(plan_, 0, breakpoints_of(part), part.origin, fit, out);
  }

 private:
  GridKind kind_;
  const std::string& name_;
  const Options& options_;
  MemoryCheck memory_;
  Room room_;
  bool frames_, sound_;  // points are set aside on disk for the result's frames, for the sound
  Room spool_room_;  // in the temporary folder, for the points set aside
  PartialSet places_;  // what a partial's place counts, for messages
  GridPlan plan_;
};

// The sound asked for beside the result: each partial set aside in a spool as it is fitted,
// and the sound made from them, a partial fetched as it starts, once the result is saved.
class SoundBeside {
 public:
  SoundBeside(const Options& options, double step) : options_(options), voices_(step) {}
  void start(const PartialSet& input) {
    rate_ = options_.sound_rate(input);
    voices_.set_input(input.noise, input.rate > 0 ? static_cast<double>(input.samples) / input.rate : 0, rate_);
  }
  void add(const Resampled& part) { voices_.add(part); }
  /// Checks the sound's size, as the run that holds every partial does before it saves.
  void check() const { check_sound_size(options_.wav, sound_length(voices_, rate_), rate_, options_.bits); }
  void save(Output& console, const std::string& result) {
    save_sound({options_.wav, options_.force, rate_, options_.bits, options_.normalize, options_.quiet}, voices_,
               voices_.at_half_rate(), result, [&](const std::string& m) { report(console, m); });
  }

 private:
  const Options& options_;
  SpooledVoices voices_;
  int rate_ = 0;
};

// The first of the failures of one kind, kept to be thrown once the input is read to its end,
// so that a fault of the input itself, further on, is the one reported, as when every partial
// is read first.
class FirstFailure {
 public:
  template <typename Check>
  void keep(Check&& check) {
    if (failure_) return;
    try {
      check();
    } catch (const Failure& f) {
      failure_ = f;
    }
  }
  bool failed() const { return failure_.has_value(); }
  void throw_if_failed() const {
    if (failure_) throw *failure_;
  }

 private:
  std::optional<Failure> failure_;
};

// Thrown where the result's file fails (a full disk): the save reports the error it kept.
struct WriteFailed {};

// The chain each partial goes through as it comes: its grid counted and checked, laid and
// fitted, its figures checked for the format, written, and set aside for the sound. Of the
// kept failures, the edits' come first, then the grid's, as every partial is edited before
// any grid is counted, and every grid counted before anything is fitted.
// An input the writer cannot take one at a time is held whole, and written by the whole set's
// writer once it is read.
class Chain final : public PartialSink {
 public:
  Chain(Output& console, PartialGrid& grid, const Options& options, double step, const std::string& name, PartialWriter& writer,
        WriteOptions written, SoundBeside* sound)
      : console_(console), grid_(grid), options_(options), step_(step), name_(name), writer_(writer), written_(std::move(written)),
        not_held_(options.result_format()), sound_(sound) {}

  /// Where the file is written as the partials come: its output, before the first.
  void set_output(Output& out) { out_ = &out; }

  void start(const PartialSet& input, int count) override {
    grid_.set_places(input.places);
    fit_ = fit_for(options_.fit, input);
    warn_of_reading(input, count, name_, console_);
    // The edits of one partial at a time change the input's noise and length here, and each
    // partial as it comes; changes over time remake a partial on the points of this run's grid.
    EditOptions edits = options_.edits;
    edits.shape.step = step_;
    edits.shape.grid = options_.grid_kind();
    edits.shape.fit = fit_;
    edits_ = chosen_edits(edits, name_);
    end_ = input_end(input);
    PartialSet edited = input;
    apply_edits(edited, edits_);
    one_.places = input.places;
    if (sound_ != nullptr) sound_->start(edited);
    if (!writer_.takes(input)) {
      whole_ = input;
      whole_->partials.reserve(static_cast<std::size_t>(count));
      return;
    }
    writer_.start(out_, count);
  }

  void take(Partial& part, int p) override {
    if (part.M() > 0) end_ = std::max(end_, part.time.back());
    if (whole_) {
      whole_->partials.push_back(std::move(part));
      return;
    }
    if (!edits_.empty()) {
      if (edit_failure_.failed()) return;  // read on, for the input's own faults
      one_.partials.resize(1);
      std::swap(one_.partials[0], part);
      edit_failure_.keep([&] { apply_edits(one_, edits_); });
      std::swap(one_.partials[0], part);
      if (edit_failure_.failed()) return;
    }
    grid_failure_.keep([&] { grid_.count(part, fit_); });
    if (grid_failure_.failed()) return;  // read on, for the input's own faults
    grid_.fit(part, fit_, part_);
    if (!edits_.empty()) not_held_.add(part_, static_cast<std::size_t>(p));
    figure_failure_.keep([&] { writer_.check(part_, static_cast<std::size_t>(p)); });
    // A file written as the partials come is written on (the failure then keeps it from being
    // saved); one written at the end takes nothing it cannot hold.
    if (figure_failure_.failed() && !writer_.writes_as_they_come()) return;
    writer_.take(out_, part_);
    if (out_ != nullptr && out_->error() != 0) throw WriteFailed{};  // the rest could not be saved: stop reading
    if (sound_ != nullptr && !figure_failure_.failed()) sound_->add(part_);
  }

  void finish(Output& out) {
    if (const std::string past = freezes_past(options_.edits.shape, end_); !past.empty()) report(console_, compose_warning(name_ + ": " + past));
    if (whole_) {
      apply_edits(*whole_, edits_);
      const GridPlan plan = plan_grid(*whole_, step_, options_.grid_kind(), name_, fit_);
      grid_.take_room_of(plan);
      const ResampledSet set = resample_releasing(*whole_, plan, fit_);
      check_result(set, options_.result_format());
      if (!edits_.empty()) warn_of_frequencies(frequencies_not_held(set, options_.result_format()));
      if (sound_ != nullptr) {
        for (const Resampled& part : set.partials) sound_->add(part);
        sound_->check();
      }
      result_writer(set, options_.result_format(), written_)(out);
      return;
    }
    edit_failure_.throw_if_failed();
    grid_failure_.throw_if_failed();
    figure_failure_.throw_if_failed();
    warn_of_frequencies(not_held_.text());
    if (sound_ != nullptr) sound_->check();
    writer_.end(out);
  }

 private:
  Output& console_;
  PartialGrid& grid_;
  const Options& options_;
  double step_;
  const std::string& name_;
  PartialWriter& writer_;
  WriteOptions written_;
  Output* out_ = nullptr;    // where the file is written as the partials come
  Fit fit_ = Fit::kSpline;   // the fit, chosen once the input's kind is known
  Resampled part_;
  FirstFailure edit_failure_, grid_failure_, figure_failure_;
  std::optional<PartialSet> whole_;  // an input the writer cannot take one at a time
  std::vector<Edit> edits_;   // the edits asked for, each of one partial at a time
  PartialSet one_;            // the partial at hand, as a set of one for the edits
  FrequenciesNotHeld not_held_;
  double end_ = 0;  // the input's last time so far, before the edits
  SoundBeside* sound_;  // where a sound is asked for

  // An edit may carry frequencies past what the format is read back with: said, not refused.
  void warn_of_frequencies(const std::string& moved) {
    if (!moved.empty()) report(console_, compose_warning(name_ + ": " + moved));
  }
};

// The partials of an input read in a thread of their own and handed over, in their order,
// to a sink in this one, so that reading and what the sink does with them run at once. At most
// kHeldPoints breakpoints wait between the two.
class ReadBeside {
 public:
  static constexpr std::size_t kHeldPoints = 1 << 16;

  static void read(int fd, const std::string& name, const ReadOptions& options, PartialSink& sink) {
    ReadBeside hand;
    std::thread reader([&] { hand.produce(fd, name, options); });
    try {
      hand.consume(sink);
    } catch (...) {
      hand.stop();
      reader.join();
      throw;
    }
    reader.join();
    if (hand.error_) std::rethrow_exception(hand.error_);
  }

 private:
  struct Stopped {};
  // What the reading thread gives: the start, then each partial.
  class Feed final : public PartialSink {
   public:
    explicit Feed(ReadBeside& hand) : hand_(hand) {}
    void start(const PartialSet& input, int count) override {
      std::lock_guard<std::mutex> lock(hand_.m_);
      hand_.input_ = input;
      hand_.input_.partials.clear();
      hand_.count_ = count;
      hand_.started_ = true;
      hand_.cv_.notify_all();
    }
    void take(Partial& part, int p) override {
      std::unique_lock<std::mutex> lock(hand_.m_);
      if (hand_.held_ >= kHeldPoints && !hand_.stopped_) {
        hand_.producer_waits_ = true;
        hand_.cv_.wait(lock, [&] { return hand_.held_ < kHeldPoints / 2 || hand_.stopped_; });
        hand_.producer_waits_ = false;
      }
      if (hand_.stopped_) throw Stopped{};
      hand_.held_ += part.time.size();
      hand_.queue_.emplace_back(Partial{}, p);
      std::swap(hand_.queue_.back().first, part);
      // The reader goes on in the memory of a partial handed back, not in fresh memory.
      if (!hand_.spare_.empty()) {
        std::swap(part, hand_.spare_.back());
        hand_.spare_.pop_back();
      }
      if (hand_.consumer_waits_) hand_.cv_.notify_all();
    }

   private:
    ReadBeside& hand_;
  };

  void produce(int fd, const std::string& name, const ReadOptions& options) {
    Feed feed(*this);
    std::exception_ptr error;
    try {
      read_input_each(fd, name, options, feed);
    } catch (const Stopped&) {
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(m_);
    error_ = error;
    done_ = true;
    cv_.notify_all();
  }

  void consume(PartialSink& sink) {
    bool started = false;
    std::unique_lock<std::mutex> lock(m_);
    for (;;) {
      consumer_waits_ = true;
      cv_.wait(lock, [&] { return (started_ && !started) || !queue_.empty() || done_; });
      consumer_waits_ = false;
      if (started_ && !started) {
        started = true;
        const PartialSet input = input_;
        const int count = count_;
        lock.unlock();
        sink.start(input, count);
        lock.lock();
        continue;
      }
      if (queue_.empty()) return;  // done
      std::pair<Partial, int> next = std::move(queue_.front());
      queue_.pop_front();
      held_ -= next.first.time.size();
      if (producer_waits_ && held_ < kHeldPoints / 2) cv_.notify_all();
      lock.unlock();
      sink.take(next.first, next.second);
      next.first.time.clear(), next.first.freq.clear(), next.first.amp.clear();
      lock.lock();
      if (spare_.size() < 8) spare_.push_back(std::move(next.first));
    }
  }

  void stop() {
    std::lock_guard<std::mutex> lock(m_);
    stopped_ = true;
    cv_.notify_all();
  }

  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::pair<Partial, int>> queue_;
  std::vector<Partial> spare_;  // handed back, their memory kept
  std::size_t held_ = 0;        // breakpoints in the queue
  bool producer_waits_ = false, consumer_waits_ = false;
  PartialSet input_;
  int count_ = 0;
  bool started_ = false, done_ = false, stopped_ = false;
  std::exception_ptr error_;
};

// Saves the result under -o's name, or on standard output for "-", as it is written.
void save_result(const Options& options, const Writer& write, const std::string& nothing_saved) {
  if (!options.output_to_stdout()) return save_as(options.output, options.force, through_output(write), nothing_saved);
  const SaveOutcome saved = save_to_fd(STDOUT_FILENO, write);
  if (!saved.written()) throw Failure(stdout_failed(saved.error), FailureKind::kFileSystem, saved.error);
}

// Reads the input into the sink, in a thread beside it where -j asks for more than one.
void read_into(const Options& options, int fd, const std::string& name, PartialSink& sink) {
  if (options.jobs >= 2)
    ReadBeside::read(fd, name, options.read, sink);
  else
    read_input_each(fd, name, options.read, sink);
}

}  // namespace

void run_streaming(const Options& options, Output& console, const std::string& nothing_saved, const std::string& written_by) {
  const std::string name = input_name(options.input);
  const int fd = open_input(options.input);
  if (fd < 0) throw system_failure(name, errno);
  const InputCloser closer{fd};
  const double step = options.step ? parse_time_step(*options.step) : kDefaultTimeStep;
  const GridKind kind = options.grid_kind();
  const std::unique_ptr<PartialWriter> writer = row_of(options.result_format()).one_at_a_time({written_by, options.rate}, step);
  PartialGrid grid(kind, step, name, options, !writer->writes_as_they_come());

  std::optional<SoundBeside> sound;
  if (!options.wav.empty()) sound.emplace(options, step);
  SoundBeside* const beside = sound ? &*sound : nullptr;
  Chain chain(console, grid, options, step, name, *writer, {written_by, options.rate}, beside);
  if (writer->writes_as_they_come()) {
    save_result(options, [&](Output& out) {
                  chain.set_output(out);
                  try {
                    read_into(options, fd, name, chain);
                  } catch (const WriteFailed&) {
                    return;  // the save gives the write's error
                  }
                  chain.finish(out);
                },
                nothing_saved);
  } else {
    read_into(options, fd, name, chain);
    save_result(options, [&](Output& out) { chain.finish(out); }, nothing_saved);
  }
  if (const std::optional<RepeatedTime> repeated = writer->repeated()) warn_of_repeated_time(*repeated, console);
  if (sound) sound->save(console, options.output);
}

}  // namespace zarn
