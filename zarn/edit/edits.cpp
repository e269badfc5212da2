#include "edit/edits.hpp"

#include <cmath>


namespace zarn {

namespace {

using Kind = EditOption::Kind;

std::string set_band(const double* f, std::string_view text, EditOptions& o) {
  const std::string problem = band_problem(f[0], f[1]);
  if (!problem.empty()) return "--band=" + std::string(text) + ": " + problem;
  o.keep.band_lo = f[0];
  o.keep.band_hi = f[1];
  return {};
}

std::string set_time_scale(const double* f, std::string_view text, EditOptions& o) {
  const std::string problem = time_scale_problem(f[0]);
  if (!problem.empty()) return "--time-scale=" + std::string(text) + ": " + problem;
  o.scale.time = f[0];
  return {};
}

std::string set_freeze(const double* f, std::string_view text, EditOptions& o) {
  if (!std::isfinite(f[0]) || !(f[0] >= 0) || !std::isfinite(f[1]) || !(f[1] > 0))
    return "--freeze=" + std::string(text) + ": the time must be finite, from 0, and the seconds held finite and above zero";
  o.shape.freezes.emplace_back(f[0], f[1]);
  return {};
}

bool always(const EditOptions&) { return true; }

const std::vector<EditRow> kEdits = {
    {"morph", [](const EditOptions& o) { return !o.morph.points.empty() && o.morph_with != nullptr; },
     [](PartialSet& set, const EditOptions& o, const std::string&) { morph(set, *o.morph_with, o.morph); }},
    {"harmonic", [](const EditOptions& o) { return o.harmonic; }, [](PartialSet& set, const EditOptions&, const std::string&) { make_harmonic(set); }},
    {"keep", [](const EditOptions& o) { return o.keep.any(); },
     [](PartialSet& set, const EditOptions& o, const std::string&) { keep(set, o.keep); }},
    {"formants", [](const EditOptions& o) { return o.keep_formants && (o.scale.cents != 0 || !o.shape.cents.empty()); },
     [](PartialSet& set, const EditOptions& o, const std::string&) {
       if (o.shape.cents.empty()) return keep_formants(set, std::pow(2.0, o.scale.cents / 1200.0));
       keep_formants(set, [&o](double time) { return std::pow(2.0, o.shape.cents.at(time) / 1200.0); });
     },
     true},
    {"scale", [](const EditOptions& o) { return scale_of(o).any(); },
     [](PartialSet& set, const EditOptions& o, const std::string& file) { scale(set, scale_of(o), file); }, true, always},
    {"noise", [](const EditOptions& o) { return o.noise.any(); },
     [](PartialSet& set, const EditOptions& o, const std::string& file) { change_noise(set, o.noise, file); }, true, always},
    // After the changes of one number: the partials made anew on the run's grid.
    {"shape", [](const EditOptions& o) { return o.shape.any(); },
     [](PartialSet& set, const EditOptions& o, const std::string& file) {
       ShapeOptions shaping = o.shape;
       shaping.time_number = o.scale.time;
       shape(set, shaping, file);
     },
     // The map of times is the options' alone, unless attacks are kept: those are the set's onsets.
     true, [](const EditOptions& o) { return !o.shape.keep_attacks; }},
    // Last: a recipe names the partials as every other edit leaves them, as the page showed them.
    {"recipe", [](const EditOptions& o) { return !o.recipe_files.empty(); },
     [](PartialSet& set, const EditOptions& o, const std::string&) {
       for (std::size_t i = 0; i < o.recipes.size(); ++i) apply_recipe(set, *o.recipes[i], o.recipe_files[i]);
     },
     true},
};

const std::vector<EditOption> kOptions = {
    {"band", "LO:HI",
     "keep partials whose mean frequency, weighted by amplitude, lies\n"
     "within [LO, HI] Hz",
     Kind::kRange, "frequencies in hertz", set_band},
    {"min-duration", "SECONDS", "keep partials that last at least SECONDS", Kind::kNumber, "",
     [](const double* f, std::string_view, EditOptions& o) {
       o.keep.min_duration = f[0];
       return std::string();
     }},
    {"min-level", "DB", "keep partials whose loudest breakpoint reaches DB (0 dB: 1.0)", Kind::kNumber, "",
     [](const double* f, std::string_view, EditOptions& o) {
       o.keep.min_level = f[0];
       return std::string();
     }},
    {"max-partials", "N", "keep the N partials of greatest energy, in their order", Kind::kCount, "",
     [](const double* f, std::string_view, EditOptions& o) {
       o.keep.max_partials = static_cast<int>(f[0]);
       return std::string();
     }},
    {"time-scale", "FACTOR", "multiply every time by FACTOR (above zero); or T:F,T:F,...\n"
     "(or @FILE of \"T F\" lines), a factor that varies over the input's time", Kind::kNumber, "", set_time_scale, &ShapeOptions::time_factor, above_zero, nullptr, 1.0},
    {"transpose", "CENTS", "multiply every frequency by 2^(CENTS/1200); or T:CENTS,...\n"
     "(or @FILE) over the input's time, straight between, held beyond",
     Kind::kNumber, "",
     [](const double* f, std::string_view, EditOptions& o) {
       o.scale.cents = f[0];
       return std::string();
     },
     &ShapeOptions::cents},
    {"warp", "T:T',...", "move input time T to output time T', straight between the markers\n"
     "(two at least, both times rising), beyond them as the end stretches go",
     Kind::kCurve, "", nullptr, &ShapeOptions::warp, rising_value,
     [](const Curve& c) { return c.times.size() < 2 ? std::string("a warp needs two markers at least") : std::string(); }},
    {"freeze", "T:SECONDS", "hold the partials and the noise as they are at input time T\n"
     "for SECONDS; what follows comes as much later (each, given more than once)",
     Kind::kRange, "a time and seconds", set_freeze},
    {"keep-attacks", "", "with --time-scale or --warp, each onset (a climb of 6 dB or more\n"
     "within 0.15 s) keeps its own speed; the time to the next takes up the stretch",
     Kind::kFlag, "",
     [](const double*, std::string_view, EditOptions& o) {
       o.shape.keep_attacks = true;
       return std::string();
     }},
    {"harmonic", "", "make harmonic partials: each labelled with its harmonic number of the\n"
     "fundamental (SDIF 1HRM), one a harmonic through a voiced stretch; the rest left out", Kind::kFlag, "",
     [](const double*, std::string_view, EditOptions& o) {
       o.harmonic = true;
       return std::string();
     }},
    {"keep-formants", "", "with --transpose, each level follows the spectral envelope of the\n"
     "partials sounding then, at its new frequency (a voice keeps its vowels)", Kind::kFlag, "",
     [](const double*, std::string_view, EditOptions& o) {
       o.keep_formants = true;
       return std::string();
     }},
    {"gain", "DB", "multiply every amplitude by 10^(DB/20), and the noise's power as much;\n"
     "or T:DB,... (or @FILE) over the input's time", Kind::kNumber, "",
     [](const double* f, std::string_view, EditOptions& o) {
       o.scale.gain = f[0];
       return std::string();
     },
     &ShapeOptions::gain},
    {"noise-gain", "DB", "multiply the noise's power alone by 10^(DB/10); or T:DB,... (or @FILE)", Kind::kNumber, "",
     [](const double* f, std::string_view, EditOptions& o) {
       o.noise.gain = f[0];
       return std::string();
     },
     &ShapeOptions::noise_gain},
};

}  // namespace

void apply_edits(PartialSet& set, const std::vector<Edit>& edits) {
  for (const Edit& edit : edits) edit(set);
}


ScaleOptions scale_of(const EditOptions& options) {
  ScaleOptions scaling = options.scale;
  if (options.shape.any()) scaling.time = 1.0;  // the curves are over the input's time: the map stretches
  return scaling;
}

const std::vector<EditOption>& edit_options() { return kOptions; }

std::string set_breakpoints(const EditOption& row, std::string_view text, bool in_file, EditOptions& o) {
  std::string problem;
  Curve curve = parse_curve(text, in_file, row.rule, problem);
  if (problem.empty() && row.check != nullptr) problem = row.check(curve);
  if (!problem.empty()) return problem;
  // Breakpoints of one value throughout are that number, so that they mean exactly what it does.
  double figures[2] = {row.neutral, 0};
  if (row.kind != EditOption::Kind::kCurve && curve.constant()) {
    figures[0] = curve.values.front();
    curve = {};
  }
  o.shape.*row.curve = std::move(curve);
  return row.kind == EditOption::Kind::kCurve ? std::string() : row.set(figures, text, o);
}

std::string combination_problem(const EditOptions& o) {
  const bool scaled = o.scale.time != 1.0 || !o.shape.time_factor.empty();
  if (!o.shape.warp.empty() && scaled) return "--warp and --time-scale both say where the input's times go: give one";
  if (o.shape.keep_attacks && !scaled && o.shape.warp.empty()) return "--keep-attacks needs --time-scale or --warp, a stretch to keep the attacks from";
  return {};
}

std::vector<Edit> chosen_edits(const EditOptions& options, const std::string& file) {
  std::vector<Edit> edits;
  for (const EditRow& row : kEdits)
    if (row.chosen(options)) edits.push_back([&row, options, file](PartialSet& set) { row.apply(set, options, file); });
  return edits;
}

bool edits_one_at_a_time(const EditOptions& options) {
  for (const EditRow& row : kEdits)
    if (row.chosen(options) && (row.one_at_a_time == nullptr || !row.one_at_a_time(options))) return false;
  return true;
}

std::size_t chosen_before_changes(const EditOptions& options) {
  std::size_t count = 0;
  for (const EditRow& row : kEdits) {
    if (!row.chosen(options)) continue;
    if (row.changes) break;
    ++count;
  }
  return count;
}

}  // namespace zarn
