// The Python module `zarn`: the tool's readers, grid, spline, writers and resynthesis on
// numpy arrays, with the same arithmetic to the last bit.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "analysis/analysis.hpp"
#include "model/failure.hpp"
#include "formats/formats.hpp"
#include "render/info.hpp"
#include "edit/edits.hpp"
#include "edit/formants.hpp"
#include "edit/fundamental.hpp"
#include "edit/harmonic.hpp"
#include "edit/keep.hpp"
#include "edit/morph.hpp"
#include "model/partials.hpp"
#include "fit/resample.hpp"
#include "io/save.hpp"
#include "edit/scale.hpp"
#include "render/sound.hpp"
#include "fit/spline.hpp"

#ifndef ZARN_VERSION
#define ZARN_VERSION "0.0.0"
#endif

namespace py = pybind11;

namespace {

using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;

// A numpy array that takes over a vector's memory, without copying it.
Array to_numpy(std::vector<double>&& v) {
  auto* owned = new std::vector<double>(std::move(v));
  py::capsule free_when_done(owned, [](void* p) { delete static_cast<std::vector<double>*>(p); });
  return Array(static_cast<py::ssize_t>(owned->size()), owned->data(), free_when_done);
}

std::vector<double> to_vector(const Array& a) { return std::vector<double>(a.data(), a.data() + a.size()); }

// zarn.Error, raised with the tool's own message (without its "zarn: " and newline).
py::object& error_type() {
  static py::object type;
  return type;
}

// A failure as the exception of its kind, with the tool's message (without its "zarn: " and
// newline): zarn.Error for bad input, OSError with its errno where the system refused,
// MemoryError.
[[noreturn]] void raise_failure(const zarn::Failure& f) {
  std::string m = f.message;
  if (m.rfind("zarn: ", 0) == 0) m.erase(0, 6);
  while (!m.empty() && m.back() == '\n') m.pop_back();
  switch (f.kind) {
    case zarn::FailureKind::kFileSystem:
      PyErr_SetObject(PyExc_OSError, py::make_tuple(f.error, m).ptr());
      break;
    case zarn::FailureKind::kOutOfMemory:
      PyErr_SetString(PyExc_MemoryError, m.c_str());
      break;
    case zarn::FailureKind::kBadInput:
      PyErr_SetString(error_type().ptr(), m.c_str());
      break;
  }
  throw py::error_already_set();
}

// A path for the system: one with a NUL byte would be cut short there.
void check_path(const std::string& path) {
  if (path.find('\0') != std::string::npos) throw py::value_error("the path holds a NUL byte");
}

// A path given as str, bytes or any os.PathLike, as the system takes it.
std::string path_of(const py::object& path) {
  const py::object p = py::module_::import("os").attr("fspath")(path);  // TypeError for anything else
  std::string s = py::isinstance<py::bytes>(p) ? std::string(py::bytes(p)) : p.cast<std::string>();
  check_path(s);
  return s;
}

// An array-like of real numbers as a contiguous float64 array; numpy's MemoryError for one too
// large, TypeError naming `name` for complex numbers or anything that is not a number.
Array real_array(const py::handle& values, const char* name) {
  const py::module_ np = py::module_::import("numpy");
  const py::array a = np.attr("asarray")(values);
  const char kind = a.dtype().kind();
  if (kind == 'c')
    throw py::type_error(std::string(name) + " holds complex numbers: pass their real part or their magnitude (numpy.real, numpy.abs)");
  if (kind != 'f' && kind != 'i' && kind != 'u')
    throw py::type_error(std::string(name) + " must hold real numbers, not " + std::string(py::str(a.dtype())));
  return np.attr("ascontiguousarray")(a, py::arg("dtype") = "float64").cast<Array>();
}

// Samples as float64 at full scale 1.0: floats as they are, integers scaled by their type's
// full scale as sound files hold them (int16 by 32768; unsigned ones about their middle).
Array sample_array(const py::handle& values) {
  const py::module_ np = py::module_::import("numpy");
  const py::array a = np.attr("asarray")(values);
  const char kind = a.dtype().kind();
  if (kind == 'b') throw py::type_error("samples must be numbers, not booleans");
  const Array x = real_array(a, "samples");
  if (kind != 'i' && kind != 'u') return x;
  const double half = std::ldexp(1.0, static_cast<int>(a.itemsize()) * 8 - 1);  // 32768 for 16 bits
  const double offset = kind == 'u' ? half : 0.0;
  // Whole numbers below 2^53 and a power of two: the quotient is exact for 8, 16 and 32 bits.
  return np.attr("divide")(np.attr("subtract")(x, offset), half).cast<Array>();
}

[[noreturn]] void raise_os_error(int error, const std::string& path) {
  errno = error;
  PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
  throw py::error_already_set();
}

// Runs work without the interpreter lock, turning a Failure into zarn.Error.
template <typename Work>
auto unlocked(Work work) {
  std::optional<zarn::Failure> failed;
  decltype(work()) result{};
  {
    py::gil_scoped_release release;
    try {
      result = work();
    } catch (const zarn::Failure& f) {
      failed = f;
    }
  }
  if (failed) raise_failure(*failed);
  return result;
}

// The value checks of a partial's breakpoints, made on the arrays where they lie and without
// the interpreter lock.
void check_values(const zarn::Breakpoints& b) {
  for (int i = 0; i < b.M; ++i) {
    if (!std::isfinite(b.time[i])) throw py::value_error("time " + std::to_string(i) + " is not finite");
    if (i > 0 && !(b.time[i] > b.time[i - 1])) throw py::value_error("time " + std::to_string(i) + " is not later than the time before it");
    if (std::isnan(b.freq[i])) throw py::value_error("frequency " + std::to_string(i) + " is not a number");
    if (!std::isfinite(b.amp[i])) throw py::value_error("amplitude " + std::to_string(i) + " is not finite");
    if (b.phase != nullptr && !std::isfinite(b.phase[i])) throw py::value_error("phase " + std::to_string(i) + " is not finite");
  }
}

// One partial: times, frequencies and linear amplitudes as float64 arrays of one length, and
// phases where they are known.
struct Partial {
  Array time, freq, amp;
  std::optional<Array> phase;  // radians, as A cos(phase); none where not known
  zarn::Origin origin;  // the stream, track type and index it was read with, for SDIF

  Partial(Array t, Array f, Array a, int stream = 0, bool harmonic = false, long long index = 0, std::optional<Array> ph = std::nullopt)
      : time(std::move(t)), freq(std::move(f)), amp(std::move(a)), phase(std::move(ph)), origin{stream, harmonic, index} {
    check_values(breakpoints());
  }
  // A partial that the library made, whose values hold already.
  struct Checked {};
  Partial(Checked, Array t, Array f, Array a, zarn::Origin o, std::optional<Array> ph = std::nullopt)
      : time(std::move(t)), freq(std::move(f)), amp(std::move(a)), phase(std::move(ph)), origin(o) {}

  // The arrays, their shapes checked, as the library reads them. They are the caller's and
  // may have been changed since they were given: their values are checked again before use,
  // and they must not be changed while a call runs (the objects keep them alive).
  zarn::Breakpoints breakpoints() const {
    if (time.ndim() != 1 || freq.ndim() != 1 || amp.ndim() != 1) throw py::value_error("time, freq and amp must be one-dimensional");
    if (freq.size() != time.size() || amp.size() != time.size())
      throw py::value_error("time, freq and amp must have the same length, not " + std::to_string(time.size()) + ", " +
                            std::to_string(freq.size()) + " and " + std::to_string(amp.size()));
    if (time.size() > 2147483647) throw py::value_error("a partial holds at most 2147483647 breakpoints");
    if (phase && (phase->ndim() != 1 || phase->size() != time.size()))
      throw py::value_error("phase must be one-dimensional and as long as time, not of " + std::to_string(phase->size()) + " values");
    return {time.data(), freq.data(), amp.data(), static_cast<int>(time.size()), phase ? phase->data() : nullptr};
  }
};

template <typename Tracks>
Partial from_tracks(Tracks&& p) {
  std::optional<Array> phase;
  if (!p.phase.empty() && p.phase.size() == p.time.size()) phase = to_numpy(std::move(p.phase));
  return Partial(Partial::Checked{}, to_numpy(std::move(p.time)), to_numpy(std::move(p.freq)), to_numpy(std::move(p.amp)),
                 p.origin, std::move(phase));
}

// The partials argument: a sequence of zarn.Partial, or TypeError that names what is not
// one (never the repr of all of them).
std::vector<Partial> partials_of(const py::handle& partials) {
  if (py::isinstance<py::str>(partials) || !py::hasattr(partials, "__iter__"))
    throw py::type_error("partials must be a sequence of zarn.Partial, not of type " + std::string(py::str(py::type::handle_of(partials).attr("__name__"))));
  std::vector<Partial> out;
  std::size_t i = 0;
  for (const py::handle item : partials) {
    if (!py::isinstance<Partial>(item))
      throw py::type_error("partials[" + std::to_string(i) + "] is of type " + std::string(py::str(py::type::handle_of(item).attr("__name__"))) +
                           ", not a zarn.Partial");
    out.push_back(item.cast<const Partial&>());
    ++i;
  }
  return out;
}

// A read-only view of one of a partial's arrays: `p.amp *= 2` fails before it changes
// anything, and new values go through zarn.Partial(...) or the functions that make partials.
py::array read_only(const Array& a) {
  py::array view = a.attr("view")();
  view.attr("setflags")(py::arg("write") = false);
  return view;
}

// The partials' arrays, shapes checked with the interpreter lock held, for reading without it.
std::vector<zarn::Breakpoints> breakpoints_of(const std::vector<Partial>& partials) {
  std::vector<zarn::Breakpoints> views;
  views.reserve(partials.size());
  for (const Partial& p : partials) views.push_back(p.breakpoints());
  return views;
}

// The given partials' breakpoints, checked, as partials read (to be edited), or as resampled
// ones (to be written or rendered): copies, made without the interpreter lock.
template <typename Set>
Set to_set(const std::vector<Partial>& partials) {
  const std::vector<zarn::Breakpoints> views = breakpoints_of(partials);
  return unlocked([&] {
    Set set;
    set.partials.resize(views.size());
    for (std::size_t p = 0; p < views.size(); ++p) {
      const zarn::Breakpoints& b = views[p];
      check_values(b);
      auto& part = set.partials[p];
      part.time.assign(b.time, b.time + b.M);
      part.freq.assign(b.freq, b.freq + b.M);
      part.amp.assign(b.amp, b.amp + b.M);
      if (b.phase != nullptr) part.phase.assign(b.phase, b.phase + b.M);
      part.origin = partials[p].origin;
      if constexpr (std::is_same_v<Set, zarn::PartialSet>) part.place = static_cast<double>(p) + 1;  // its number, in messages
    }
    return set;
  });
}

// The partials of a file, read without the interpreter lock; OSError where it cannot be opened.
zarn::PartialSet read_path(const std::string& path) {
  check_path(path);
  const int fd = zarn::open_input(path);
  if (fd < 0) raise_os_error(errno, path);
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    if (fd > 2) ::close(fd);
    raise_os_error(EISDIR, path);
  }
  zarn::PartialSet set;
  try {
    set = unlocked([&] { return zarn::read_input(fd, path); });
  } catch (...) {
    if (fd > 2) ::close(fd);
    throw;
  }
  if (fd > 2) ::close(fd);
  return set;
}

// zarn.Partials: a list of partials that may carry the noise beside them (its `noise`, a
// zarn.Noise or None), so that code written for lists of partials goes on working.
py::object& partials_type() {
  static py::object type;
  return type;
}

// The partials as zarn.Partials, with the noise where there is some.
template <typename Tracks>
py::object to_partials(std::vector<Tracks>& parts, zarn::Noise&& noise, bool analysed = false) {
  std::vector<Partial> out;
  out.reserve(parts.size());
  for (Tracks& p : parts) out.push_back(from_tracks(std::move(p)));
  py::object list = partials_type()(py::cast(std::move(out)));
  if (!noise.empty()) list.attr("noise") = py::cast(std::move(noise));
  if (analysed) list.attr("analysed") = true;
  return list;
}

// Whether partials came from the analysis of a sound (their `analysed`), which chooses the
// default fit as the tool's does.
bool analysed_of(const py::handle& partials) {
  return py::hasattr(partials, "analysed") && py::bool_(partials.attr("analysed"));
}

// The noise that a sequence of partials carries (its `noise`), or none.
zarn::Noise noise_of(const py::handle& partials) {
  if (!py::hasattr(partials, "noise")) return {};
  const py::object n = partials.attr("noise");
  if (n.is_none()) return {};
  if (!py::isinstance<zarn::Noise>(n)) throw py::type_error("partials.noise must be a zarn.Noise or None");
  return n.cast<zarn::Noise>();
}

// A zarn.Noise from array-likes, checked: times finite and rising, edges rising from 0 or
// above, a power (mean square, 0 or above) for every frame and band.
zarn::Noise make_noise(const py::object& times_in, const py::object& edges_in, const py::object& power_in) {
  const Array times = real_array(times_in, "times"), edges = real_array(edges_in, "edges"), power = real_array(power_in, "power");
  if (times.ndim() != 1 || edges.ndim() != 1) throw py::value_error("times and edges must be one-dimensional");
  if (edges.size() < 2) throw py::value_error("edges must hold at least two frequencies (one band)");
  const auto frames = static_cast<std::size_t>(times.size()), bands = static_cast<std::size_t>(edges.size()) - 1;
  if (power.ndim() != 2 || static_cast<std::size_t>(power.shape(0)) != frames || static_cast<std::size_t>(power.shape(1)) != bands)
    throw py::value_error("power must be frames by bands: " + std::to_string(frames) + " by " + std::to_string(bands));
  zarn::Noise noise;
  noise.times = to_vector(times);
  noise.edges = to_vector(edges);
  noise.power = to_vector(power);
  for (std::size_t j = 0; j < frames; ++j)
    if (!std::isfinite(noise.times[j]) || (j > 0 && !(noise.times[j] > noise.times[j - 1]))) throw py::value_error("times must be finite and rising");
  for (std::size_t b = 0; b <= bands; ++b)
    if (!std::isfinite(noise.edges[b]) || noise.edges[b] < 0 || (b > 0 && !(noise.edges[b] > noise.edges[b - 1])))
      throw py::value_error("edges must be finite, from 0 up and rising");
  for (double v : noise.power)
    if (!std::isfinite(v) || v < 0) throw py::value_error("power must hold finite numbers, 0 or above");
  return noise;
}

py::object read_file(const py::object& path) {
  zarn::PartialSet set = read_path(path_of(path));
  const bool analysed = set.places == zarn::PartialSet::Places::kSeconds;
  return to_partials(set.partials, std::move(set.noise), analysed);
}

py::object resample(const py::object& partials_in, double step, bool align, const std::optional<std::string>& fit_name, bool whole) {
  const std::vector<Partial> partials = partials_of(partials_in);
  if (!(step > 0) || !std::isfinite(step)) throw py::value_error("the time step must be a number above zero");
  std::optional<zarn::Fit> fit = analysed_of(partials_in) ? zarn::Fit::kMonotone : zarn::Fit::kSpline;
  if (fit_name) fit = zarn::fit_named(*fit_name);
  if (!fit) throw py::value_error("unknown fit '" + *fit_name + "' (" + zarn::fit_names() + ")");
  // The breakpoints are fitted where they lie, without a copy. The grid depends only on each
  // partial's first and last times, which are all the planning set holds.
  const std::vector<zarn::Breakpoints> views = breakpoints_of(partials);
  zarn::ResampledSet grid = unlocked([&] {
    zarn::PartialSet ends;
    ends.partials.resize(views.size());
    for (std::size_t p = 0; p < views.size(); ++p) {
      const zarn::Breakpoints& b = views[p];
      check_values(b);
      if (const double apart = zarn::too_close(b, *fit); apart > 0) {
        char what[200];
        std::snprintf(what, sizeof what, "partial %zu: two breakpoints lie %g s apart, too close for the %s fit; fit='linear' joins them", p,
                      apart, std::string(zarn::fit_table()[static_cast<std::size_t>(*fit)].name).c_str());
        throw py::value_error(what);
      }
      zarn::Partial& end = ends.partials[p];
      if (b.M > 0) end.time.push_back(b.time[0]);
      if (b.M > 1) end.time.push_back(b.time[b.M - 1]);
      end.place = static_cast<double>(p) + 1;  // its number, in messages
    }
    const zarn::GridKind kind = align ? zarn::GridKind::kAligned : whole ? zarn::GridKind::kWhole : zarn::GridKind::kOwn;
    const zarn::GridPlan plan = zarn::plan_grid(ends, step, kind, "partials");
    zarn::ResampledSet g = zarn::planned_set(plan);
    for (std::size_t p = 0; p < views.size(); ++p) zarn::lay_and_fit(plan, p, views[p], partials[p].origin, *fit, g.partials[p]);
    return g;
  });
  return to_partials(grid.partials, noise_of(partials_in));  // the noise as it was, on its own frames
}

// The figures and text of one edit option's value as Python gives it, read by its kind; false
// for a flag given as False (not chosen).
bool edit_figures(const zarn::EditOption& row, const std::string& key, const py::handle value, double (&figures)[2], std::string& text) {
  char shown[64];
  switch (row.kind) {
    case zarn::EditOption::Kind::kNumber:
      figures[0] = value.cast<double>();
      if (!std::isfinite(figures[0])) throw py::value_error(key + " must be a finite number");
      std::snprintf(shown, sizeof shown, "%.17g", figures[0]);
      break;
    case zarn::EditOption::Kind::kRange: {
      const auto [lo, hi] = value.cast<std::pair<double, double>>();
      figures[0] = lo, figures[1] = hi;
      std::snprintf(shown, sizeof shown, "%.17g:%.17g", lo, hi);
      break;
    }
    case zarn::EditOption::Kind::kCount: {
      const long long n = value.cast<long long>();
      if (n < 0 || n > 2147483647) throw py::value_error(key + " must be a whole number from 0 to 2147483647");
      figures[0] = static_cast<double>(n);
      std::snprintf(shown, sizeof shown, "%lld", n);
      break;
    }
    case zarn::EditOption::Kind::kFlag:
      if (!value.cast<bool>()) return false;
      figures[0] = 1;
      shown[0] = '\0';
      break;
    case zarn::EditOption::Kind::kCurve:
      throw py::value_error(key + " must be a sequence of (time, value) pairs");
  }
  text = shown;
  return true;
}

// A curve given as (time, value) pairs, as its option takes it typed T:V,...; false where the
// value is one number (left to the row's own parsing).
bool edit_curve(const zarn::EditOption& row, const std::string& key, const py::handle value, zarn::EditOptions& options) {
  if (row.curve == nullptr || py::isinstance<py::float_>(value) || py::isinstance<py::int_>(value)) return false;
  std::string text;
  char shown[80];
  for (const auto pair : value) {
    const auto [t, v] = pair.cast<std::pair<double, double>>();
    std::snprintf(shown, sizeof shown, "%s%.17g:%.17g", text.empty() ? "" : ",", t, v);
    text += shown;
  }
  const std::string problem = zarn::set_breakpoints(row, text, false, options);
  if (!problem.empty()) throw py::value_error(key + ": " + problem);
  return true;
}

// One option of the edits set from its value as Python gives it.
void edited_option(const zarn::EditOption& row, const std::string& key, const py::handle value, zarn::EditOptions& options) {
  double figures[2] = {0, 0};
  std::string text;
  if (!edit_figures(row, key, value, figures, text)) return;
  std::string problem = row.set(figures, text, options);
  // The option's message, naming the keyword rather than the tool's option.
  const std::string option = "--" + std::string(row.name) + (text.empty() ? "" : "=" + text);
  if (problem.compare(0, option.size(), option) == 0) problem = key + problem.substr(option.size());
  if (!problem.empty()) throw py::value_error(problem);
}

// Partials edited as the tool's edit options edit them, from the table of edits: each key an
// option's name with '_' for '-', its value as the option takes it (a number, a pair (lo, hi),
// a whole number, or True; for a change over time, (time, value) pairs), the edits applied in
// the table's order. step, fit, align and whole name the grid the partials will be resampled
// on, where a change over time remakes them on its points.
py::object edited(const py::object& partials_in, const py::dict& given) {
  zarn::EditOptions options;
  // The grid the partials will be resampled on, where changes over time remake them on it.
  bool align = false, whole = false;
  std::optional<zarn::Fit> fit;
  for (const auto item : given) {
    const std::string key = py::str(item.first);
    if (key == "step") {
      options.shape.step = item.second.cast<double>();
      if (!(options.shape.step > 0) || !std::isfinite(options.shape.step)) throw py::value_error("the time step must be a number above zero");
      continue;
    }
    if (key == "align" || key == "whole") {
      (key == "align" ? align : whole) = item.second.cast<bool>();
      continue;
    }
    if (key == "fit") {
      const std::string name = item.second.cast<std::string>();
      fit = zarn::fit_named(name);
      if (!fit) throw py::value_error("unknown fit '" + name + "' (" + zarn::fit_names() + ")");
      continue;
    }
    std::string name = key;
    std::replace(name.begin(), name.end(), '_', '-');
    const zarn::EditOption* row = nullptr;
    std::string names;
    for (const zarn::EditOption& e : zarn::edit_options()) {
      if (e.name == name) row = &e;
      std::string n(e.name);
      std::replace(n.begin(), n.end(), '-', '_');
      names += (names.empty() ? "" : ", ") + n;
    }
    if (row == nullptr) throw py::type_error("no edit named '" + key + "' (" + names + ")");
    if (edit_curve(*row, key, item.second, options)) continue;
    // Holds given as a list of (time, seconds): each in turn.
    if (row->kind == zarn::EditOption::Kind::kRange && py::isinstance<py::list>(item.second)) {
      for (const auto one : item.second) edited_option(*row, key, one, options);
      continue;
    }
    edited_option(*row, key, item.second, options);
  }
  if (std::string problem = zarn::combination_problem(options); !problem.empty()) {
    // Named by the keywords rather than the tool's options.
    for (const auto& [option, keyword] : {std::pair<std::string, std::string>{"--time-scale", "time_scale"}, {"--warp", "warp"}, {"--keep-attacks", "keep_attacks"}})
      for (std::size_t at; (at = problem.find(option)) != std::string::npos;) problem.replace(at, option.size(), keyword);
    throw py::value_error(problem);
  }
  options.shape.grid = align ? zarn::GridKind::kAligned : whole ? zarn::GridKind::kWhole : zarn::GridKind::kOwn;
  options.shape.fit = fit.value_or(analysed_of(partials_in) ? zarn::Fit::kMonotone : zarn::Fit::kSpline);
  zarn::PartialSet set = to_set<zarn::PartialSet>(partials_of(partials_in));
  set.noise = noise_of(partials_in);
  try {
    unlocked([&] {
      zarn::apply_edits(set, zarn::chosen_edits(options, "partials"));
      return 0;
    });
  } catch (const zarn::Failure& failure) {
    raise_failure(failure);
  }
  return to_partials(set.partials, std::move(set.noise), analysed_of(partials_in));
}

// Partials edited by a recipe that the browser page saved: its JSON text, a path to its file,
// or the recipe as Python values (a dict).
py::object apply(const py::object& partials_in, const py::object& recipe) {
  std::string text, name = "recipe";
  const bool is_text = py::isinstance<py::str>(recipe) && recipe.cast<std::string>().find_first_not_of(" \t\r\n") != std::string::npos &&
                       recipe.cast<std::string>()[recipe.cast<std::string>().find_first_not_of(" \t\r\n")] == '{';
  if (is_text) {
    text = recipe.cast<std::string>();
  } else if (py::isinstance<py::str>(recipe) || py::hasattr(recipe, "__fspath__")) {
    // The file's bytes as the tool reads them: bounded, and not decoded (a name in the recipe
    // may be in any encoding).
    name = py::module_::import("os").attr("fsencode")(recipe).cast<std::string>();
    try {
      text = zarn::read_text_file(name, "the recipe " + name, 10.0);
    } catch (const zarn::Failure& failure) {
      raise_failure(failure);
    }
  } else {
    try {
      text = py::module_::import("json").attr("dumps")(recipe, py::arg("allow_nan") = false).cast<std::string>();
    } catch (py::error_already_set& e) {
      if (!e.matches(PyExc_ValueError)) throw;
      throw py::value_error("the recipe holds a number that is not finite (NaN or an infinity), which JSON cannot hold: " +
                            std::string(py::str(e.value())));
    }
  }
  zarn::PartialSet set = to_set<zarn::PartialSet>(partials_of(partials_in));
  set.noise = noise_of(partials_in);
  try {
    zarn::apply_recipe(set, zarn::parse_recipe(text, name), name);
  } catch (const zarn::Failure& failure) {
    raise_failure(failure);
  }
  return to_partials(set.partials, std::move(set.noise), analysed_of(partials_in));
}

py::object keep(const py::object& partials_in, std::optional<std::pair<double, double>> band, std::optional<double> min_duration,
                std::optional<double> min_level, std::optional<int> max_partials) {
  py::dict given;
  if (band) given["band"] = *band;
  if (min_duration) given["min_duration"] = *min_duration;
  if (min_level) given["min_level"] = *min_level;
  if (max_partials) given["max_partials"] = *max_partials;
  return edited(partials_in, given);
}

py::object scale(const py::object& partials_in, double time, double cents, double gain, bool keep_formants) {
  py::dict given;
  if (time != 1.0) given["time_scale"] = time;
  if (cents != 0.0) given["transpose"] = cents;
  if (gain != 0.0) given["gain"] = gain;
  if (keep_formants) given["keep_formants"] = true;
  return edited(partials_in, given);
}

// The analysis of samples as the library gives it.
zarn::PartialSet analyse_set(const py::object& samples_in, double rate, double resolution, std::optional<double> hop, double floor,
                             std::optional<double> min_track, std::optional<int> channel, bool noise, bool warp = true) {
  const Array samples = sample_array(samples_in);
  if (samples.ndim() != 1 && samples.ndim() != 2) throw py::value_error("samples must be one-dimensional, or frames by channels");
  const auto frames = static_cast<std::size_t>(samples.shape(0));
  const std::size_t channels = samples.ndim() == 2 ? static_cast<std::size_t>(samples.shape(1)) : 1;
  if (channels == 0) throw py::value_error("a sound needs at least one channel");
  if (channel && (*channel < 1 || static_cast<std::size_t>(*channel) > channels))
    throw py::value_error("channel must be from 1 to " + std::to_string(channels));
  zarn::AnalysisOptions options;
  options.resolution = resolution;
  options.hop = hop.value_or(0.0);
  options.floor = floor;
  options.min_track = min_track.value_or(0.0);
  options.noise = noise;
  options.warp = warp;
  const std::string problem = zarn::analysis_problem(options, rate, static_cast<long long>(frames));
  if (!problem.empty()) throw py::value_error(problem);
  // One channel, or their mean, copied before the interpreter lock is released.
  std::vector<double> mono(frames);
  const double* x = samples.data();
  for (std::size_t f = 0; f < frames; ++f) {
    if (channel) {
      mono[f] = x[f * channels + static_cast<std::size_t>(*channel - 1)];
    } else {
      double sum = 0;
      for (std::size_t c = 0; c < channels; ++c) sum += x[f * channels + c];
      mono[f] = sum / static_cast<double>(channels);
    }
    if (!std::isfinite(mono[f])) throw py::value_error("sample " + std::to_string(f) + " is not finite");
  }
  // Analysed a block at a time without the interpreter lock, which is taken between blocks to
  // see whether Ctrl-C was pressed.
  zarn::Analyser analyser(rate, options);
  constexpr std::size_t kBlock = 1 << 18;
  for (std::size_t at = 0; at < mono.size(); at += kBlock) {
    unlocked([&] {
      analyser.add(mono.data() + at, std::min(kBlock, mono.size() - at));
      return 0;
    });
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
  }
  return unlocked([&] { return analyser.finish(); });
}

py::object analyse(const py::object& samples_in, double rate, double resolution, std::optional<double> hop, double floor,
                   std::optional<double> min_track, std::optional<int> channel, bool noise, bool warp) {
  zarn::PartialSet set = analyse_set(samples_in, rate, resolution, hop, floor, min_track, channel, noise, warp);
  return to_partials(set.partials, std::move(set.noise), true);
}

// The fundamental of a sound (samples at `rate`, analysed as analyse() does, at its hop) or of
// partials (at every `step`), as three arrays: times, hertz (0 for none), confidence.
py::tuple fundamental(const py::object& source, std::optional<double> rate, std::optional<double> step, std::pair<double, double> range) {
  const std::string problem = zarn::fundamental_range_problem(range.first, range.second);
  if (!problem.empty()) throw py::value_error("range: " + problem);
  zarn::PartialSet set;
  double at = 0;
  if (rate) {
    set = analyse_set(source, *rate, 40.0, std::nullopt, -90.0, std::nullopt, std::nullopt, true);
    at = step.value_or(set.hop);
  } else {
    if (!step) throw py::value_error("the fundamental of partials needs the step between its times (step=...), or of samples their rate");
    set = to_set<zarn::PartialSet>(partials_of(source));
    set.noise = noise_of(source);
    at = *step;
  }
  if (!(at > 0) || !std::isfinite(at)) throw py::value_error("the time step must be a number above zero");
  zarn::Fundamental f = unlocked([&] { return zarn::fundamental(set, at, range.first, range.second); });
  return py::make_tuple(to_numpy(std::move(f.time)), to_numpy(std::move(f.freq)), to_numpy(std::move(f.confidence)));
}

// Harmonic partials, labelled with their harmonic numbers (Partial.index, Partial.harmonic).
py::object harmonic(const py::object& partials_in) {
  py::dict given;
  given["harmonic"] = true;
  return edited(partials_in, given);
}

// The morph of partials a towards b by w: a number, or (time, weight) pairs over a's seconds.
py::object morph(const py::object& a_in, const py::object& b_in, const py::object& w) {
  zarn::MorphWeight weight;
  if (py::isinstance<py::float_>(w) || py::isinstance<py::int_>(w)) {
    weight.points.emplace_back(0.0, w.cast<double>());
  } else {
    for (const py::handle item : w) {
      const auto [t, v] = item.cast<std::pair<double, double>>();
      weight.points.emplace_back(t, v);
    }
  }
  for (std::size_t i = 0; i < weight.points.size(); ++i)
    if (!(weight.points[i].second >= 0 && weight.points[i].second <= 1) || !std::isfinite(weight.points[i].first) ||
        (i > 0 && !(weight.points[i].first > weight.points[i - 1].first)))
      throw py::value_error("w must be a weight from 0 to 1, or (time, weight) pairs with times rising");
  if (weight.points.empty()) throw py::value_error("w must hold at least one weight");
  zarn::PartialSet a = to_set<zarn::PartialSet>(partials_of(a_in)), b = to_set<zarn::PartialSet>(partials_of(b_in));
  a.noise = noise_of(a_in), b.noise = noise_of(b_in);
  unlocked([&] {
    zarn::morph(a, b, weight);
    return 0;
  });
  return to_partials(a.partials, std::move(a.noise), analysed_of(a_in));
}

py::dict info(const py::object& path, double step) {
  if (!(step > 0) || !std::isfinite(step)) throw py::value_error("the time step must be a number above zero");
  const zarn::PartialSet set = read_path(path_of(path));
  const zarn::Info i = zarn::info_of(set, step);
  py::dict d;
  d["format"] = set.format;
  d["partials"] = i.partials;
  d["breakpoints"] = i.breakpoints;
  if (i.breakpoints > 0) {
    d["time_span"] = py::make_tuple(i.time_lo, i.time_hi);
    d["frequency_range"] = py::make_tuple(i.freq_lo, i.freq_hi);
    d["level_range"] = py::make_tuple(i.level_lo, i.level_hi);
    d["shortest"] = py::make_tuple(i.shortest, i.shortest_at - 1);
    d["longest"] = py::make_tuple(i.longest, i.longest_at - 1);
    d["shorter_than_step"] = i.shorter_than_step;
  }
  py::dict about;
  for (const auto& [name, value] : set.about) about[py::str(name)] = value;
  d["about"] = about;
  // Why nothing was read, as --info says it: only for an input that gave no breakpoints.
  if (i.breakpoints == 0 && !set.passed_over.empty()) d["passed_over"] = set.passed_over;
  return d;
}

Array spline(const py::object& x_like, const py::object& y_like, const py::object& xi_like) {
  const Array x_in = real_array(x_like, "x"), y_in = real_array(y_like, "y"), xi_in = real_array(xi_like, "xi");
  // Copied before the interpreter lock is released: another thread may change the caller's
  // arrays meanwhile.
  const std::vector<double> x = to_vector(x_in), y = to_vector(y_in), xi = to_vector(xi_in);
  const std::size_t n = x.size(), ni = xi.size();
  if (y.size() != n) throw py::value_error("x and y must have the same length");
  if (n < 1) throw py::value_error("the spline needs at least one knot");
  if (n > 2147483647 || ni > 2147483647) throw py::value_error("at most 2147483647 knots and times");
  for (std::size_t i = 0; i < n; ++i)
    if (!std::isfinite(x[i]) || (i > 0 && !(x[i] > x[i - 1]))) throw py::value_error("x must be finite and rising");
  for (std::size_t j = 0; j < ni; ++j)
    if (!(xi[j] >= x[0] && xi[j] <= x[n - 1]) || (j > 0 && xi[j] < xi[j - 1]))
      throw py::value_error("xi must be ascending and lie within [x[0], x[-1]]");
  std::vector<double> yi(ni);
  unlocked([&] {
    zarn::ispline_gen(x.data(), y.data(), static_cast<int>(n), xi.data(), yi.data(), static_cast<int>(ni));
    return 0;
  });
  return to_numpy(std::move(yi));
}

// Takes the partials as lying on the aligned grid of `step` (as resample(..., align=True)
// lays them), which formats with a frame at every step need; ValueError where one does not.
void on_aligned_grid(zarn::ResampledSet& set, double step) {
  if (!(step > 0) || !std::isfinite(step)) throw py::value_error("the time step must be a number above zero");
  set.step = step;
  set.aligned = true;
  for (std::size_t p = 0; p < set.partials.size(); ++p) {
    zarn::Resampled& part = set.partials[p];
    if (part.N() == 0) continue;
    const double k = std::round(part.time[0] / step);
    bool on_grid = std::fabs(k) < 9e15;
    for (std::size_t j = 0; on_grid && j < part.time.size(); ++j)
      on_grid = static_cast<double>(static_cast<long long>(k) + static_cast<long long>(j)) * step == part.time[j];
    if (!on_grid)
      throw py::value_error("partial " + std::to_string(p) + " does not lie on the aligned grid of this step (resample it with align=True)");
    part.first_k = static_cast<long long>(k);
  }
}

void write_file(const py::object& path_like, const py::object& partials_in, std::optional<std::string> format, bool force,
                int rate, std::optional<double> step) {
  const std::string path = path_of(path_like);
  const std::vector<Partial> partials = partials_of(partials_in);
  if (rate < zarn::kMinRate || rate > zarn::kMaxRate)
    throw py::value_error("the sample rate must be from " + std::to_string(zarn::kMinRate) + " to " + std::to_string(zarn::kMaxRate));
  zarn::Format f = zarn::format_of_name(path).value_or(zarn::Format::kList);
  if (format) {
    const auto named = zarn::format_named(*format);
    if (!named) throw py::value_error("unknown format '" + *format + "' (" + zarn::format_names() + ")");
    f = *named;
  }
  zarn::ResampledSet set = to_set<zarn::ResampledSet>(partials);
  set.noise = noise_of(partials_in);
  if (!set.noise.empty() && !zarn::row_of(f).holds_noise)
    py::module_::import("warnings").attr("warn")("the noise beside the partials is left out: the " + std::string(zarn::row_of(f).name) +
                                                 " format cannot hold it (ATS can)");
  if (step) on_aligned_grid(set, *step);
  if (zarn::row_of(f).every_step && !step)
    throw py::value_error("format '" + std::string(zarn::row_of(f).name) + "' writes a frame at every step: give the grid's step");
  try {
    zarn::check_result(set, f);
  } catch (const zarn::Failure& failure) {
    raise_failure(failure);
  }
  const zarn::Writer writer = zarn::result_writer(set, f, {"zarn " ZARN_VERSION, rate});
  const zarn::SaveOutcome saved = unlocked([&] { return force ? zarn::save_replacing(path, writer) : zarn::save_new(path, writer); });
  if (saved.written()) return;
  if (saved.kind == zarn::SaveOutcome::Kind::kExists) raise_os_error(EEXIST, path);
  if (saved.kind == zarn::SaveOutcome::Kind::kNotAFile) raise_os_error(saved.error != 0 ? saved.error : EISDIR, path);
  if (saved.kind == zarn::SaveOutcome::Kind::kNotOwned) raise_os_error(EPERM, path);
  raise_os_error(saved.error, path);
}

py::array_t<float> render(const py::object& partials_in, int rate, std::optional<double> normalize) {
  if (rate < zarn::kMinRate || rate > zarn::kMaxRate)
    throw py::value_error("the sample rate must be from " + std::to_string(zarn::kMinRate) + " to " + std::to_string(zarn::kMaxRate));
  if (normalize && !(*normalize <= 0)) throw py::value_error("normalize must be a peak of 0 dB or below");
  const std::vector<Partial> partials = partials_of(partials_in);
  zarn::ResampledSet set = to_set<zarn::ResampledSet>(partials);
  set.noise = noise_of(partials_in);
  auto* samples = new std::vector<float>(unlocked([&] {
    std::vector<float> s = zarn::render(set, rate);
    // Levels far above 0 dB overflow single precision: refused, as the tool refuses them.
    for (const float v : s)
      if (!std::isfinite(v))
        throw zarn::failure("the sound's samples go beyond what single precision holds (levels far above 0 dB)");
    if (normalize) zarn::normalize(s, *normalize);
    return s;
  }));
  py::capsule free_when_done(samples, [](void* p) { delete static_cast<std::vector<float>*>(p); });
  return py::array_t<float>(static_cast<py::ssize_t>(samples->size()), samples->data(), free_when_done);
}

// The samples less the sound of their partials (resampled at `step`, without noise), at the
// samples' rate and length: the recording's residual, as the tool's --residual makes it.
Array residual(const py::object& samples_in, int rate, const py::object& partials_in, double step) {
  if (rate < zarn::kMinRate || rate > zarn::kMaxRate)
    throw py::value_error("the sample rate must be from " + std::to_string(zarn::kMinRate) + " to " + std::to_string(zarn::kMaxRate));
  const Array x = sample_array(samples_in);
  if (x.ndim() != 1) throw py::value_error("samples must be one-dimensional: one channel");
  const py::object grid = resample(partials_in, step, false, std::nullopt, false);
  zarn::ResampledSet set = to_set<zarn::ResampledSet>(partials_of(grid));
  const auto n = static_cast<std::size_t>(x.size());
  set.length = static_cast<double>(n) / rate;
  const double* samples = x.data();
  return to_numpy(unlocked([&] {
    const std::vector<float> sines = zarn::render(set, rate);
    std::vector<double> left(n);
    // The sines as a sound file of them holds them (floats), so that the two add up.
    for (std::size_t i = 0; i < n; ++i) left[i] = samples[i] - (i < sines.size() ? static_cast<double>(sines[i]) : 0.0);
    return left;
  }));
}

}  // namespace

namespace {

// Partial, Noise and Partials: the types the functions take and give.
void bind_types(py::module_& m) {
  py::class_<Partial>(m, "Partial", "One partial: times, frequencies in hertz and linear amplitudes, as float64 arrays.")
      .def(py::init([](const py::object& t, const py::object& f, const py::object& a, int stream, bool harmonic, long long index, const py::object& phase) {
             std::optional<Array> ph;
             if (!phase.is_none()) ph = real_array(phase, "phase");
             return Partial(real_array(t, "time"), real_array(f, "freq"), real_array(a, "amp"), stream, harmonic, index, std::move(ph));
           }),
           py::arg("time"), py::arg("freq"), py::arg("amp"),
           py::arg("stream") = 0, py::arg("harmonic") = false, py::arg("index") = 0, py::arg("phase") = py::none(),
           "Builds a partial from array-likes of one length; the times must be finite and rising.\n"
           "stream, harmonic and index say where it came from in SDIF, whose writer keeps them;\n"
           "phase, in radians (as A cos(phase)), makes the sound follow the waveform.")
      .def_property_readonly("stream", [](const Partial& p) { return p.origin.stream; }, "The SDIF stream it came from.")
      .def_property_readonly("harmonic", [](const Partial& p) { return p.origin.harmonic; },
                             "True for a harmonic track (1HRM), whose index is its harmonic number.")
      .def_property_readonly("index", [](const Partial& p) { return p.origin.index; }, "The index its file gave it.")
      .def_property_readonly("time", [](const Partial& p) { return read_only(p.time); }, "Times, rising (a read-only view).")
      .def_property_readonly("freq", [](const Partial& p) { return read_only(p.freq); }, "Frequencies in hertz (a read-only view).")
      .def_property_readonly("amp", [](const Partial& p) { return read_only(p.amp); }, "Linear amplitudes (a read-only view).")
      .def_property_readonly("phase", [](const Partial& p) -> py::object {
        if (!p.phase) return py::none();
        return read_only(*p.phase);
      }, "Phases in radians at each time, as A cos(phase) (a read-only view); None where not known.")
      .def("__len__", [](const Partial& p) { return p.time.size(); })
      .def("__repr__", [](const Partial& p) {
        if (p.time.size() == 0) return std::string("Partial(0 points)");
        return "Partial(" + std::to_string(p.time.size()) + " points, " + std::to_string(p.time.data()[0]) + " s to " +
               std::to_string(p.time.data()[p.time.size() - 1]) + " s)";
      });

  py::class_<zarn::Noise>(m, "Noise",
                          "The noise beside partials: the mean square (full scale 1.0) of each band of\n"
                          "frequencies, frame by frame, as an analysis measures it and ATS holds it.")
      .def(py::init(&make_noise), py::arg("times"), py::arg("edges"), py::arg("power"),
           "Noise from frame times (rising), band edges in hertz (rising) and a frames-by-bands\n"
           "array of mean squares.")
      .def_property_readonly("times", [](const zarn::Noise& n) { return read_only(to_numpy(std::vector<double>(n.times))); }, "Frame times in seconds.")
      .def_property_readonly("edges", [](const zarn::Noise& n) { return read_only(to_numpy(std::vector<double>(n.edges))); }, "Band edges in hertz.")
      .def_property_readonly("power",
                             [](const zarn::Noise& n) {
                               return read_only(to_numpy(std::vector<double>(n.power)).reshape({static_cast<py::ssize_t>(n.times.size()), static_cast<py::ssize_t>(n.bands())}).cast<Array>());
                             },
                             "Each band's mean square, frames by bands.")
      .def("__len__", [](const zarn::Noise& n) { return n.times.size(); })
      .def("__repr__", [](const zarn::Noise& n) {
        return "Noise(" + std::to_string(n.times.size()) + " frames, " + std::to_string(n.bands()) + " bands)";
      });
  partials_type() = py::module_::import("builtins").attr("type")(
      "Partials", py::make_tuple(py::module_::import("builtins").attr("list")),
      py::dict(py::arg("__module__") = "zarn", py::arg("noise") = py::none(), py::arg("analysed") = false,
               py::arg("__doc__") = "A list of zarn.Partial that carries the noise beside them: `noise`, a zarn.Noise or None.\n"
                                    "read, analyse, resample, keep and scale return one; write and render take its noise.\n"
                                    "`analysed` is True for partials analysed from a sound, whose default fit is monotone."));
  m.attr("Partials") = partials_type();

}

// Reading and the grid.
void bind_reading(py::module_& m) {
  m.def("read", &read_file, py::arg("path"),
        "The partials of a file (a path as str, bytes or os.PathLike): a partial list, SDIF\n"
        "(1TRC/1HRM), ATS, a text export of a partial editor, or a sound file analysed as\n"
        "analyse() does, recognised from its content. Amplitudes are linear; frequencies are held at 4 Hz\n"
        "at least, and at most 22050 Hz in a partial list. Raises zarn.Error for a malformed file,\n"
        "OSError if it cannot be opened.");
  m.def("resample", &resample, py::arg("partials"), py::arg("step"), py::arg("align") = false, py::arg("fit") = py::none(),
        py::arg("whole") = false,
        "The partials resampled on a uniform grid, as the tool does, bit for bit: each partial's\n"
        "own grid from its first time (whole=True: on to its last), or with align=True the whole\n"
        "multiples of step within its span; fit='spline' (not-a-knot), 'monotone' (never beyond\n"
        "the breakpoints' values) or 'linear'; by default monotone for partials analysed from a\n"
        "sound (their `analysed` is True) and the spline for others, as the tool chooses.");
}

// The analysis of sounds and the edits that weigh every partial.
void bind_analysis(py::module_& m) {
  m.def("analyse", &analyse, py::arg("samples"), py::arg("rate"), py::arg("resolution") = 40.0, py::arg("hop") = py::none(),
        py::arg("floor") = -90.0, py::arg("min_track") = py::none(), py::arg("channel") = py::none(), py::arg("noise") = true,
        py::arg("warp") = true,
        "The partials of a sound, as the tool analyses a sound file: samples as floats (full scale\n"
        "1.0) or integers (scaled by their type's full scale: int16 by 32768, as scipy.io.wavfile\n"
        "returns them), one-dimensional or frames by channels (their mean unless channel, from 1, picks\n"
        "one), at `rate` a second. resolution: how far apart partials are told apart (Hz); hop:\n"
        "seconds between frames (a quarter window); floor: dB under which peaks are left out;\n"
        "min_track: the shortest partial kept, first to last breakpoint, in seconds (by default\n"
        "those seen in fewer than three frames are left out); noise: measure what the partials leave\n"
        "in 25 critical bands, given as the result's `noise`; warp: where a fundamental bends (a\n"
        "vibrato, a glide), see each frame in a time warped by it (warp=False: the tool's\n"
        "--no-warp). Ctrl-C interrupts it.");
  m.def("fundamental", &fundamental, py::arg("source"), py::arg("rate") = py::none(), py::arg("step") = py::none(),
        py::arg("range") = std::pair<double, double>(zarn::kFundamentalLo, zarn::kFundamentalHi),
        "The fundamental over time, as the tool's --f0 writes it: of samples at `rate` (analysed as\n"
        "analyse() does, at every hop of the analysis), or of partials at every `step` seconds;\n"
        "within range=(lo, hi) Hz. Three float64 arrays: times, hertz (0 where there is none)\n"
        "and the confidence (the share of the energy that its harmonics hold).");
  m.def("harmonic", &harmonic, py::arg("partials"),
        "Harmonic partials, as --harmonic makes them: each labelled with its harmonic number of the\n"
        "fundamental (its `index`, with `harmonic` True), the fragments of one harmonic joined, the\n"
        "partials on no harmonic left out.");
  m.def("morph", &morph, py::arg("a"), py::arg("b"), py::arg("w"),
        "Partials between a and b, as --morph-with and --morph make them: w from 0 (a) to 1 (b), or\n"
        "(time, weight) pairs over a's seconds; partials matched by harmonic number, else by\n"
        "frequency; frequencies interpolated on a logarithmic scale, levels in dB.");
  m.def("info", &info, py::arg("path"), py::arg("step") = 0.05,
        "What a file holds, as the tool's --info says: a dict of its format, partials,\n"
        "breakpoints, time span, frequency and level ranges, the shortest and longest partial\n"
        "(span, index), how many are shorter than `step`, and what its reader saw ('about').");
}

// The filters and changes, the spline alone, writing and rendering.
void bind_edits_and_outputs(py::module_& m) {
  m.def("apply", &apply, py::arg("partials"), py::arg("recipe"),
        "The partials edited as a recipe that the browser page saved says (JSON text, a path to its file, or a dict):\n"
        "each edit on the partials it names by index. Raises ValueError for a recipe made for other partials.");
  m.def("keep", &keep, py::arg("partials"), py::arg("band") = py::none(), py::arg("min_duration") = py::none(),
        py::arg("min_level") = py::none(), py::arg("max_partials") = py::none(),
        "The partials that every filter given keeps, in their order, as the tool's options do:\n"
        "band=(lo, hi) on the mean frequency weighted by amplitude, min_duration in seconds,\n"
        "min_level in dB of the loudest breakpoint, max_partials of greatest energy among those\n"
        "the others keep. Partials without breakpoints are kept only when no filter is given.");
  m.def("scale", &scale, py::arg("partials"), py::arg("time") = 1.0, py::arg("cents") = 0.0, py::arg("gain") = 0.0,
        py::arg("keep_formants") = false,
        "New partials with every time multiplied by `time`, every frequency by 2^(cents/1200)\n"
        "and every amplitude by 10^(gain/20), as --time-scale, --transpose and --gain do; their\n"
        "noise stretched and its power scaled as much (a transposition leaves it); keep_formants=True\n"
        "keeps the spectral envelope through the transposition, as --keep-formants does.");
  m.def("edit", [](const py::object& partials, const py::kwargs& options) { return edited(partials, options); }, py::arg("partials"),
        "Partials edited as the tool's edit options edit them, each keyword one of its options with\n"
        "'_' for '-': band=(lo, hi), min_duration, min_level, max_partials, time_scale, transpose,\n"
        "harmonic=True, keep_formants=True, gain, noise_gain, warp, freeze, keep_attacks=True;\n"
        "applied in the tool's order (the filters, then the changes). transpose, time_scale, gain\n"
        "and noise_gain also take (time, value) pairs, warp takes (input time, output time) pairs,\n"
        "freeze a pair (time, seconds) or a list of them; such changes remake the partials on the\n"
        "points of the grid that step (0.05), fit, align and whole name, as resample will lay it.\n"
        "keep, scale and harmonic are this with their own keywords.");
  m.def("spline", &spline, py::arg("x"), py::arg("y"), py::arg("xi"),
        "The not-a-knot cubic spline through the knots (x, y), x rising, at the ascending times xi\n"
        "within [x[0], x[-1]]. Three knots give the parabola, two the line.");
  // The formats as the table names them.
  static const std::string write_doc =
      "Writes partials (as resampled breakpoints) in a format: " + zarn::format_names() +
      "; by default the\nformat that the name's ending chooses (.sdif, .ats), else list. An existing file raises\n"
      "FileExistsError unless force=True, which replaces it atomically. rate is the sampling\nrate that an ATS file records; "
      "step the grid's step, which ATS needs (the partials\nresampled with align=True at that step). ATS holds the "
      "partials' noise (type 4); other\nformats leave it out with a warning.";
  m.def("write", &write_file, py::arg("path"), py::arg("partials"), py::arg("format") = py::none(), py::arg("force") = false,
        py::arg("rate") = zarn::kDefaultRate, py::arg("step") = py::none(),
        write_doc.c_str());
  m.def("residual", &residual, py::arg("samples"), py::arg("rate"), py::arg("partials"), py::arg("step") = 0.005,
        "What the partials leave of the samples (at rate): the samples less the sound of the\n"
        "partials resampled at step, locked to their phases, without noise; as long as the samples.\n"
        "The partials of analyse(samples, rate) leave what the tool's --residual writes.");
  m.def("render", &render, py::arg("partials"), py::arg("rate") = zarn::kDefaultRate, py::arg("normalize") = py::none(),
        "The additive resynthesis of the partials as float32 samples from time 0: one oscillator\n"
        "per partial, frequency and amplitude linear between points, with a short fade at the ends,\n"
        "and their noise (partials.noise) as band-limited noise; with normalize=DB, scaled so that\n"
        "its peak is DB.");
}

}  // namespace

PYBIND11_MODULE(zarn, m) {
  // Every function takes or gives numpy arrays: a Python without numpy is told at import, in
  // words that say which Python it is.
  try {
    py::module_::import("numpy");
  } catch (py::error_already_set&) {
    const py::module_ sys = py::module_::import("sys");
    const std::string python = py::str(sys.attr("executable")), version = py::str(sys.attr("version")).cast<std::string>().substr(0, 6);
    throw py::import_error("zarn needs numpy, which this Python (" + python + ", " + version +
                           ") cannot import: install numpy for it (pip install numpy; Debian: python3-numpy), or use the "
                           "Python that zarn was built for");
  }
  m.doc() =
      "Sinusoidal partials resampled exactly: the readers, the not-a-knot spline, the grid, the\n"
      "writers and the resynthesis of the zarn tool, on numpy arrays.\n\n"
      "    import zarn\n"
      "    partials = zarn.read('analysis.sdif')          # any format zarn reads\n"
      "    grid = zarn.resample(partials, 0.01)           # as the tool resamples, bit for bit\n"
      "    zarn.write('out.txt', grid)                    # never over an existing file\n"
      "    sound = zarn.render(grid, rate=44100)          # float32 samples\n\n"
      "Bad input raises zarn.Error (a ValueError) with the tool's message; files that cannot be\n"
      "opened or written raise OSError. Heavy work runs without the interpreter lock.";
  m.attr("__version__") = ZARN_VERSION;
  error_type() = py::reinterpret_borrow<py::object>(PyErr_NewExceptionWithDoc(
      "zarn.Error", "A malformed file or an impossible request, with the tool's message.", PyExc_ValueError, nullptr));
  m.attr("Error") = error_type();

  bind_types(m);
  bind_reading(m);
  bind_analysis(m);
  bind_edits_and_outputs(m);
}
