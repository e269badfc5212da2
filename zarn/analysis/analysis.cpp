#include "analysis/analysis.hpp"

#include <algorithm>
#include <deque>
#include <numeric>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <complex>
#include <cstdio>
#include <limits>
#include <string>

#include "analysis/finish.hpp"
#include "analysis/peaks.hpp"
#include "analysis/residual.hpp"
#include "analysis/tracks.hpp"
#include "analysis/transform.hpp"
#include "analysis/warp.hpp"
#include "model/phase.hpp"
#include "model/pitch.hpp"

namespace zarn {

std::size_t analysis_window(const AnalysisOptions& o, double rate) {
  return static_cast<std::size_t>(std::ceil(kLobeBins * rate / o.resolution)) | 1;
}

namespace {

std::string number_text(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

}  // namespace

std::string analysis_problem(const AnalysisOptions& o, double rate, long long frames) {
  if (!std::isfinite(rate) || !(rate > 0)) return "the sound's sample rate must be above zero";
  if (!(rate <= kMaxAnalysisRate)) {
    char said[64];
    std::snprintf(said, sizeof said, rate < 1e15 ? "%.0f" : "%g", rate);  // any size, where llround would overflow
    return "a sample rate of " + std::string(said) + " Hz is beyond what zarn analyses (10 MHz): is the header broken?";
  }
  if (!std::isfinite(o.resolution) || !(o.resolution > 0)) return "--resolution must be a number of hertz above zero";
  if (kLobeBins * rate / o.resolution > 1 << 24) return "--resolution is too fine for this sample rate (a window of over 2^24 samples)";
  const std::size_t window = analysis_window(o, rate);
  char seconds[64];
  std::snprintf(seconds, sizeof seconds, "%.4g s", static_cast<double>(window) / rate);
  if (!std::isfinite(o.hop) || o.hop < 0) return "--hop must be a number of seconds above zero";
  if (o.hop > 0 && !(o.hop * rate >= 1)) return "--hop must be at least one sample long";
  if (o.hop > 0 && !(o.hop * rate <= static_cast<double>(window)))
    return "--hop must be at most the analysis window, " + std::to_string(window) + " samples (" + seconds + ")";
  if (!std::isfinite(o.floor)) return "--floor must be a finite number of dB";
  if (!std::isfinite(o.min_track) || o.min_track < 0) return "--min-track must be a number of seconds, zero or above";
  if (frames >= 0 && static_cast<std::size_t>(frames) < window) {
    // The resolution whose window the sound still fills, rounded up to a whole hertz.
    const double fits = frames > 0 ? std::ceil(kLobeBins * rate / static_cast<double>(frames)) : 0;
    char length[64];
    std::snprintf(length, sizeof length, "%.4g s", static_cast<double>(frames) / rate);
    std::string problem = "the sound (" + std::string(length) + ") is shorter than the analysis window (" + seconds + " at --resolution=" + number_text(o.resolution) + ")";
    if (frames > 0) problem += ": --resolution=" + number_text(fits) + " or coarser gives a window it fills";
    return problem;
  }
  return {};
}

namespace {

// The samples still needed, in one block of memory: taken from the front by moving its start,
// the rest moved down once the part taken outgrows it.
class SampleQueue {
 public:
  void append(const double* x, std::size_t n) {
    compact();
    buffer_.insert(buffer_.end(), x, x + n);
  }
  void append_zeros(std::size_t n) {
    compact();
    buffer_.resize(buffer_.size() + n, 0.0);
  }
  void drop(std::size_t n) { head_ += std::min(n, size()); }
  std::size_t size() const { return buffer_.size() - head_; }
  bool empty() const { return size() == 0; }
  const double* data() const { return buffer_.data() + head_; }

 private:
  void compact() {
    if (head_ == 0 || head_ < size()) return;
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
  std::vector<double> buffer_;
  std::size_t head_ = 0;
};

}  // namespace

struct Analyser::State {
  double rate;
  AnalysisOptions options;
  std::size_t L, half, H;
  FrameTransform transform;
  PeakFinder peaks;
  Residual residual;
  PartialSet found;
  std::vector<double> noise_offsets;  // each noise frame's Residual::offset
  std::deque<bool> quiet_frames;     // of the last five noise frames, which lay under the floor
  double quiet_power;                 // the floor as a power: a noise frame quieter in all is quiet
  Tracker tracker;
  SampleQueue pending;          // samples from the next frame's first one (less the margin) on
  long long first_pending = 0;  // the sample number of pending.front()
  long long total = 0;          // samples taken
  long lead = 0;                // the next frame to transform plain; its centre is lead * H
  long frame = 0;               // the next frame to track, lead's or behind it
  bool ending = false;          // the sound has ended: the frames still to come reach beyond it
  bool lead_done = false;       // every frame to the sound's end is transformed
  double sound_end = std::numeric_limits<double>::infinity();  // the last sample's time, once known
  // The warp by the fundamental: each frame is looked at first (lead) and tracked once the
  // fundamental's course after it is known (frame, lag frames behind); the samples that a
  // warped window reads beyond the plain one (margin) are kept.
  PitchWarp warp;
  WarpedSound warped;
  long last_warped = -2;  // the last frame warped
  std::size_t margin;
  std::vector<double> f0_freq, f0_amp;
  // The X of the frames looked at first and not yet tracked, in a ring, so that a frame taken
  // plain transforms only D and T again (kept); where the ring would take much memory, as with
  // a tiny hop, one block for the first look alone, and a plain frame is transformed whole.
  std::vector<std::complex<double>*> saved;
  bool kept = false;
  std::complex<double>* saved_slot(long j) { return saved[static_cast<std::size_t>(j) % saved.size()]; }
  std::vector<Peak> warped_peaks, warped_edges;
  double last_f0 = 0;

  State(double r, const AnalysisOptions& o)
      : rate(r),
        options(o),
        L(analysis_window(o, r)),
        half(L / 2),
        H(o.hop > 0 ? static_cast<std::size_t>(std::llround(o.hop * r)) : std::max<std::size_t>(1, L / 4)),
        transform(L, r),
        peaks(transform, r, std::pow(10.0, o.floor / 20.0)),
        residual(transform, r, fine_band_edges()),
        quiet_power(std::pow(10.0, o.floor / 10.0)),
        tracker(o.resolution, hop_seconds(), [this](Track& t) {
          Partial p;
          if (finish_track(t, {hop_seconds(), transform.spread(), options.min_track, &transform, sound_end, rule_hop_seconds()}, p)) found.partials.push_back(std::move(p));
        }, rule_hop_seconds()),
        warp(hop_seconds(), reach_frames(), transform.spread()),
        warped(static_cast<double>(H), half),
        margin(o.warp ? static_cast<std::size_t>(std::ceil(static_cast<double>(half) * (kMostWarp - 1))) + Interpolator::kTaps + 2 : 0) {
    constexpr double kMostSavedBytes = 16.0 * (1 << 20);
    const double bytes = static_cast<double>(warp.lag() + 2) * static_cast<double>(transform.size() / 2 + 1) * sizeof(std::complex<double>);
    kept = bytes <= kMostSavedBytes;
    if (o.warp)
      for (std::size_t k = 0; k < (kept ? warp.lag() + 2 : 1); ++k) saved.push_back(transform.new_window_output());
    // The first frame is centred on the first sample: the window reaches half back before it.
    pending.append_zeros(half + margin);
    first_pending = -static_cast<long long>(half + margin);
    if (o.noise) found.noise.edges = fine_band_edges();
  }

  double hop_seconds() const { return static_cast<double>(H) / rate; }
  // The window's own hop (the default), in which the rules of tracks count their frames.
  double rule_hop_seconds() const { return static_cast<double>(std::max<std::size_t>(1, L / 4)) / rate; }
  // The frames to either side whose fundamental a warped window reaches (and the warped
  // sound's node beyond it), so that no frame's warp depends on how far the sound has come.
  std::size_t reach_frames() const {
    return static_cast<std::size_t>(std::ceil((static_cast<double>(half) * kMostWarp + static_cast<double>(WarpedSound::kNode)) / static_cast<double>(H))) + 1;
  }

  // Frame `lead`: where the warp is followed, its fundamental, a first look from its
  // transform through the window alone (kept for the frame's second look); else the frame
  // itself.
  void run_lead(const double* x) {
    if (!options.warp) {
      run_frame(x);
      return;
    }
    // A window that reaches beyond the sound sees its partials cut off, their frequencies
    // spread: its fundamental is followed but does not set the course.
    const long long centre = static_cast<long long>(lead) * static_cast<long long>(H);
    transform.run_window_into([x](std::size_t n) { return x[n]; }, saved_slot(lead));
    last_f0 = frame_fundamental(transform, rate, last_f0, f0_freq, f0_amp);
    warp.add(last_f0, centre < static_cast<long long>(half) || ending);
  }

  // Frame `frame`, whose fundamental's course is known: warped where the fundamental moves,
  // else plain.
  void run_held() {
    const long long centre = static_cast<long long>(frame) * static_cast<long long>(H);
    warp.forget_before(frame);
    if (warp.warps(frame)) {
      // The window's centre lies within a sample of the frame's: its peaks' times are carried
      // to the frame's centre.
      double at = 0;
      const double* x = warped.window(warp, frame, last_warped == frame - 1, pending.data(), first_pending, at);
      last_warped = frame;
      transform.run([x](std::size_t n) { return x[n]; });
      peaks.find(transform);
      take_frame(std::exp(warp.log_rate(at / static_cast<double>(H))), (at - static_cast<double>(centre)) / rate);
      return;
    }
    const double* x = pending.data() + (centre - static_cast<long long>(half) - first_pending);
    if (kept)
      transform.run_rest([x](std::size_t n) { return x[n]; }, saved_slot(frame));
    else
      transform.run([x](std::size_t n) { return x[n]; });
    peaks.find(transform);
    take_frame(1.0, 0.0);
  }

  // Frame `frame` transformed plain, its peaks found, tracked and its noise measured.
  void run_frame(const double* x) {
    transform.run([x](std::size_t n) { return x[n]; });
    peaks.find(transform);
    take_frame(1.0, 0.0);
  }

  // The noise of a silence takes a few frames, however long it lasts. A frame quieter in all
  // than the floor under which peaks are left out (a dither, a hiss no one hears) is silence
  // where the two frames on either side of it are quiet too: the frames next to a sound keep
  // what they measured, and so does every figure the noise makes there. Of a run of silent
  // frames the first and the last two are kept: between two silent frames the noise is silent
  // wherever they lie, and the last two keep the hop that tells how far the last one reaches.
  // The first two frames stay, whose spacing is the hop too. Each frame is settled once the two
  // after it are measured.
  void settle_silence(bool quiet) {
    Noise& noise = found.noise;
    quiet_frames.push_back(quiet);
    if (quiet_frames.size() > 5) quiet_frames.pop_front();
    const std::size_t F = noise.times.size(), B = noise.bands();
    if (quiet_frames.size() < 5 || !std::all_of(quiet_frames.begin(), quiet_frames.end(), [](bool q) { return q; })) return;
    const std::size_t e = F - 3;  // the frame settled now
    std::fill(noise.power.begin() + static_cast<std::ptrdiff_t>(e * B), noise.power.begin() + static_cast<std::ptrdiff_t>((e + 1) * B), 0.0);
    if (e < 5) return;
    const auto silent = [&](std::size_t j) { return std::all_of(noise.frame(j), noise.frame(j) + B, [](double v) { return v == 0.0; }); };
    if (!silent(e - 1) || !silent(e - 2) || !silent(e - 3)) return;
    // e - 3 begins the run; e - 2 goes.
    noise.times.erase(noise.times.begin() + static_cast<std::ptrdiff_t>(e - 2));
    noise.power.erase(noise.power.begin() + static_cast<std::ptrdiff_t>((e - 2) * B), noise.power.begin() + static_cast<std::ptrdiff_t>((e - 1) * B));
    noise_offsets.erase(noise_offsets.begin() + static_cast<std::ptrdiff_t>(e - 2));
  }

  // The peaks of frame `frame` (those PeakFinder found last) tracked and its noise measured;
  // a warped frame's time ran `ratio` times the sound's and its centre lay `shift` seconds
  // from the frame's.
  void take_frame(double ratio, double shift) {
    const long long centre = static_cast<long long>(frame) * static_cast<long long>(H);
    const double time = static_cast<double>(centre) / rate;
    const std::vector<Peak>* found_peaks = &peaks.peaks();
    const std::vector<Peak>* edges = &peaks.edges();
    double noise_offset = 0;
    bool quiet = false;  // the frame's noise lies under the floor
    if (options.noise) {
      Noise& noise = found.noise;
      noise.times.push_back(time);
      noise.power.resize(noise.power.size() + noise.bands());
      double* measured = noise.power.data() + noise.power.size() - noise.bands();
      residual.measure(peaks, measured, ratio);
      noise_offset = residual.offset();
      quiet = !(std::accumulate(measured, measured + noise.bands(), 0.0) >= quiet_power);
    }
    if (ratio != 1.0) {
      // Measured in the frame's own time: its frequencies are carried to the sound's once the
      // track is finished, its times now.
      // A phase measured at the window's centre is carried back to the frame's, at the
      // partial's frequency in the sound.
      const auto in_sound = [ratio, shift](const std::vector<Peak>& from, std::vector<Peak>& to) {
        to = from;
        for (Peak& p : to) p.ratio = ratio, p.offset = p.offset / ratio + shift, p.phase = wrap_phase(p.phase - kTwoPi * p.freq * ratio * shift);
      };
      in_sound(*found_peaks, warped_peaks), found_peaks = &warped_peaks;
      in_sound(*edges, warped_edges), edges = &warped_edges;
      noise_offset = noise_offset / ratio + shift;
    }
    if (options.noise) {
      noise_offsets.push_back(noise_offset);
      settle_silence(quiet);
    }
    tracker.take(frame, time, *found_peaks, *edges);
    ++frame;
  }

  // The frames whose windows the samples so far cover, and those behind them whose warp is known.
  void run_frames() {
    for (;;) {
      bool moved = false;
      const long long centre = static_cast<long long>(lead) * static_cast<long long>(H);
      if (!lead_done && centre + static_cast<long long>(half) < first_pending + static_cast<long long>(pending.size())) {
        // The window lies within the samples held: it starts at or after the first (those
        // before it were dropped only up to its start, less the margin) and ends before the
        // last (checked here).
        run_lead(pending.data() + (centre - static_cast<long long>(half) - first_pending));
        ++lead;
        moved = true;
      }
      while (options.warp && frame < lead && warp.ready(frame)) run_held(), moved = true;
      // Samples before the next frame's window and its margin are no longer needed.
      const long long next_start = static_cast<long long>(frame) * static_cast<long long>(H) - static_cast<long long>(half + margin);
      if (first_pending < next_start) {
        const auto n = static_cast<std::size_t>(std::min<long long>(next_start - first_pending, static_cast<long long>(pending.size())));
        pending.drop(n);
        first_pending += static_cast<long long>(n);
      }
      if (!moved) return;
    }
  }
};

Analyser::Analyser(double rate, const AnalysisOptions& options) : s_(std::make_unique<State>(rate, options)) {}
Analyser::~Analyser() = default;

std::size_t Analyser::window() const { return s_->L; }
std::size_t Analyser::hop() const { return s_->H; }

void Analyser::add(const double* samples, std::size_t n) {
  s_->pending.append(samples, n);
  s_->total += static_cast<long long>(n);
  s_->run_frames();
}

PartialSet Analyser::finish() {
  State& s = *s_;
  // Frames centred up to the last sample, the window's right half in silence.
  s.ending = true;
  if (s.total > 0) {
    const long long last_centre = s.total - 1;
    while (static_cast<long long>(s.lead) * static_cast<long long>(s.H) <= last_centre) {
      s.pending.append_zeros(s.half + s.H);
      s.run_frames();
    }
  }
  // The frames held are warped and tracked, the last ones reading silence beyond the sound.
  s.lead_done = true;
  s.warp.end();
  s.pending.append_zeros(s.margin);
  s.run_frames();
  s.sound_end = static_cast<double>(std::max<long long>(0, s.total - 1)) / s.rate;
  s.tracker.end_all();
  if (s.options.noise) {
    Residual::sharpen_onsets(s.found.noise, s.noise_offsets, s.transform);
    join_even_bands(s.found.noise);
  }
  PartialSet out = std::move(s.found);
  out.places = PartialSet::Places::kSeconds;
  out.hop = s.hop_seconds();
  std::stable_sort(out.partials.begin(), out.partials.end(), [](const Partial& a, const Partial& b) {
    return a.time.front() < b.time.front() || (a.time.front() == b.time.front() && a.freq.front() < b.freq.front());
  });
  return out;
}

PartialSet analyse(const double* samples, std::size_t n, double rate, const AnalysisOptions& options) {
  Analyser a(rate, options);
  a.add(samples, n);
  return a.finish();
}

}  // namespace zarn
