#include "render/sound.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "model/failure.hpp"
#include "model/memory.hpp"
#include "model/phase.hpp"
#include "render/lanes.hpp"

namespace zarn {

namespace {

// The oscillator is run by recurrence, two complex products a sample, and set afresh from
// the exact phase at least this often, so that rounding cannot build up (see the test of its
// error, far below -120 dB).
constexpr long kReseed = 1024;

// A sample number, computed in double, converted within [lo, hi]: numbers far outside the
// sound (times near +-1e300, or not numbers) stand at its bounds, where the loops below treat
// them exactly as the numbers themselves.
long sample_number(double n, long lo, long hi) {
  if (!(n > static_cast<double>(lo))) return lo;
  if (n >= static_cast<double>(hi)) return hi;
  return static_cast<long>(n);
}

}  // namespace

namespace detail {

// One partial's oscillator, which can stop at the end of any block of samples and go on from
// there in the next: every sample is what one pass over the whole sound would make.
//
// On the segment from grid point j to j + 1 (width h) the frequency is linear,
//   f(t) = f_j + k (t - t_j),  k = (f_{j+1} - f_j) / h,
// and the phase its exact integral from phi_j, the phase at t_j:
//   phi(t) = phi_j + 2 pi (f_j d + k d^2 / 2),  d = t - t_j.
// From sample n to n + 1 the phase grows by delta(n) = 2 pi T (f(t_n) + k T / 2), which
// itself grows by 2 pi k T^2 each sample: z = e^{i phi} and w = e^{i delta} follow by
// z <- z w, w <- w r with r = e^{i 2 pi k T^2}. The recurrence is set afresh from the exact
// phase at the start of each segment and every kReseed samples after it.
//
// A partial that carries its phases takes on each segment the cubic that meets both ends'
// phases and frequencies (CubicPhase), phi(t) = phi_j + w_j d + alpha d^2 + beta d^3: the
// growth delta(n) is then quadratic in n, so r itself turns by q = e^{i 6 beta T^3} each
// sample (r <- r q), a third product.
class Voice {
 public:
  // A voice for a sound of `samples` samples in all; `step` is the grid's, which bounds the
  // fade (0: the partial's first interval).
  Voice(const Resampled& part, double step, int rate, long samples)
      : part_(part), rate_(rate), T_(1.0 / rate), n_end_(samples) {
    const std::size_t N = part.time.size();
    cubic_ = N > 0 && part.phase.size() == N;
    done_ = !sounds(static_cast<int>(N), samples);
    if (done_) return;
    t_first_ = part.time.front(), t_last_ = part.time.back();
    // One grid step at most; partials that come without a grid (step 0) take their first interval.
    fade_ = std::min(step > 0 ? step : part.time[1] - part.time[0], kMaxFade);
    // Samples between the fades, where the gain is 1 for certain (one sample of margin).
    full_from_ = sample_number(std::ceil((t_first_ + fade_) * rate), -2, n_end_ + 2) + 1;
    full_to_ = sample_number(std::floor((t_last_ - fade_) * rate), -2, n_end_ + 2) - 1;
  }

  // The first sample the voice may add to.
  long first_sample() const { return done_ ? n_end_ : first_sample(t_first_, rate_, n_end_); }
  // The same, known from a partial's first time; and whether a partial of `points` points
  // sounds at all in a sound of `samples` samples.
  static long first_sample(double t_first, int rate, long samples) { return sample_number(std::ceil(t_first * rate), 0, samples); }
  static bool sounds(int points, long samples) { return points >= 2 && samples > 0; }
  bool done() const { return done_; }

  // Adds the voice's samples from `from` (where it stopped last, or its first) up to `to` into
  // out[0 .. to - from).
  void render(double* out, long from, long to) {
    while (prepare(to)) add_run(out + (n_ - from), 1, std::min(run_stop_, to));
  }

  // Brings the voice to the run of its recurrence that holds its next sample, at(): false
  // once it has no sample before `to`.
  bool prepare(long to) {
    const std::size_t N = part_.time.size();
    while (!done_) {
      if (need_segment_) {
        if (j_ + 1 >= N) {
          done_ = true;
          return false;
        }
        if (!start_segment()) {  // not a finite number: no sound, and no phase carried on
          ++j_;
          continue;
        }
        need_segment_ = false;
        in_run_ = false;
      }
      if (n_ >= n_stop_) {
        if (!cubic_) phi_j_ = next_phase(phi_j_, t_j_, f_j_, part_.time[j_ + 1], part_.freq[j_ + 1]);
        ++j_;
        need_segment_ = true;
        continue;
      }
      if (n_ >= to) return false;
      if (!in_run_) {
        const double d = static_cast<double>(n_) * T_ - t_j_;
        if (cubic_) {
          // The exact phase at d, its growth to d + T, and that growth's growth.
          const double T = T_, a = alpha_, b = beta_;
          const std::complex<double> z0 = std::polar(1.0, wrap_phase(phi_j_ + (kTwoPi * f_j_ * d + a * d * d + b * d * d * d)));
          const std::complex<double> w0 = std::polar(1.0, kTwoPi * f_j_ * T + a * (2 * d * T + T * T) + b * (3 * d * d * T + 3 * d * T * T + T * T * T));
          const std::complex<double> r0 = std::polar(1.0, 2 * a * T * T + 6 * b * T * T * (d + T));
          zr_ = z0.real(), zi_ = z0.imag(), wr_ = w0.real(), wi_ = w0.imag(), rr_ = r0.real(), ri_ = r0.imag();
        } else {
          const std::complex<double> z0 = std::polar(1.0, wrap_phase(phi_j_ + kTwoPi * (f_j_ * d + k_ * d * d / 2)));
          const std::complex<double> w0 = std::polar(1.0, kTwoPi * T_ * (f_j_ + k_ * d + k_ * T_ / 2));
          zr_ = z0.real(), zi_ = z0.imag(), wr_ = w0.real(), wi_ = w0.imag();
        }
        run_stop_ = std::min(n_stop_, n_ + kReseed);
        in_run_ = true;
      }
      return true;
    }
    return false;
  }

  // The voice's next sample (after prepare).
  long at() const { return n_; }
  // Where the run from at() ends, or its gain changes from fading to whole or back; plain()
  // tells whether the gain is 1 all the way there.
  long run_end() const {
    if (n_ < full_from_) return std::min(run_stop_, full_from_);
    if (n_ <= full_to_) return std::min(run_stop_, full_to_ + 1);
    return run_stop_;
  }
  bool plain() const { return !near_half_rate_ && n_ >= full_from_ && n_ <= full_to_; }

  // The state of the recurrence at at(), and the one it leaves up to `to` (at most run_end()):
  // for oscillators run in lanes beside others.
  void load(Lanes& lanes, int l) const {
    lanes.zr[l] = zr_, lanes.zi[l] = zi_, lanes.wr[l] = wr_, lanes.wi[l] = wi_, lanes.rr[l] = rr_, lanes.ri[l] = ri_;
    lanes.qr[l] = qr_, lanes.qi[l] = qi_;
    lanes.a[l] = a_j_, lanes.slope[l] = slope_a_, lanes.tj[l] = t_j_;
  }
  void store(const Lanes& lanes, int l, long to) {
    zr_ = lanes.zr[l], zi_ = lanes.zi[l], wr_ = lanes.wr[l], wi_ = lanes.wi[l];
    if (cubic_) rr_ = lanes.rr[l], ri_ = lanes.ri[l];
    n_ = to;
    if (n_ == run_stop_) in_run_ = false;
  }

  // Adds the samples from at() up to `to` (at most the run's end) into out[0], out[stride], ...
  void add_run(double* out, std::ptrdiff_t stride, long to) {
    if (cubic_)
      run<true>(out, stride, to);
    else
      run<false>(out, stride, to);
  }

  // Whether the voice follows its partial's phases (three products a sample, not two).
  bool cubic() const { return cubic_; }

 private:
  // add_run's loop; kCubic: r turns by q too (a voice that follows its phases).
  template <bool kCubic>
  void run(double* out, std::ptrdiff_t stride, long to) {
    // The complex products written out: the library's own checks for infinities would
    // cost more than the products themselves.
    double zr = zr_, zi = zi_, wr = wr_, wi = wi_, rr = rr_, ri = ri_;
    const double qr = qr_, qi = qi_;
    for (long n = n_; n < to; ++n, out += stride) {
      const double t = static_cast<double>(n) * T_;
      double gain = n >= full_from_ && n <= full_to_ ? 1.0 : std::min({1.0, (t - t_first_) / fade_, (t_last_ - t) / fade_});
      if (near_half_rate_) gain *= std::clamp((half_rate() - (f_j_ + k_ * (t - t_j_))) / band(), 0.0, 1.0);
      *out += (a_j_ + slope_a_ * (t - t_j_)) * gain * zi;
      const double z_r = zr * wr - zi * wi, z_i = zr * wi + zi * wr;
      const double w_r = wr * rr - wi * ri, w_i = wr * ri + wi * rr;
      zr = z_r, zi = z_i, wr = w_r, wi = w_i;
      if constexpr (kCubic) {
        const double r_r = rr * qr - ri * qi, r_i = rr * qi + ri * qr;
        rr = r_r, ri = r_i;
      }
    }
    n_ = to;
    zr_ = zr, zi_ = zi, wr_ = wr, wi_ = wi;
    if constexpr (kCubic) rr_ = rr, ri_ = ri;
    if (n_ == run_stop_) in_run_ = false;
  }

  // What lies at or above half the rate would fold back as another frequency: it is left
  // out, faded over the band just below.
  double half_rate() const { return 0.5 * rate_; }
  double band() const { return kHalfRateFade * half_rate(); }
  double amp(std::size_t j) const { return part_.amp[j] > 0 ? part_.amp[j] : 0.0; }

  // Sets up segment j_; false where its figures are not finite numbers.
  bool start_segment() {
    const std::size_t N = part_.time.size();
    t_j_ = part_.time[j_];
    const double t_next = part_.time[j_ + 1], h = t_next - t_j_;
    f_j_ = part_.freq[j_];
    k_ = (part_.freq[j_ + 1] - f_j_) / h;
    a_j_ = amp(j_);
    slope_a_ = (amp(j_ + 1) - a_j_) / h;
    if (!std::isfinite(k_) || !std::isfinite(f_j_) || !std::isfinite(slope_a_)) return false;
    // Samples from ceil(t_j * rate) up to the one before t_next; the last segment keeps t_last.
    n_ = sample_number(std::ceil(t_j_ * rate_), 0, n_end_);
    n_stop_ = j_ + 2 == N ? sample_number(std::floor(t_last_ * rate_) + 1, 0, n_end_) : sample_number(std::ceil(t_next * rate_), 0, n_end_);
    near_half_rate_ = std::max(f_j_, part_.freq[j_ + 1]) > half_rate() - band();
    if (cubic_) {
      // Phases are held as A cos(phase); the oscillator makes A sin, a quarter turn on.
      phi_j_ = part_.phase[j_] + kPi / 2;
      const CubicPhase cubic(phi_j_, f_j_, part_.phase[j_ + 1] + kPi / 2, part_.freq[j_ + 1], h);
      alpha_ = cubic.alpha, beta_ = cubic.beta;
      if (!std::isfinite(alpha_) || !std::isfinite(beta_) || !std::isfinite(phi_j_)) return false;
      const std::complex<double> q = std::polar(1.0, 6 * beta_ * T_ * T_ * T_);
      qr_ = q.real(), qi_ = q.imag();
      return true;
    }
    const std::complex<double> r = std::polar(1.0, kTwoPi * k_ * T_ * T_);
    rr_ = r.real(), ri_ = r.imag();
    return true;
  }

  const Resampled& part_;
  int rate_;
  double T_;
  long n_end_;
  double t_first_ = 0, t_last_ = 0, fade_ = 0;
  long full_from_ = 0, full_to_ = 0;
  bool done_ = false, need_segment_ = true, in_run_ = false;
  std::size_t j_ = 0;  // the segment
  long n_ = 0, n_stop_ = 0, run_stop_ = 0;
  double phi_j_ = 0, t_j_ = 0, f_j_ = 0, k_ = 0, a_j_ = 0, slope_a_ = 0, rr_ = 1, ri_ = 0;
  bool near_half_rate_ = false;
  double zr_ = 1, zi_ = 0, wr_ = 1, wi_ = 0;
  bool cubic_ = false;  // the partial carries a phase at every point
  double alpha_ = 0, beta_ = 0, qr_ = 1, qi_ = 0;
};

// The lanes' samples are kept in rows this many at a time before they are added up.
constexpr long kRows = 256;

// Adds the samples of `count` voices (at most kLanes, in the set's order) from `from` up to `to`
// into sum[0 .. to - from), in the order that adding one voice after another would: each sample
// takes voice 0's number, then voice 1's, and so on (a quiet lane's +0 leaves a sum, never -0,
// as it is). `rows` holds kRows * kLanes doubles.
void add_voices(Voice* const* voices, int count, int rate, long from, long to, double* sum, double* rows) {
  if (count == 1) {  // a voice alone adds to the sum as it goes
    voices[0]->render(sum, from, to);
    return;
  }
  // A lane runs in the vector (its recurrence kept there from one stretch to the next), or
  // makes its samples on its own while its voice fades, or is quiet.
  enum Kind { kQuiet, kInLanes, kOnItsOwn };
  const double T = 1.0 / rate;
  // Where any voice follows its phases, the lanes run the third product too (a quiet lane's
  // and a plain voice's q is 1, which leaves r as it is).
  bool cubic = false;
  for (int l = 0; l < count; ++l) cubic = cubic || voices[l]->cubic();
  Lanes lanes;
  Kind kind[kLanes];
  long stop[kLanes];  // where each lane changes: its run ends, its gain turns, or it starts
  for (int l = 0; l < kLanes; ++l) {
    kind[l] = kQuiet;
    stop[l] = l < count ? from : to;
    lanes.quiet(l);
  }
  for (long c0 = from, n = from; c0 < to; c0 = n) {
    const long c1 = std::min(to, c0 + kRows);
    for (; n < c1;) {
      for (int l = 0; l < count; ++l) {
        if (stop[l] != n) continue;
        Voice* v = voices[l];
        if (kind[l] == kInLanes) v->store(lanes, l, n);
        kind[l] = kQuiet;
        stop[l] = to;
        if (v->prepare(to)) {
          if (v->at() <= n) {
            kind[l] = v->plain() ? kInLanes : kOnItsOwn;
            stop[l] = std::min(v->run_end(), to);
          } else {
            stop[l] = v->at();
          }
        }
        if (kind[l] == kInLanes)
          v->load(lanes, l);
        else
          lanes.quiet(l);
      }
      const long end = std::min(*std::min_element(stop, stop + kLanes), c1);
      double* at = rows + (n - c0) * kLanes;
      if (cubic)
        run_cubic_lanes(lanes, T, n, end, at);
      else
        run_lanes(lanes, T, n, end, at);
      for (int l = 0; l < count; ++l)
        if (kind[l] == kOnItsOwn) voices[l]->add_run(at + l, kLanes, end);  // fading: in its place among the lanes
      n = end;
    }
    add_rows(sum + (c0 - from), rows, c1 - c0, count);
  }
  for (int l = 0; l < count; ++l)
    if (kind[l] == kInLanes) voices[l]->store(lanes, l, to);
}

// Adds the samples of `count` voices, voice(0) to voice(count - 1), kLanes at a time.
template <typename VoiceAt>
void add_in_groups(std::size_t count, VoiceAt voice, int rate, long from, long to, double* sum, double* rows) {
  for (std::size_t g = 0; g < count; g += kLanes) {
    Voice* group[kLanes];
    const int size = static_cast<int>(std::min<std::size_t>(kLanes, count - g));
    for (int l = 0; l < size; ++l) group[l] = voice(g + static_cast<std::size_t>(l));
    add_voices(group, size, rate, from, to, sum, rows);
  }
}

std::vector<double> lane_sum(const ResampledSet& set, int rate) {
  const long length = static_cast<long>(sound_length(set, rate));
  std::vector<Voice> voices;
  voices.reserve(set.partials.size());
  for (const Resampled& part : set.partials) voices.emplace_back(part, set.step, rate, length);
  std::vector<double> sum(static_cast<std::size_t>(length), 0.0), rows(kRows * kLanes);
  add_in_groups(voices.size(), [&](std::size_t v) { return &voices[v]; }, rate, 0, length, sum.data(), rows.data());
  return sum;
}

void add_partial(const Resampled& part, double step, int rate, std::vector<double>& out) {
  Voice v(part, step, rate, static_cast<long>(out.size()));
  if (!v.done()) v.render(out.data(), 0, static_cast<long>(out.size()));
}

}  // namespace detail

namespace {

// The sound's end, in seconds: the last grid time of any partial, or the noise's last frame;
// negative when there is neither.
double sound_end(const VoiceSource& voices) { return std::max(NoiseSound::end(voices.noise()), voices.last_time()); }

double sample_count(double end, int rate) { return end < 0 ? 0 : std::floor(end * rate) + 1; }

}  // namespace

// As many samples as the sound analysed lasts, where the set came from one (the rest cut off,
// the silence after its partials kept), else to its end.
double sound_length(const VoiceSource& voices, int rate) {
  return voices.length() > 0 ? std::round(voices.length() * rate) : sample_count(sound_end(voices), rate);
}

double sound_length(const ResampledSet& set, int rate) { return sound_length(SetVoices(set), rate); }

int partials_at_half_rate(const ResampledSet& set, int rate) {
  int count = 0;
  for (const Resampled& part : set.partials)
    if (reaches_half_rate(part, rate)) ++count;
  return count;
}

void check_sound_memory(const ResampledSet& set, int rate) {
  // The sum is held whole, in doubles, and handed on in floats.
  const double end = sound_end(SetVoices(set));
  char hours[32];
  std::snprintf(hours, sizeof hours, "%.1f", end / 3600);
  check_memory(sound_length(set, rate) * (sizeof(double) + sizeof(float)), "a sound of " + std::string(hours) + " hours from time 0");
}

struct SoundStream::Sounding {
  std::size_t partial;
  detail::Voice voice;
};

namespace {

// Samples are made this many at a time.
constexpr std::size_t kBlock = 1 << 14;

}  // namespace

SoundStream::SoundStream(const ResampledSet& set, int rate) : own_(std::make_unique<SetVoices>(set)), voices_(*own_), rate_(rate) {
  start();
}

SoundStream::SoundStream(VoiceSource& voices, int rate) : voices_(voices), rate_(rate) { start(); }

void SoundStream::start() {
  VoiceSource& voices = voices_;
  const int rate = rate_;
  const double end = sound_end(voices), count = sound_length(voices, rate);
  if (!(count < 4e18)) {
    char hours[32];
    std::snprintf(hours, sizeof hours, "%.3g", end / 3600);
    throw failure("a sound of " + std::string(hours) + " hours from time 0 is beyond what can be made");
  }
  length_ = static_cast<long long>(count);
  std::vector<long> first(voices.count(), 0);
  for (std::size_t p = 0; p < voices.count(); ++p) {
    if (!detail::Voice::sounds(voices.points(p), static_cast<long>(length_))) continue;
    first[p] = detail::Voice::first_sample(voices.first_time(p), rate, static_cast<long>(length_));
    order_.push_back(p);
  }
  std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) { return first[a] < first[b]; });
  firsts_ = std::move(first);
  if (!voices.noise().empty()) noise_ = std::make_unique<NoiseSound>(voices.noise(), rate);
}

SoundStream::~SoundStream() {
  for (Sounding* s : sounding_) {
    voices_.release(s->partial);
    delete s;
  }
}

std::size_t SoundStream::next(float* out, std::size_t n) {
  const long long left = length_ - done_;
  const auto count = static_cast<std::size_t>(std::min<long long>(static_cast<long long>(n), left));
  if (count == 0) return 0;
  const long from = static_cast<long>(done_), to = from + static_cast<long>(count);
  // Partials that start within this block join the ones sounding, in the set's order, so that
  // every sample adds them up in the order that a whole render does.
  for (; started_ < order_.size() && firsts_[order_[started_]] < to; ++started_) {
    const std::size_t p = order_[started_];
    auto* s = new Sounding{p, detail::Voice(voices_.fetch(p), voices_.step(), rate_, static_cast<long>(length_))};
    sounding_.insert(std::upper_bound(sounding_.begin(), sounding_.end(), p, [](std::size_t q, const Sounding* x) { return q < x->partial; }), s);
  }
  sum_.assign(count, 0.0);
  rows_.resize(static_cast<std::size_t>(detail::kRows * detail::kLanes));
  detail::add_in_groups(sounding_.size(), [&](std::size_t v) { return &sounding_[v]->voice; }, rate_, from, to, sum_.data(), rows_.data());
  std::size_t kept = 0;
  for (Sounding* s : sounding_) {
    if (s->voice.done()) {
      voices_.release(s->partial);
      delete s;
      continue;
    }
    sounding_[kept++] = s;
  }
  sounding_.resize(kept);
  if (noise_) noise_->add(sum_.data(), from, to);
  bool nan = false;
  const float top = detail::to_floats(sum_.data(), out, count, nan);
  peak_ = nan ? std::numeric_limits<double>::infinity() : std::max(peak_, static_cast<double>(top));
  done_ += static_cast<long long>(count);
  return count;
}

std::vector<float> render(const ResampledSet& set, int rate) {
  check_sound_memory(set, rate);  // before touching any of it
  SoundStream stream(set, rate);
  std::vector<float> samples(static_cast<std::size_t>(stream.length()));
  for (std::size_t at = 0; at < samples.size();) at += stream.next(samples.data() + at, std::min(kBlock, samples.size() - at));
  return samples;
}

double normalize(std::vector<float>& samples, double peak_db) {
  const double top = peak(samples);
  if (!(top > 0) || !std::isfinite(top)) return 0;
  const double gain = std::pow(10.0, peak_db / 20.0) / top;
  for (float& s : samples) s = static_cast<float>(static_cast<double>(s) * gain);
  return 20 * std::log10(gain);
}

double peak(const std::vector<float>& samples) {
  double p = 0;
  for (float s : samples) {
    if (!std::isfinite(s)) return std::numeric_limits<double>::infinity();
    p = std::max(p, static_cast<double>(std::fabs(s)));
  }
  return p;
}

}  // namespace zarn
