#include "analysis/warp.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <utility>
#include <limits>

#include "model/phase.hpp"
#include "model/pitch.hpp"

namespace zarn {

namespace {

// The fundamental is smoothed over this long to either side: a vibrato (4 Hz and faster) is
// motion within it, a note's course over it is not.
constexpr double kSmoothSeconds = 0.2;
// ... but over at most this many frames, whatever the hop.
constexpr long kMostSpan = 64;
// A fundamental seen in fewer frames than these in a row, or for less than this long (within
// the span either side), is no voice to follow: a note's attack scatters the first look.
constexpr long kLeastRun = 5;
constexpr double kLeastRunSeconds = 0.2;
// Frames this near a break in the run, or a step, are taken plain.
constexpr double kGuardSeconds = 0.05;
// A step from note to note is taken where two lines either side of it miss the frames by this
// many times less (in squares) than one line does, and it is at least this high (30 cents).
constexpr double kStepGain = 4;
// ... and where the fundamental leaps across it between two frames, by at least this share of
// the step: a voice that rises half an octave in 0.1 s passes through the frames between (a
// glide, which the warp follows), where a note that follows another leaps.
constexpr double kStepJump = 0.5;
constexpr double kLeastStep = 0.3 / 12 * 0.6931471805599453;
// From one frame to the next a fundamental moves by less than this (150 cents, in log): a
// larger step is another note or another estimate, where the warp starts afresh.
constexpr double kMostStep = 1.5 / 12 * 0.6931471805599453;
// The warp never runs faster or slower than kMostWarp, in log.
constexpr double kMostLog = 2.0 / 12 * 0.6931471805599453;
// A frame's fundamental this far (50 cents, in log) from the median of it and its neighbours
// is taken for an error of the first look.
constexpr double kOutlier = 0.5 / 12 * 0.6931471805599453;
// A fundamental that strays less than this from its smoothed course near a frame (10 cents)
// is taken as steady, the frame plain: the first look's own errors on a steady tone (low
// fundamentals, whose harmonics' lobes touch) reach a few cents, and a warp by them would
// move harmonics that hold still.
constexpr double kLeastMotion = 0.1 / 12 * 0.6931471805599453;

// A frame's powers and maxima, the space kept from frame to frame.
struct Scratch {
  std::vector<double> power;
  std::vector<std::size_t> bins;
  std::vector<std::pair<double, std::size_t>> maxima;
};
Scratch& scratch() {
  thread_local Scratch s;
  return s;
}

// A course through frames: its value at t = 0, the sum of the squares it misses them by, and
// the jump at its step.
struct Course {
  double at_zero, residual, jump;
};

// Least squares through (t, v)[0, n): one straight line (`line`), and the best of the pairs of
// lines with one slope through [0, step) and [step, n), for steps leaving two frames or more
// to either side (its step in `step`, 0 for none). Sums from the front make each pair's fit
// cost no more than one frame's.
Course fit_courses(const std::vector<double>& t, const std::vector<double>& v, Course& line, std::size_t& step) {
  const std::size_t n = t.size();
  double mean = 0;
  for (double x : v) mean += x;
  mean /= static_cast<double>(n);
  // Sums of 1, t, v, t t, t v, v v over [0, k), v about its mean.
  struct Sums {
    double c = 0, t = 0, v = 0, tt = 0, tv = 0, vv = 0;
  };
  thread_local std::vector<Sums> front;
  front.assign(n + 1, Sums{});
  for (std::size_t k = 0; k < n; ++k) {
    const double x = t[k], y = v[k] - mean;
    const Sums& p = front[k];
    front[k + 1] = {p.c + 1, p.t + x, p.v + y, p.tt + x * x, p.tv + x * y, p.vv + y * y};
  }
  const auto part = [&](std::size_t from, std::size_t to) {
    const Sums &a = front[from], &b = front[to];
    return Sums{b.c - a.c, b.t - a.t, b.v - a.v, b.tt - a.tt, b.tv - a.tv, b.vv - a.vv};
  };
  // Lines with one slope through the groups: each about its own means.
  const auto fit = [&](std::size_t cut) {
    const Sums g[2] = {part(0, cut), part(cut, n)};
    double sxx = 0, sxy = 0, syy = 0;
    for (const Sums& q : g) {
      if (q.c == 0) continue;
      sxx += q.tt - q.t * q.t / q.c, sxy += q.tv - q.t * q.v / q.c, syy += q.vv - q.v * q.v / q.c;
    }
    const double slope = sxx > 0 ? sxy / sxx : 0.0;
    const auto intercept = [&](const Sums& q) { return q.c > 0 ? (q.v - slope * q.t) / q.c + mean : mean; };
    // The line of the side that holds t = 0 (the frame asked about).
    const bool after = cut < n && t[cut] <= 0;
    return Course{intercept(g[after ? 1 : 0]), std::max(0.0, syy - slope * sxy), cut < n ? intercept(g[1]) - intercept(g[0]) : 0.0};
  };
  line = fit(n);
  Course best = line;
  step = 0;
  for (std::size_t cut = 2; cut + 2 <= n; ++cut) {
    const Course c = fit(cut);
    if (c.residual < best.residual) best = c, step = cut;
  }
  return best;
}

}  // namespace

PitchWarp::PitchWarp(double hop_seconds, std::size_t reach, double spread)
    : reach_(reach), spread_frames_(spread / (hop_seconds * hop_seconds)) {
  const double span = std::ceil(kSmoothSeconds / hop_seconds);
  span_ = static_cast<std::size_t>(std::clamp<double>(span, kLeastRun, kMostSpan));
  guard_ = static_cast<std::size_t>(std::ceil(kGuardSeconds / hop_seconds));
  least_run_ = static_cast<std::size_t>(std::clamp<double>(std::ceil(kLeastRunSeconds / hop_seconds), kLeastRun, static_cast<double>(span_)));
  // A frame's warp reaches `reach` frames and two more for the cubic; each of those needs the
  // fundamental `span` frames on.
  lag_ = reach_ + 3 + span_;
}

void PitchWarp::add(double f0, bool edge) {
  f0_.push_back(f0 > 0 ? std::log(f0) : std::numeric_limits<double>::quiet_NaN());
  edge_.push_back(edge ? 1 : 0);
  rate_.push_back(std::numeric_limits<double>::quiet_NaN());
}

double PitchWarp::at(long i) {
  if (i < base_ || i >= added()) return 0.0;
  double& known = rate_[static_cast<std::size_t>(i - base_)];
  if (!std::isnan(known)) return known;
  // Each frame's log fundamental, where it strays from both neighbours (one frame's error, or a
  // note's attack) by more than kOutlier from their median, the median.
  const auto raw = [this](long k) { return f0_[static_cast<std::size_t>(k - base_)]; };
  const auto f = [&](long k) {
    const double v = raw(k);
    if (k <= base_ || k + 1 >= added() || std::isnan(v)) return v;
    const double a = raw(k - 1), b = raw(k + 1);
    if (std::isnan(a) || std::isnan(b)) return v;
    const double m = std::max(std::min(a, b), std::min(std::max(a, b), v));
    return std::fabs(v - m) > kOutlier ? m : v;
  };
  const auto joined = [&](long a, long b) { return !std::isnan(f(a)) && !std::isnan(f(b)) && std::fabs(f(a) - f(b)) < kMostStep; };
  known = 0.0;
  if (std::isnan(f(i))) return known;
  const long span = static_cast<long>(span_);
  long lo = i, hi = i;
  while (lo > i - span && lo - 1 >= base_ && joined(lo - 1, lo)) --lo;
  while (hi < i + span && hi + 1 < added() && joined(hi + 1, hi)) ++hi;
  // Near where a run breaks within the sound (a new note, or the first look losing the
  // fundamental), the window holds the end of one note and the start of the next, which no
  // one warp holds still: those frames are taken plain.
  const long guard = static_cast<long>(guard_);
  // (A run that stops at a window reaching beyond the sound stops with the sound.)
  const auto breaks = [&](long k) { return k >= base_ && k < added() && !edge_[static_cast<std::size_t>(k - base_)]; };
  // The warp fades out toward a break, so that the frames tracked go from warped to plain
  // by degrees.
  double fade = 1;
  if (breaks(lo - 1)) fade = std::min(fade, static_cast<double>(i - lo) / static_cast<double>(guard));
  if (breaks(hi + 1)) fade = std::min(fade, static_cast<double>(hi - i) / static_cast<double>(guard));
  // The course about i, from the frames of the run that saw the sound whole: the straight
  // line (in log) nearest them, so that a steady glide is its own course and is not warped,
  // and a vibrato near a note's ends still has one; or, where a step from one note to the
  // next explains them far better, two such lines (a common slope) either side of it, the
  // frames near the step taken plain.
  std::vector<double>& t = course_t_;
  std::vector<double>& v = course_f_;
  t.clear(), v.clear();
  for (long k = lo; k <= hi; ++k)
    if (!edge_[static_cast<std::size_t>(k - base_)]) t.push_back(static_cast<double>(k - i)), v.push_back(f(k));
  if (hi - lo + 1 < static_cast<long>(least_run_) || t.size() < 3) return known;
  Course line{};
  std::size_t step = 0;
  const Course best = fit_courses(t, v, line, step);
  double course = line.at_zero;
  if (step > 0 && std::fabs(v[step] - v[step - 1]) >= kStepJump * std::fabs(best.jump) && best.residual * kStepGain < line.residual && std::fabs(best.jump) >= kLeastStep) {
    fade = std::min(fade, std::max(0.0, std::fabs(t[step] - 0.5) - 0.5) / static_cast<double>(guard));
    course = best.at_zero;
  }
  // The frame saw its fundamental through the window, as its weighted mean, which misses its
  // curvature by half the curvature times the window's spread: put that back.
  double curved = 0;
  if (i > lo && i < hi) curved = 0.5 * spread_frames_ * (f(i + 1) - 2 * f(i) + f(i - 1));
  known = fade * std::clamp(f(i) - curved - course, -kMostLog, kMostLog);
  return known;
}

bool PitchWarp::warps(long j) {
  const long r = static_cast<long>(reach_) + 1;
  // The motion drawn smooth over three frames: a first look's errors from frame to frame
  // (where a low fundamental's harmonics' lobes touch, they differ by some cents each frame)
  // are no motion worth following.
  for (long i = std::max(j - r, base_); i <= j + r && i < added(); ++i)
    if (!edge_[static_cast<std::size_t>(i - base_)] && std::fabs(0.25 * at(i - 1) + 0.5 * at(i) + 0.25 * at(i + 1)) >= kLeastMotion) return true;
  return false;
}

double PitchWarp::log_rate(double frame) {
  // Catmull-Rom through the frames about it.
  const double i = std::floor(frame), u = frame - i;
  const long k = static_cast<long>(i);
  const double p0 = at(k - 1), p1 = at(k), p2 = at(k + 1), p3 = at(k + 2);
  return p1 + 0.5 * u * (p2 - p0 + u * (2 * p0 - 5 * p1 + 4 * p2 - p3 + u * (3 * (p1 - p2) + p3 - p0)));
}

void PitchWarp::forget_before(long j) {
  // Frames a window's warp and the smoothing still reach stay.
  const long keep = j - static_cast<long>(reach_ + 3 + span_);
  while (base_ < keep && !f0_.empty()) {
    f0_.pop_front();
    edge_.pop_front();
    rate_.pop_front();
    ++base_;
  }
}

Interpolator::Interpolator() : table_(static_cast<std::size_t>((kPhases + 1) * 2 * kTaps)) {
  // A sinc under a Blackman-Harris window of 2 kTaps taps, from the tap to the point.
  const auto window = [](double u) {  // u from -1 to 1
    const double x = kPi * (u + 1);
    return 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
  };
  for (int p = 0; p <= kPhases; ++p)
    for (int m = 0; m < 2 * kTaps; ++m) {
      const double u = static_cast<double>(p) / kPhases + kTaps - 1 - m;
      const double sinc = u == 0 ? 1.0 : std::sin(kPi * u) / (kPi * u);
      table_[static_cast<std::size_t>(p * 2 * kTaps + m)] = std::fabs(u) < kTaps ? sinc * window(u / kTaps) : 0.0;
    }
}

double Interpolator::at(const double* x, double pos) const {
  // The nearest of the tabled phases: a time within 1/(2 kPhases) of a sample, which moves a
  // partial's phase by less than 1e-3 radians below a quarter of the rate.
  const double i = std::floor(pos);
  const auto p = static_cast<std::size_t>((pos - i) * kPhases + 0.5);
  const double* a = &table_[p * 2 * kTaps];
  const double* s = x + static_cast<std::ptrdiff_t>(i) - kTaps + 1;
  // Four sums side by side, so that the taps need not wait on each other.
  double sum[4] = {0, 0, 0, 0};
  for (int m = 0; m < 2 * kTaps; m += 4)
    for (int q = 0; q < 4; ++q) sum[q] += s[m + q] * a[m + q];
  return (sum[0] + sum[1]) + (sum[2] + sum[3]);
}

double frame_fundamental(const FrameTransform& t, double rate, double before, std::vector<double>& freq, std::vector<double>& amp) {
  // The strongest few local maxima, within 50 dB of the strongest (a noise's many small ones
  // would cost the estimate more than they tell it), at their reassigned frequencies where
  // those lie within their bin's lobe; amplitudes from the peak bin alone, which is near
  // enough to weigh them.
  constexpr double kDepth = 1e-4;
  constexpr double kHighest = 5000;
  constexpr std::size_t kMostPeaks = 8;
  constexpr double kSure = 0.7;
  const std::complex<double>* X = t.X();
  // Up to 5 kHz, where a voice's or an instrument's strongest harmonics lie: enough to tell
  // any fundamental to 2 kHz, at a quarter of the work.
  const std::size_t top = std::min(t.size() / 2, static_cast<std::size_t>(kHighest * static_cast<double>(t.size()) / rate));
  const double bin = kTwoPi / static_cast<double>(t.size());
  // The power of each bin (std::norm would take a square root and square it).
  Scratch& s = scratch();
  s.power.resize(top + 1);
  for (std::size_t k = 0; k <= top; ++k) s.power[k] = X[k].real() * X[k].real() + X[k].imag() * X[k].imag();
  // The largest, four at a time, so that the comparisons need not wait on each other.
  double most4[4] = {0, 0, 0, 0};
  std::size_t at = 0;
  for (; at + 4 <= top + 1; at += 4)
    for (std::size_t q = 0; q < 4; ++q) most4[q] = std::max(most4[q], s.power[at + q]);
  for (; at <= top; ++at) most4[0] = std::max(most4[0], s.power[at]);
  const double most = std::max(std::max(most4[0], most4[1]), std::max(most4[2], most4[3]));
  freq.clear(), amp.clear();
  if (!(most > 0)) return 0.0;
  // The local maxima's bins, written without a branch (a noise's maxima fall at random), then
  // as (power, bin), the strongest kept.
  s.bins.resize(top + 1);
  std::size_t count = 0;
  const double* p = s.power.data();
  const double least = kDepth * most;
  for (std::size_t k = 1; k < top; ++k) {
    s.bins[count] = k;
    count += static_cast<std::size_t>((p[k] > p[k - 1]) & (p[k] >= p[k + 1]) & (p[k] >= least));
  }
  std::vector<std::pair<double, std::size_t>>& maxima = s.maxima;
  maxima.clear();
  for (std::size_t i = 0; i < count; ++i) maxima.emplace_back(p[s.bins[i]], s.bins[i]);
  if (maxima.size() > kMostPeaks) {
    std::nth_element(maxima.begin(), maxima.begin() + kMostPeaks, maxima.end(), std::greater<>());
    maxima.resize(kMostPeaks);
  }
  std::sort(maxima.begin(), maxima.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  for (const auto& [pk, k] : maxima) {
    const double la = std::log(p[k - 1]), lb = std::log(pk), lc = std::log(p[k + 1]);
    const double shift = 0.5 * (la - lc) / (la - 2 * lb + lc);
    const double omega = bin * (static_cast<double>(k) + (std::isfinite(shift) ? shift : 0.0));
    freq.push_back(omega * rate / kTwoPi);
    amp.push_back(2 * std::sqrt(pk) / t.gain());
  }
  // Only a clear fundamental is followed: partials that are not one tone's harmonics (two
  // glissandi crossing, a bell) leave more of their energy unexplained.
  const auto [f0, sure] = detail::fundamental_of(freq, amp, 0.0, kFundamentalLo, kFundamentalHi, before);
  return sure >= kSure ? f0 : 0.0;
}

void WarpedSound::extend(PitchWarp& warp) {
  // dt/dtau = exp(-log_rate), a node's step by the midpoint rule.
  const auto slope = [&](double t) { return std::exp(-warp.log_rate(t / hop_)); };
  const double step = static_cast<double>(kNode), t = nodes_.back();
  nodes_.push_back(t + step * slope(t + 0.5 * step * slope(t)));
}

double WarpedSound::sound_at(PitchWarp& warp, double tau) {
  const double k = (tau - static_cast<double>(tau0_)) / static_cast<double>(kNode);
  const auto i = static_cast<long>(std::floor(k));
  while (i + 1 >= node_base_ + static_cast<long>(nodes_.size())) extend(warp);
  const double a = nodes_[static_cast<std::size_t>(i - node_base_)], b = nodes_[static_cast<std::size_t>(i + 1 - node_base_)];
  return a + (k - static_cast<double>(i)) * (b - a);
}

const double* WarpedSound::window(PitchWarp& warp, long j, bool continues, const double* x, long long first, double& at) {
  const double centre = static_cast<double>(j) * hop_;
  const auto half = static_cast<double>(half_);
  if (!continues || nodes_.empty()) {
    // Afresh: the warped time starts equal to the sound's far enough back that the window's
    // first warped sample lies after it.
    tau0_ = static_cast<long long>(std::floor(centre - (half + 1) * kMostWarp)) - static_cast<long long>(kNode);
    nodes_.assign(1, static_cast<double>(tau0_));
    node_base_ = 0;
    y_.clear();
  }
  // The warped time of the frame's centre: nodes on until they pass it, then back between two.
  while (nodes_.back() < centre) extend(warp);
  std::size_t i = nodes_.size() - 1;
  while (i > 0 && nodes_[i - 1] >= centre) --i;
  const double a = i > 0 ? nodes_[i - 1] : nodes_[0], b = nodes_[i];
  const double k = static_cast<double>(node_base_) + static_cast<double>(i) - (b > a ? (b - centre) / (b - a) : 0.0);
  const auto m = static_cast<long long>(std::llround(static_cast<double>(tau0_) + k * static_cast<double>(kNode)));
  // Warped samples before the window are let go; those after what is held are interpolated,
  // their sound positions drawn straight between nodes.
  const long long start = m - static_cast<long long>(half_), end = m + static_cast<long long>(half_) + 1;
  if (y_.empty() || start < y_first_ || start > y_first_ + static_cast<long long>(y_.size())) {
    y_.clear();
    y_first_ = start;
  }
  y_.erase(y_.begin(), y_.begin() + (start - y_first_));
  y_first_ = start;
  const auto node = static_cast<long long>(kNode);
  for (long long n = y_first_ + static_cast<long long>(y_.size()); n < end;) {
    const long long q = (n - tau0_) / node;  // the node at or before n
    while (q + 1 >= node_base_ + static_cast<long long>(nodes_.size())) extend(warp);
    const double from = nodes_[static_cast<std::size_t>(q - node_base_)], to = nodes_[static_cast<std::size_t>(q + 1 - node_base_)];
    const double per = (to - from) / static_cast<double>(kNode);
    const long long last = std::min(end, tau0_ + (q + 1) * node);
    for (long long u = n - (tau0_ + q * node); n < last; ++n, ++u)
      y_.push_back(interpolate_.at(x, from + static_cast<double>(u) * per - static_cast<double>(first)));
  }
  // Nodes before the window's start are no longer needed (one is kept before it).
  const long long keep = (start - tau0_) / node - 1;
  while (node_base_ < keep && nodes_.size() > 2) nodes_.pop_front(), ++node_base_;
  at = sound_at(warp, static_cast<double>(m));
  return y_.data();
}

}  // namespace zarn
