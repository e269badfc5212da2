#include "analysis/residual.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

namespace zarn {

Residual::Residual(const FrameTransform& t, double rate, const std::vector<double>& edges)
    // Noise of mean square s gives each bin the power s times the window's energy, on average:
    // a band n bins wide holds the share 2 n / N of the noise's mean square, its mean bin power
    // times n times 2 / (N E).
    : edges_(edges), to_power_(2.0 / (static_cast<double>(t.size()) * t.energy())), transform_(t), rate_(rate) {
  lay_bands(1.0, first_, width_);
}

void Residual::lay_bands(double ratio, std::vector<std::size_t>& first, std::vector<double>& width) const {
  const std::size_t K = transform_.size() / 2;
  const double per_hz = static_cast<double>(transform_.size()) / rate_, top = 0.5 * rate_;
  first.clear();
  width.clear();
  for (std::size_t e = 0; e < edges_.size(); ++e) {
    // The first bin at or above the edge, at most one past the last bin; and the band's width
    // in bins, to half the rate.
    const double lo = edges_[e] / ratio, bin = std::ceil(lo * per_hz);
    first.push_back(static_cast<std::size_t>(std::min(bin, static_cast<double>(K + 1))));
    if (e + 1 < edges_.size()) width.push_back(std::max(0.0, std::min(edges_[e + 1] / ratio, top) - std::min(lo, top)) * per_hz);
  }
}

void Residual::measure(const PeakFinder& peaks, double* out, double ratio) {
  // A warped frame holds the sound's frequencies over the ratio: a band-limited sound's limit
  // moves with them, and the bands must too, or noise is measured past the limit.
  if (ratio != 1.0) lay_bands(ratio, warped_first_, warped_width_);
  const std::vector<std::size_t>& first = ratio != 1.0 ? warped_first_ : first_;
  const std::vector<double>& width = ratio != 1.0 ? warped_width_ : width_;
  const std::vector<double>& power = peaks.power();
  free_.assign(power.size(), 1);
  // A constant offset (or a rumble below the lowest bins) is no noise: its main lobe about 0 Hz
  // is left out as a partial's is, so that the lowest band does not spread it to 100 Hz.
  const auto dc_lobe = static_cast<std::size_t>(std::ceil(kLobeBins * static_cast<double>(transform_.size()) / static_cast<double>(transform_.window())));
  std::fill(free_.begin(), free_.begin() + static_cast<std::ptrdiff_t>(std::min(dc_lobe, free_.size() - 1)) + 1, 0);
  for (const auto& [lo, hi] : peaks.lobes()) std::fill(free_.begin() + static_cast<std::ptrdiff_t>(lo), free_.begin() + static_cast<std::ptrdiff_t>(hi) + 1, 0);
  for (std::size_t b = 0; b + 1 < first.size(); ++b) {
    double sum = 0, all = 0;
    std::size_t n = 0;
    for (std::size_t k = first[b]; k < first[b + 1]; ++k) {
      all += power[k];
      if (!free_[k]) continue;
      sum += power[k];
      ++n;
    }
    // Never more than the band holds in all, partials and all: where a few bins between lobes
    // stand for many, their mean must not make a band louder than the sound is there.
    out[b] = n > 0 ? std::min(sum / static_cast<double>(n) * width[b], all) * to_power_ : 0.0;
  }
  // The centre of the free bins' energy in time, from the time-weighted window's transform.
  const std::complex<double>* X = transform_.X();
  const std::complex<double>* T = transform_.T();
  double weight = 0, moment = 0;
  for (std::size_t k = first.front(); k < first.back() && k < power.size(); ++k) {
    if (!free_[k] || !(power[k] > 0)) continue;
    weight += power[k];
    moment += std::real(T[k] * std::conj(X[k]));
  }
  offset_ = weight > 0 ? moment / weight / rate_ : 0.0;
}

namespace {

// A rise of the residual by this ratio of power, with its energy this share of a hop or more
// after the frame's centre, is an onset.
constexpr double kOnsetRise = 4.0, kOnsetLate = 0.25;
// The noise rises over this long at an onset, at most this long before its energy's centre.
constexpr double kOnsetRamp = 0.001, kOnsetLead = 0.004;

double total(const Noise& noise, std::size_t j) {
  double sum = 0;
  for (std::size_t b = 0; b < noise.bands(); ++b) sum += noise.frame(j)[b];
  return sum;
}

}  // namespace

void Residual::sharpen_onsets(Noise& noise, const std::vector<double>& offsets, const FrameTransform& window) {
  const std::size_t F = noise.times.size(), B = noise.bands();
  if (F < 3 || offsets.size() != F) return;
  const double hop = noise.times[1] - noise.times[0], half = window.half_seconds();
  Noise out;
  out.edges = noise.edges;
  std::size_t next = 0;  // frames before it are in out
  for (std::size_t j = 1; j < F; ++j) {
    if (!(offsets[j] >= kOnsetLate * hop) || !(total(noise, j) > kOnsetRise * total(noise, j - 1))) continue;
    // Where noise that goes on through the window would start, but no more than a few
    // milliseconds before the centre of its energy: a hit that dies away has its centre near
    // its start, and noise heard before a hit is worse than a hit's first milliseconds lost.
    // The frame that first sees the rise sees it at its window's edge, where what sounded
    // before outweighs it and draws the centre back: the next frame, which sees it nearer its
    // centre, tells the later, truer time.
    const auto start = [&](std::size_t k) { return noise.times[k] + std::max(window.onset(offsets[k]), offsets[k] - kOnsetLead); };
    const double onset = j + 1 < F ? std::max(start(j), start(j + 1)) : start(j);
    // Before it: the last frame whose window ends before the onset; after it, the first whose
    // window starts after it.
    std::size_t before = j - 1;
    while (before > 0 && noise.times[before] + half > onset) --before;
    std::size_t after = j;
    while (after + 1 < F && noise.times[after] - half < onset) ++after;
    if (before + 1 < next || !(onset - kOnsetRamp > noise.times[before]) || !(onset < noise.times[after])) continue;
    // The frames up to `before` as they are; those between it and the onset at its level.
    for (; next <= before; ++next) {
      out.times.push_back(noise.times[next]);
      out.power.insert(out.power.end(), noise.frame(next), noise.frame(next) + B);
    }
    for (; next < F && noise.times[next] < onset - kOnsetRamp; ++next) {
      out.times.push_back(noise.times[next]);
      out.power.insert(out.power.end(), noise.frame(before), noise.frame(before) + B);
    }
    // At it: as loud as the first frame after it (whose window reaches back before the onset,
    // so that the energy moved off the frames before it is not made up twice); the frames
    // after it as they were measured.
    while (next < F && noise.times[next] <= onset) ++next;
    if (next == F) break;
    out.times.push_back(onset - kOnsetRamp);
    out.power.insert(out.power.end(), noise.frame(before), noise.frame(before) + B);
    out.times.push_back(onset);
    out.power.insert(out.power.end(), noise.frame(next), noise.frame(next) + B);
    j = next;
  }
  for (; next < F; ++next) {
    out.times.push_back(noise.times[next]);
    out.power.insert(out.power.end(), noise.frame(next), noise.frame(next) + B);
  }
  noise = std::move(out);
}

}  // namespace zarn
