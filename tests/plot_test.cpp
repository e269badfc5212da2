// The picture: its names, and a file with one line per partial that has
// points and the input's breakpoints beside it.
#include "render/plot.hpp"

#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "support.hpp"

#include "model/failure.hpp"
#include "formats/formats.hpp"
#include "fit/resample.hpp"

namespace {

// A picture's kind comes from its name's ending: .svg or .png, or none for SVG.
TEST(Plot, PictureNames) {
  const struct {
    const char* name;
    bool ok;
  } cases[] = {{"a.svg", true}, {"A.PNG", true}, {"plot", true}, {"dir.d/plot", true}, {".hidden", true},
               {"a.jpg", false}, {"a.pdf", false}, {"a.svg.gz", false}};
  for (const auto& c : cases) {
    bool ok = true;
    try {
      zarn::check_picture_name(c.name);
    } catch (const zarn::Failure&) {
      ok = false;
    }
    EXPECT_EQ(ok, c.ok) << c.name;
  }
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Lines and dots in a few shades of their levels, one path each, with no gradients; the
// zoom, the floor and the dots as asked.
TEST(Plot, ShadesOfLinesAndDotsAsAsked) {
  const zarn::PartialSet read = zarn::read_input(
      "( PARTIALS 3\n( POINTS 4\n0 440 -20\n0.1 450 -30\n0.2 445 -90\n0.3 440 -10\n)\n"
      "( POINTS 1\n0.05 880 -20\n)\n( POINTS 2\n0 1000 -200\n0.2 1100 0\n)\n)\n",
      "a<b>&\"c\".txt");
  zarn::ResampledSet set = zarn_test::lay_grid(read, 0.05, "in");
  zarn::resample(read, set);
  const auto picture = [&](const zarn::PlotOptions& o) {
    std::string svg;
    zarn::Output out(&svg);
    zarn::write_plot(out, set, &read, o);
    out.flush();
    return svg;
  };
  const zarn::PlotOptions plain{"a<b>&\"c\".txt", 0.05, false};
  for (bool log : {false, true}) {
    zarn::PlotOptions o = plain;
    o.log_frequency = log;
    const std::string svg = picture(o);
    EXPECT_GE(count(svg, "class=\"partial\""), 2u);  // the levels of the lines: at least two shades
    EXPECT_LE(count(svg, "class=\"partial\""), 10u);
    EXPECT_EQ(count(svg, "<linearGradient"), 0u);
    EXPECT_NE(svg.find("a&lt;b&gt;&amp;&quot;c&quot;.txt, step 0.05, 3 partials"), std::string::npos);
    EXPECT_EQ(svg.find("nan"), std::string::npos);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
  }
  zarn::PlotOptions later = plain;
  later.range = std::pair<double, double>(5, 6);  // after everything
  EXPECT_EQ(count(picture(later), "class=\"partial\""), 0u);
  EXPECT_EQ(count(picture(later), "class=\"breakpoints\""), 0u);
  zarn::PlotOptions loud = plain;
  loud.floor_db = 1;  // above every level
  EXPECT_EQ(count(picture(loud), "class=\"partial\""), 0u);
  zarn::PlotOptions no_dots = plain;
  no_dots.dots = false;
  EXPECT_EQ(count(picture(no_dots), "class=\"breakpoints\""), 0u);
  EXPECT_GE(count(picture(no_dots), "class=\"partial\""), 2u);
  EXPECT_EQ(count(picture(plain), "class=\"noise\""), 0u);
  // Noise beneath the lines: two bands over ten frames, one steady (one area), one that steps
  // up once (an area of each shade), each shade one path; a silent band draws nothing.
  set.noise.edges = {0, 500, 1000, 2000};
  for (int j = 0; j < 10; ++j) {
    set.noise.times.push_back(0.03 * j);
    set.noise.power.insert(set.noise.power.end(), {1e-4, j < 5 ? 1e-6 : 1e-2, 0.0});
  }
  const std::string svg = picture(plain);
  EXPECT_GE(count(svg, "class=\"noise\""), 2u);
  EXPECT_EQ(count(svg, "Z"), 3u);  // three areas
  EXPECT_LT(svg.find("class=\"noise\""), svg.find("class=\"partial\""));
}

// The subpaths of every path of one class, as absolute points: the path data is m, l and h
// commands with numbers relative to the current point.
std::vector<std::vector<std::pair<double, double>>> subpaths(const std::string& svg, const std::string& kind) {
  std::vector<std::vector<std::pair<double, double>>> all;
  const std::string mark = "class=\"" + kind + "\"";
  for (std::size_t at = svg.find(mark); at != std::string::npos; at = svg.find(mark, at + 1)) {
    const std::size_t from = svg.find(" d=\"", at) + 4;
    const std::string d = svg.substr(from, svg.find('"', from) - from);
    double x = 0, y = 0;
    char command = 'm';
    const char* p = d.c_str();
    while (*p != '\0') {
      if (*p == ' ') {
        ++p;
        continue;
      }
      if (*p == 'm' || *p == 'l' || *p == 'h') command = *p++;
      char* end = nullptr;
      const double a = std::strtod(p, &end);
      p = end;
      if (command == 'h') {
        x += a;
        all.back().emplace_back(x, y);
        continue;
      }
      const double b = std::strtod(p, &end);
      p = end;
      x += a, y += b;
      if (command == 'm') all.emplace_back();
      all.back().emplace_back(x, y);
      if (command == 'm') command = 'l';  // pairs after a move are lines
    }
  }
  return all;
}

// How far a point lies from the nearest segment (or lone point) of the subpaths.
double distance(const std::vector<std::vector<std::pair<double, double>>>& paths, double x, double y) {
  double best = INFINITY;
  for (const auto& sub : paths)
    for (std::size_t i = 0; i < sub.size(); ++i) {
      const auto [ax, ay] = sub[i];
      const auto [bx, by] = i + 1 < sub.size() ? sub[i + 1] : sub[i];
      const double dx = bx - ax, dy = by - ay, length2 = dx * dx + dy * dy;
      const double u = length2 > 0 ? std::clamp(((x - ax) * dx + (y - ay) * dy) / length2, 0.0, 1.0) : 0.0;
      best = std::min(best, std::hypot(ax + u * dx - x, ay + u * dy - y));
    }
  return best;
}

// The picture of the input resampled at `step` (into `set`), 0 to 10 s and 0 to 2 kHz: a pixel
// is 1/110 s wide and 10/3 Hz high.
std::string picture_in_view(const zarn::PartialSet& read, double step, zarn::ResampledSet& set) {
  set = zarn_test::lay_grid(read, step, "in");
  zarn::resample(read, set);
  zarn::PlotOptions o{"in", step, false};
  o.range = std::pair<double, double>(0, 10);
  o.band = std::pair<double, double>(0, 2000);
  std::string svg;
  zarn::Output out(&svg);
  zarn::write_plot(out, set, &read, o);
  out.flush();
  return svg;
}

// A dense partial, far more points than pixels, draws a line through its pixels: every point
// within a third of a pixel of it, with points of the order of its pixels, not of its data.
// Dots are merged at the pixels: each falls within half a pixel's diagonal of its place, a
// pixel is drawn once in the shade of its loudest dot, and runs of a row are one stroke.
TEST(Plot, BoundedByPixels) {
  zarn::PartialSet read;
  zarn::Partial dense, sparse, twin;
  for (int i = 0; i <= 20000; ++i) {
    const double t = i * 0.0005;  // 10 s at 0.5 ms: 20,000 points over 1,100 pixels
    dense.time.push_back(t);
    dense.freq.push_back(1000 + 50 * std::sin(2 * M_PI * 0.5 * t));  // ±15 pixels, slowly
    dense.amp.push_back(0.5);
  }
  for (int i = 0; i < 5; ++i) {  // dots 2 seconds (220 pixels) apart
    sparse.time.push_back(2.0 * i);
    sparse.freq.push_back(1508.3);  // within a pixel (y 197.51)
    sparse.amp.push_back(0.5);
  }
  twin = sparse;
  for (double& f : twin.freq) f += 0.01;  // on the same pixels, quieter
  for (double& a : twin.amp) a = 0.01;
  read.partials = {dense, sparse, twin};
  zarn::ResampledSet set;
  const std::string svg = picture_in_view(read, 0.001, set);
  const auto x = [](double t) { return 80 + t / 10 * 1100; };
  const auto y = [](double f) { return 650 - f / 2000 * 600; };
  const auto lines = subpaths(svg, "partial"), dots = subpaths(svg, "breakpoints");
  std::size_t points = 0;
  for (const auto& sub : lines) points += sub.size();
  EXPECT_LT(points, 400u);  // 10,000 resampled points
  double worst = 0;
  for (int j = 0; j < set.partials[0].N(); ++j)
    worst = std::max(worst, distance(lines, x(set.partials[0].time[j]), y(set.partials[0].freq[j])));
  EXPECT_LT(worst, 0.3);  // a quarter of a pixel, and the rounding to tenths
  worst = 0;
  for (std::size_t i = 0; i < dense.time.size(); i += 7) worst = std::max(worst, distance(dots, x(dense.time[i]), y(dense.freq[i])));
  EXPECT_LT(worst, 0.71);
  points = 0;
  for (const auto& sub : dots) points += sub.size();
  EXPECT_LT(points, 2400u);  // 20,000 dots, over some 1,100 by 30 pixels
  // The sparse dots, each a square on its pixel's centre, drawn once though the twin's fall
  // there too.
  std::size_t lone = 0;
  for (const auto& sub : dots)
    if (sub.size() == 2 && std::fabs(sub[0].second - 197.5) < 0.01 && sub[1].second == sub[0].second &&
        std::fabs(sub[1].first - sub[0].first - 2.5) < 0.11)
      ++lone;
  EXPECT_EQ(lone, 5u);
  for (int i = 0; i < 5; ++i)
    EXPECT_LT(distance(dots, x(2.0 * i), y(1508.3)), 0.71) << i;
  // Of the two shades on those pixels, the louder's: the quieter twin's shade is not drawn.
  EXPECT_EQ(count(svg, "class=\"breakpoints\""), 1u);
}

// A row of dots whose levels waver between two neighbouring shades is one stroke, in the shade
// of its first pixel, as a line's run is; levels two shades apart break it at every pixel.
TEST(Plot, DotsWaveringByAShadeStayOneStroke) {
  const double loud = 0.5;
  double near = loud;  // a shade below, and two
  while (zarn::picture_shade(near) == zarn::picture_shade(loud)) near *= 0.9;
  double far = near;
  while (zarn::picture_shade(far) == zarn::picture_shade(near)) far *= 0.9;
  for (const auto& [other, strokes] : {std::pair<double, std::size_t>{near, 1}, std::pair<double, std::size_t>{far, 200}}) {
    zarn::PartialSet read;
    zarn::Partial row;
    for (int i = 0; i < 200; ++i) {  // 200 pixels at 1,000 Hz, a dot on each
      row.time.push_back(1 + (i + 0.5) / 110.0);
      row.freq.push_back(1000);
      row.amp.push_back(i % 2 == 0 ? loud : other);
    }
    read.partials = {row};
    zarn::ResampledSet set;
    EXPECT_EQ(subpaths(picture_in_view(read, 0.01, set), "breakpoints").size(), strokes) << other;
  }
}

}  // namespace

