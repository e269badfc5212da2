#include "analysis/analysis.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <complex>
#include <cstdio>
#include <deque>
#include <string>

#include "analysis/fft.hpp"
#include "model/phase.hpp"

namespace zarn {

namespace {

// The Blackman window: side lobes 58 dB down, its main lobe reaching 3 bins to either side,
// so that partials `resolution` apart, 3 bins of a window 3 rate / resolution long, lie on
// each other's first null. Measured against Hann (whose shorter window follows vibrato
// better but cannot tell such neighbours apart) and the 4-term Blackman-Harris (whose longer
// window blurs vibrato), it meets every accuracy limit of bench/analysis_quality.cpp.
constexpr double kA0 = 0.42, kA1 = 0.5, kA2 = 0.08, kA3 = 0.0;
constexpr double kLobeBins = 3.0;
// A peak must stand this far above the local noise (the mean power of the bins around it
// that no peak's main lobe covers), in dB.
constexpr double kAboveNoiseDb = 10.0;
// Frames a track may miss and still go on, predicted along its slope meanwhile.
constexpr int kMaxGap = 2;
// Breakpoints back to the one that a track's slope is taken from.
constexpr std::size_t kSlopeSpan = 3;
// How far a peak may lie from a track's predicted frequency: half the resolution, or this
// share of the frequency where that is more.
constexpr double kRelativeTolerance = 0.01;

std::size_t next_power_of_two(std::size_t n) {
  std::size_t p = 1;
  while (p < n) p *= 2;
  return p;
}

struct Peak {
  double freq, amp;
  double offset;  // seconds from the frame's centre to the centre of the peak's energy
};

struct Track {
  Partial part;
  std::vector<double> offsets;  // each breakpoint's Peak::offset
  long last_frame = 0;
  int missed = 0;

  // The frequency expected at frame j: on from the last breakpoint along the slope of the last
  // few, which one odd breakpoint (two partials meeting in one peak) does not throw off.
  double predicted(long j, double hop_seconds) const {
    const std::size_t n = part.freq.size();
    if (n < 2) return part.freq.back();
    const std::size_t back = std::min<std::size_t>(n - 1, kSlopeSpan);
    const double slope = (part.freq[n - 1] - part.freq[n - 1 - back]) / (part.time[n - 1] - part.time[n - 1 - back]);
    return part.freq[n - 1] + slope * static_cast<double>(j - last_frame) * hop_seconds;
  }
};

}  // namespace

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
  if (!(rate <= kMaxAnalysisRate)) return "a sample rate of " + std::to_string(std::llround(rate)) + " Hz is beyond what zarn analyses (10 MHz): is the header broken?";
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

struct Analyser::State {
  double rate;
  AnalysisOptions options;
  std::size_t L, half, N, H;
  std::vector<double> w, dw;
  double window_energy = 0;
  double floor_amp;
  RealFft fft_w, fft_d, fft_t;
  double spread = 0;  // the second moment of the window's energy about its centre, in seconds^2
  std::deque<double> pending;  // samples from the next frame's first one on
  long long first_pending = 0;  // the sample number of pending.front()
  long long total = 0;          // samples taken
  long frame = 0;               // the next frame's number; its centre is frame * H
  std::vector<double> power;
  std::vector<double> around, block_noise;
  double window_gain = 0;  // |W(0)|, the window's sum: a sine of amplitude A peaks at A |W(0)| / 2
  std::vector<Peak> peaks;
  std::vector<Track> tracks;
  PartialSet found;

  State(double r, const AnalysisOptions& o)
      : rate(r),
        options(o),
        L(analysis_window(o, r)),
        half(L / 2),
        N(next_power_of_two(L)),
        H(o.hop > 0 ? static_cast<std::size_t>(std::llround(o.hop * r)) : std::max<std::size_t>(1, L / 4)),
        floor_amp(std::pow(10.0, o.floor / 20.0)),
        fft_w(N),
        fft_d(N),
        fft_t(N) {
    w.resize(L);
    dw.resize(L);
    const double c = kTwoPi / static_cast<double>(L - 1);
    for (std::size_t n = 0; n < L; ++n) {
      const double x = c * static_cast<double>(n);
      w[n] = kA0 - kA1 * std::cos(x) + kA2 * std::cos(2 * x) - kA3 * std::cos(3 * x);
      dw[n] = c * (kA1 * std::sin(x) - 2 * kA2 * std::sin(2 * x) + 3 * kA3 * std::sin(3 * x));
      window_energy += w[n] * w[n];
    }
    for (std::size_t n = 0; n < L; ++n) {
      const double m = (static_cast<double>(n) - static_cast<double>(half)) / rate;
      spread += m * m * w[n] * w[n] / window_energy;
    }
    {
      double sum = 0;
      for (std::size_t n = 0; n < L; ++n) sum += w[n];
      window_gain = std::fabs(sum);
    }
    power.resize(N / 2 + 1);
    // The first frame is centred on the first sample: the window reaches half back before it.
    pending.assign(half, 0.0);
    first_pending = -static_cast<long long>(half);
  }

  double hop_seconds() const { return static_cast<double>(H) / rate; }

  // The windowed frame's transform at the angular frequency omega (radians a sample), summed
  // directly: at a partial's own frequency a neighbour close enough to cut its lobe short
  // lies near a null of the window's response.
  std::complex<double> transform_at(double omega) {
    const double* xw = fft_w.input();
    const std::complex<double> turn = std::polar(1.0, -omega);
    std::complex<double> e = std::polar(1.0, omega * static_cast<double>(half)), sum = 0;
    // Sample n of the frame lies at (n + N - half) mod N of the transform's input: the half
    // before the centre at its end, the rest from its start.
    std::size_t n = 0;
    for (; n < half; ++n) {
      sum += xw[N - half + n] * e;
      e *= turn;
    }
    for (; n < L; ++n) {
      sum += xw[n - half] * e;
      e *= turn;
    }
    return sum;
  }

  // The frames whose windows the samples so far cover.
  void run_frames() {
    for (;;) {
      const long long centre = static_cast<long long>(frame) * static_cast<long long>(H);
      if (centre + static_cast<long long>(half) >= first_pending + static_cast<long long>(pending.size())) return;
      analyse_frame(centre);
      // Samples before the next frame's window are no longer needed.
      const long long next_start = centre + static_cast<long long>(H) - static_cast<long long>(half);
      while (first_pending < next_start && !pending.empty()) {
        pending.pop_front();
        ++first_pending;
      }
      ++frame;
    }
  }

  void analyse_frame(long long centre) {
    // Zero-phase windowing: the window's centre at index 0, its left half wrapped to the end.
    double* xw = fft_w.input();
    double* xd = fft_d.input();
    double* xt = fft_t.input();
    std::fill(xw, xw + N, 0.0);
    std::fill(xd, xd + N, 0.0);
    std::fill(xt, xt + N, 0.0);
    const long long start = centre - static_cast<long long>(half);
    // Sample n of the window goes to (n + N - half) mod N: the half before the centre to the
    // end of the input, the rest to its start.
    for (std::size_t n = 0; n < L; ++n) {
      const long long at = start + static_cast<long long>(n) - first_pending;
      const double x = at >= 0 && static_cast<std::size_t>(at) < pending.size() ? pending[static_cast<std::size_t>(at)] : 0.0;
      const std::size_t i = n < half ? N - half + n : n - half;
      xw[i] = x * w[n];
      xd[i] = x * dw[n];
      xt[i] = xw[i] * (static_cast<double>(n) - static_cast<double>(half));
    }
    fft_w.run();
    fft_d.run();
    fft_t.run();
    find_peaks();
    track(static_cast<double>(centre) / rate);
  }

  void find_peaks() {
    const std::complex<double>* X = fft_w.output();
    const std::complex<double>* D = fft_d.output();
    const std::size_t K = N / 2;
    for (std::size_t k = 0; k <= K; ++k) power[k] = std::norm(X[k]);
    const double lobe = kLobeBins * static_cast<double>(N) / static_cast<double>(L);  // half-width in bins
    const auto lobe_bins = static_cast<std::size_t>(std::ceil(lobe));
    const double to_amp = 4.0 / (static_cast<double>(N) * window_energy);
    const double floor_power = floor_amp * floor_amp / to_amp / (2 * lobe);  // a rough first cut
    // Local maxima above the floor, with their main lobes: down from the peak while the power
    // falls, at most a lobe's width (and a half, for moving partials) to either side.
    struct Candidate {
      std::size_t k, lo, hi;
    };
    std::vector<Candidate> candidates;
    for (std::size_t k = 1; k < K; ++k) {
      // The floor first: below it lie most bins of a quiet or sparse spectrum.
      if (!(power[k] > floor_power && power[k] > power[k - 1] && power[k] >= power[k + 1])) continue;
      const std::size_t reach = lobe_bins * 3 / 2;
      std::size_t lo = k, hi = k;
      while (lo > 1 && k - lo < reach && power[lo - 1] < power[lo]) --lo;
      while (hi + 1 < K && hi - k < reach && power[hi + 1] < power[hi]) ++hi;
      candidates.push_back({k, lo, hi});
    }
    // The local noise: the lower quartile of the power in blocks of bins (eight main lobes
    // wide), taken as the mean of noise (whose power is exponentially distributed: its lower
    // quartile is its mean times ln 4/3). Partials' lobes may cover most of a block without
    // raising it.
    // Each block's noise is found when a candidate first needs it: sparse spectra leave most
    // blocks without one.
    const std::size_t block = std::max<std::size_t>(16, lobe_bins * 16);
    const std::size_t blocks = (K + 1 + block - 1) / block;
    block_noise.assign(blocks, -1.0);
    const auto noise_of = [&](std::size_t q) {
      if (block_noise[q] < 0) {
        const std::size_t from = q * block, to = std::min(K + 1, from + block);
        around.assign(power.begin() + static_cast<std::ptrdiff_t>(from), power.begin() + static_cast<std::ptrdiff_t>(to));
        block_noise[q] = detail::select_kth(around.data(), around.size(), around.size() / 4) / std::log(4.0 / 3.0);
      }
      return block_noise[q];
    };
    const double above = std::pow(10.0, kAboveNoiseDb / 10.0);
    peaks.clear();
    const std::complex<double>* T = fft_t.output();
    for (const Candidate& c : candidates) {
      // The larger of the noise of the peak's block and its nearer neighbour: a partial's own
      // lobe can make up much of a block.
      const std::size_t here = c.k / block;
      const std::size_t near = (c.k % block) * 2 < block ? (here > 0 ? here - 1 : here) : std::min(blocks - 1, here + 1);
      const double noise = std::max(noise_of(here), noise_of(near));
      if (!(power[c.k] > above * noise)) continue;
      // Reassigned frequency: the bin's less the phase's rate of change across the window.
      const double theta = kTwoPi * static_cast<double>(c.k) / static_cast<double>(N);
      const double omega = theta - std::imag(D[c.k] * std::conj(X[c.k])) / power[c.k];
      if (std::fabs(omega - theta) > kTwoPi * lobe / static_cast<double>(N)) continue;
      const double freq = omega * rate / kTwoPi;
      if (freq <= 0 || freq >= rate / 2) continue;
      // The amplitude from the energy of the whole main lobe, which a moving partial spreads
      // but does not lose; where a neighbour's lobe cuts it short, from the transform at the
      // partial's own frequency, against the window's gain there.
      double amp;
      const double cut = 0.75 * lobe;  // a side of the lobe that ends sooner meets a neighbour
      if (static_cast<double>(c.k - c.lo) >= cut && static_cast<double>(c.hi - c.k) >= cut) {
        double energy = 0;
        for (std::size_t q = c.lo; q <= c.hi; ++q) energy += power[q];
        amp = std::sqrt(energy * to_amp);
      } else {
        amp = 2 * std::abs(transform_at(omega)) / window_gain;
      }
      if (amp < floor_amp) continue;
      const double offset = std::real(T[c.k] * std::conj(X[c.k])) / power[c.k] / rate;
      peaks.push_back({freq, amp, offset});
    }
  }

  void track(double time) {
    // Every (track, peak) pair within the tolerance of the track's prediction, nearest first.
    struct Pair {
      double distance;
      std::size_t track, peak;
    };
    std::vector<Pair> pairs;
    for (std::size_t t = 0; t < tracks.size(); ++t) {
      const double f = tracks[t].predicted(frame, hop_seconds());
      const double tolerance = std::max(0.5 * options.resolution, kRelativeTolerance * f);
      for (std::size_t p = 0; p < peaks.size(); ++p) {
        const double d = std::fabs(peaks[p].freq - f);
        if (d <= tolerance) pairs.push_back({d, t, p});
      }
    }
    std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.distance < b.distance; });
    std::vector<char> track_taken(tracks.size(), 0), peak_taken(peaks.size(), 0);
    for (const Pair& pr : pairs) {
      if (track_taken[pr.track] || peak_taken[pr.peak]) continue;
      track_taken[pr.track] = peak_taken[pr.peak] = 1;
      Track& t = tracks[pr.track];
      append(t, time, peaks[pr.peak]);
      t.last_frame = frame;
      t.missed = 0;
    }
    // Tracks that found nothing miss a frame; those that missed too many end.
    std::size_t kept = 0;
    for (std::size_t t = 0; t < tracks.size(); ++t) {
      if (!track_taken[t] && ++tracks[t].missed > kMaxGap) {
        close(tracks[t]);
        continue;
      }
      if (kept != t) tracks[kept] = std::move(tracks[t]);
      ++kept;
    }
    tracks.resize(kept);
    for (std::size_t p = 0; p < peaks.size(); ++p) {
      if (peak_taken[p]) continue;
      Track t;
      append(t, time, peaks[p]);
      t.last_frame = frame;
      tracks.push_back(std::move(t));
    }
  }

  static void append(Track& t, double time, const Peak& peak) {
    add_breakpoint(t.part, time, peak.freq, peak.amp);
    t.offsets.push_back(peak.offset);
  }

  void close(Track& t) {
    // By default a partial must be seen in three frames; --min-track bounds the duration of
    // the partial as written, checked again below once its edges are placed.
    const double min_track = options.min_track > 0 ? options.min_track : 3 * hop_seconds();
    if (t.part.time.back() - t.part.time.front() + hop_seconds() < min_track) return;
    Partial& p = t.part;
    // The reassigned frequency is the partial's at the centre of the energy seen, which lies
    // `offset` from the frame's centre: carried back to the centre along the partial's slope.
    // And a frequency that moves is seen through the window as its weighted mean, which misses
    // its curvature by half the curvature times the window's spread: put that back. Slope and
    // curvature come from each breakpoint's neighbours.
    const double off_centre = 0.25 * hop_seconds();
    const std::vector<double> seen = p.freq;
    for (std::size_t j = 1; j + 1 < p.time.size(); ++j) {
      if (std::fabs(t.offsets[j]) > off_centre) continue;  // a partial's edge: see below
      const double h0 = p.time[j] - p.time[j - 1], h1 = p.time[j + 1] - p.time[j];
      const double s0 = (seen[j] - seen[j - 1]) / h0, s1 = (seen[j + 1] - seen[j]) / h1;
      const double slope = (s0 * h1 + s1 * h0) / (h0 + h1), curvature = 2 * (s1 - s0) / (h0 + h1);
      p.freq[j] = seen[j] - slope * t.offsets[j] - 0.5 * spread * curvature;
    }
    // Where a partial starts or stops, the window sees it only in part, and the centre of its
    // energy lies well off the frame's centre: such breakpoints go there, where that keeps the
    // times rising, and are left out where it does not. Their frequencies, which the edge
    // itself spoils, are carried on from the nearest steady breakpoints.
    std::size_t first_steady = 0, last_steady = p.time.size();
    while (first_steady < p.time.size() && std::fabs(t.offsets[first_steady]) > off_centre) ++first_steady;
    while (last_steady > 0 && std::fabs(t.offsets[last_steady - 1]) > off_centre) --last_steady;
    if (first_steady + 2 <= last_steady) {
      const auto carry = [&](std::size_t from, std::size_t other, std::size_t j) {
        const double slope = (p.freq[other] - p.freq[from]) / (p.time[other] - p.time[from]);
        p.freq[j] = p.freq[from] + slope * (p.time[j] + t.offsets[j] - p.time[from]);
      };
      for (std::size_t j = 0; j < first_steady; ++j) carry(first_steady, first_steady + 1, j);
      for (std::size_t j = last_steady; j < p.time.size(); ++j) carry(last_steady - 1, last_steady - 2, j);
    }
    Partial kept;
    for (std::size_t j = 0; j < p.time.size(); ++j) {
      double time = p.time[j];
      if (std::fabs(t.offsets[j]) > off_centre) time += t.offsets[j];
      if (!kept.time.empty() && !(time > kept.time.back())) continue;
      if (j + 1 < p.time.size() && std::fabs(t.offsets[j + 1]) <= off_centre && !(time < p.time[j + 1])) continue;
      // A frequency carried or corrected below the lowest a partial may have is left out.
      if (!(p.freq[j] >= kMinFreq)) continue;
      add_breakpoint(kept, time, p.freq[j], p.amp[j]);
    }
    if (kept.time.empty()) return;
    if (options.min_track > 0 && kept.time.back() - kept.time.front() < options.min_track) return;
    p.time = std::move(kept.time);
    p.freq = std::move(kept.freq);
    p.amp = std::move(kept.amp);
    p.place = p.time.front();
    found.partials.push_back(std::move(p));
  }
};

Analyser::Analyser(double rate, const AnalysisOptions& options) : s_(std::make_unique<State>(rate, options)) {}
Analyser::~Analyser() = default;

std::size_t Analyser::window() const { return s_->L; }
std::size_t Analyser::hop() const { return s_->H; }

void Analyser::add(const double* samples, std::size_t n) {
  s_->pending.insert(s_->pending.end(), samples, samples + n);
  s_->total += static_cast<long long>(n);
  s_->run_frames();
}

PartialSet Analyser::finish() {
  State& s = *s_;
  // Frames centred up to the last sample, the window's right half in silence.
  if (s.total > 0) {
    const long long last_centre = s.total - 1;
    const std::vector<double> zeros(s.half + s.H, 0.0);
    while (static_cast<long long>(s.frame) * static_cast<long long>(s.H) <= last_centre) {
      s.pending.insert(s.pending.end(), zeros.begin(), zeros.end());
      s.run_frames();
    }
  }
  for (Track& t : s.tracks) s.close(t);
  s.tracks.clear();
  PartialSet out = std::move(s.found);
  out.places = PartialSet::Places::kSeconds;
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

namespace detail {

namespace {

// Moves a[j] to the front part [.., front) when `in`, without a branch: a[j] and a[front] are
// swapped as bits, or both written back as they were.
inline void move_forward(double* a, std::size_t j, std::size_t front, bool in) {
  std::uint64_t v, t;
  std::memcpy(&v, a + j, sizeof v);
  std::memcpy(&t, a + front, sizeof t);
  const std::uint64_t mask = 0 - static_cast<std::uint64_t>(in);
  const std::uint64_t to_j = (t & mask) | (v & ~mask), to_front = (v & mask) | (t & ~mask);
  std::memcpy(a + j, &to_j, sizeof to_j);
  std::memcpy(a + front, &to_front, sizeof to_front);
}

}  // namespace

double select_kth(double* a, std::size_t n, std::size_t k) {
  std::size_t lo = 0, hi = n;
  for (;;) {
    if (hi - lo <= 16) {  // a few left: sorted in place
      for (std::size_t i = lo + 1; i < hi; ++i) {
        const double v = a[i];
        std::size_t j = i;
        for (; j > lo && a[j - 1] > v; --j) a[j] = a[j - 1];
        a[j] = v;
      }
      return a[k];
    }
    const double x = a[lo], y = a[lo + (hi - lo) / 2], z = a[hi - 1];
    const double pivot = std::max(std::min(x, y), std::min(std::max(x, y), z));  // the median of three
    // Those below the pivot to the front, then those equal to it (at least the pivot itself)
    // after them: k lies in one of the three parts.
    std::size_t below = lo;
    for (std::size_t j = lo; j < hi; ++j) {
      const bool in = a[j] < pivot;
      move_forward(a, j, below, in);
      below += in;
    }
    if (k < below) {
      hi = below;
      continue;
    }
    std::size_t equal = below;
    for (std::size_t j = below; j < hi; ++j) {
      const bool in = !(pivot < a[j]);
      move_forward(a, j, equal, in);
      equal += in;
    }
    if (k < equal) return pivot;
    lo = equal;
  }
}

}  // namespace detail

}  // namespace zarn
