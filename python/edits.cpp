// The Python module's edits: the filters and changes of the tool's table of edits by its
// options' names, a recipe, the scale of one number, harmonic numbering and the morph.
#include "support.hpp"

namespace zarn_py {

namespace {

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


}  // namespace

// The edits' functions of the module.
void bind_edits(py::module_& m) {
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
  m.def("harmonic", &harmonic, py::arg("partials"),
        "Harmonic partials, as --harmonic makes them: each labelled with its harmonic number of the\n"
        "fundamental (its `index`, with `harmonic` True), the fragments of one harmonic joined, the\n"
        "partials on no harmonic left out.");
  m.def("morph", &morph, py::arg("a"), py::arg("b"), py::arg("w"),
        "Partials between a and b, as --morph-with and --morph make them: w from 0 (a) to 1 (b), or\n"
        "(time, weight) pairs over a's seconds; partials matched by harmonic number, else by\n"
        "frequency; frequencies interpolated on a logarithmic scale, levels in dB.");
}

}  // namespace zarn_py
