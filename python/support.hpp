// What the parts of the Python module share: numpy arrays and the tool's types between each
// other, zarn.Partial, the conversions of failures into exceptions, and work without the
// interpreter lock.
#pragma once

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

namespace zarn_py {

using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;

// A numpy array that takes over a vector's memory, without copying it.
inline Array to_numpy(std::vector<double>&& v) {
  auto* owned = new std::vector<double>(std::move(v));
  py::capsule free_when_done(owned, [](void* p) { delete static_cast<std::vector<double>*>(p); });
  return Array(static_cast<py::ssize_t>(owned->size()), owned->data(), free_when_done);
}

inline std::vector<double> to_vector(const Array& a) { return std::vector<double>(a.data(), a.data() + a.size()); }

// zarn.Error, raised with the tool's own message (without its "zarn: " and newline).
inline py::object& error_type() {
  static py::object type;
  return type;
}

// A failure as the exception of its kind, with the tool's message (without its "zarn: " and
// newline): zarn.Error for bad input, OSError with its errno where the system refused,
// MemoryError.
[[noreturn]] inline void raise_failure(const zarn::Failure& f) {
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
inline void check_path(const std::string& path) {
  if (path.find('\0') != std::string::npos) throw py::value_error("the path holds a NUL byte");
}

// A path given as str, bytes or any os.PathLike, as the system takes it.
inline std::string path_of(const py::object& path) {
  const py::object p = py::module_::import("os").attr("fspath")(path);  // TypeError for anything else
  std::string s = py::isinstance<py::bytes>(p) ? std::string(py::bytes(p)) : p.cast<std::string>();
  check_path(s);
  return s;
}

// An array-like of real numbers as a contiguous float64 array; numpy's MemoryError for one too
// large, TypeError naming `name` for complex numbers or anything that is not a number.
inline Array real_array(const py::handle& values, const char* name) {
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
inline Array sample_array(const py::handle& values) {
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

[[noreturn]] inline void raise_os_error(int error, const std::string& path) {
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
inline void check_values(const zarn::Breakpoints& b) {
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
inline std::vector<Partial> partials_of(const py::handle& partials) {
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
inline py::array read_only(const Array& a) {
  py::array view = a.attr("view")();
  view.attr("setflags")(py::arg("write") = false);
  return view;
}

// The partials' arrays, shapes checked with the interpreter lock held, for reading without it.
inline std::vector<zarn::Breakpoints> breakpoints_of(const std::vector<Partial>& partials) {
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
inline zarn::PartialSet read_path(const std::string& path) {
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
inline py::object& partials_type() {
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
inline bool analysed_of(const py::handle& partials) {
  return py::hasattr(partials, "analysed") && py::bool_(partials.attr("analysed"));
}

// The noise that a sequence of partials carries (its `noise`), or none.
inline zarn::Noise noise_of(const py::handle& partials) {
  if (!py::hasattr(partials, "noise")) return {};
  const py::object n = partials.attr("noise");
  if (n.is_none()) return {};
  if (!py::isinstance<zarn::Noise>(n)) throw py::type_error("partials.noise must be a zarn.Noise or None");
  return n.cast<zarn::Noise>();
}

// A zarn.Noise from array-likes, checked: times finite and rising, edges rising from 0 or
// above, a power (mean square, 0 or above) for every frame and band.
inline zarn::Noise make_noise(const py::object& times_in, const py::object& edges_in, const py::object& power_in) {
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


}  // namespace zarn_py
