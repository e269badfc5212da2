// The Python module `zarn`: the tool's readers, grid, spline, writers and resynthesis on
// numpy arrays, with the same arithmetic to the last bit.
#include "support.hpp"

namespace zarn_py {

void bind_edits(py::module_& m);

namespace {

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

// The analysis of sounds, the fundamental and what a file holds.
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
  m.def("info", &info, py::arg("path"), py::arg("step") = 0.05,
        "What a file holds, as the tool's --info says: a dict of its format, partials,\n"
        "breakpoints, time span, frequency and level ranges, the shortest and longest partial\n"
        "(span, index), how many are shorter than `step`, and what its reader saw ('about').");
}

// The spline alone, writing and rendering.
void bind_outputs(py::module_& m) {
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

}  // namespace zarn_py

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
  zarn_py::error_type() = py::reinterpret_borrow<py::object>(PyErr_NewExceptionWithDoc(
      "zarn.Error", "A malformed file or an impossible request, with the tool's message.", PyExc_ValueError, nullptr));
  m.attr("Error") = zarn_py::error_type();

  zarn_py::bind_types(m);
  zarn_py::bind_reading(m);
  zarn_py::bind_analysis(m);
  zarn_py::bind_edits(m);
  zarn_py::bind_outputs(m);
}
