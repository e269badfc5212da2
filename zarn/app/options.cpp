#include "app/options.hpp"

#include "app/batch.hpp"
#include "app/option_rows.hpp"

#include <getopt.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstring>
#include <string_view>

#include "model/failure.hpp"
#include "io/number_parse.hpp"

namespace zarn {

namespace {

enum LongOnly {
  kForce = 256, kVersion, kInfo, kStep,
  kRow = 512,    // the options of the table of options: kRow + their row
  kEdit = 1024,  // the edits' options, from the table of edits: kEdit + their row
};

const struct option kFixedOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"force", no_argument, nullptr, kForce},
    {"quiet", no_argument, nullptr, 'q'},
    {"info", no_argument, nullptr, kInfo},
    {"step", required_argument, nullptr, kStep},
    {"jobs", required_argument, nullptr, 'j'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
};

// Every long option: the fixed ones, then those of the table of options and the edits' from
// theirs; ended by a null row.
const struct option* long_options() {
  static const std::vector<struct option> all = [] {
    std::vector<struct option> v(std::begin(kFixedOptions), std::end(kFixedOptions));
    static std::vector<std::string> names;  // kept for the rows' pointers
    names.reserve(option_rows().size() + edit_options().size());
    for (std::size_t i = 0; i < option_rows().size(); ++i) {
      const OptionRow& row = option_rows()[i];
      names.emplace_back(row.name);
      const int has = row.argument.empty() ? no_argument : row.optional ? optional_argument : required_argument;
      v.push_back({names.back().c_str(), has, nullptr, kRow + static_cast<int>(i)});
    }
    for (std::size_t i = 0; i < edit_options().size(); ++i) {
      names.emplace_back(edit_options()[i].name);
      const bool flag = edit_options()[i].kind == EditOption::Kind::kFlag;
      v.push_back({names.back().c_str(), flag ? no_argument : required_argument, nullptr, kEdit + static_cast<int>(i)});
    }
    v.push_back({nullptr, 0, nullptr, 0});
    return v;
  }();
  return all.data();
}

// Leading '+' is not used: options may follow operands. Leading ':' makes a missing argument
// return ':' so that the message can be composed here. The rows' short names follow.
const char* short_options() {
  static const std::string letters = [] {
    std::string s = ":o:qhj:";
    for (const OptionRow& row : option_rows())
      if (row.short_name != 0) s += std::string(1, row.short_name) + (row.argument.empty() ? "" : ":");
    return s;
  }();
  return letters.c_str();
}

// The row a getopt value stands for: a long option of the table, or a row's short name; -1 for none.
int row_of_value(int c) {
  if (c >= kRow && c < kEdit) return c - kRow;
  for (std::size_t i = 0; i < option_rows().size(); ++i)
    if (c > 0 && c < 256 && option_rows()[i].short_name == c) return static_cast<int>(i);
  return -1;
}

const char* long_name(int val) {
  const int row = row_of_value(val);
  if (row >= 0) return option_rows()[static_cast<std::size_t>(row)].name.data();
  for (const struct option* o = long_options(); o->name != nullptr; ++o)
    if (o->val == val) return o->name;
  return "?";
}

// True for an argument that takes the next one as its value: "-o", or a long option with a
// required argument spelt without "=" (abbreviated or not).
bool takes_next(std::string_view arg) {
  if (arg.size() == 2 && arg[0] == '-' && arg[1] != '-') {
    const char* at = std::strchr(short_options(), arg[1]);
    return at != nullptr && at[1] == ':';
  }
  if (arg.size() <= 2 || arg.substr(0, 2) != "--" || arg.find('=') != std::string_view::npos) return false;
  for (const struct option* o = long_options(); o->name != nullptr; ++o)
    if (o->has_arg == required_argument && std::string_view(o->name).substr(0, arg.size() - 2) == arg.substr(2)) return true;
  return false;
}

// A negative number ("-0.1", "-5") is an operand, as it always was, not a cluster of options.
bool is_negative_number(std::string_view arg) {
  const auto digit = [&](std::size_t i) { return i < arg.size() && arg[i] >= '0' && arg[i] <= '9'; };
  return arg.size() >= 2 && arg[0] == '-' && (digit(1) || (arg[1] == '.' && digit(2)));
}

using detail::bad_option;
using detail::finite_number;
using detail::number_pair;

// The text of a file of breakpoints (the tree read from it a few times its size).
std::string read_breakpoints(const std::string& option, const std::string& path) {
  // Standard input may be the input itself: breakpoints come from a file of their own.
  if (path.empty() || path == "-") bad_option("--" + option + "=@ needs the name of a file after '@'");
  return read_text_file(path, "the breakpoints of " + path, 10.0);
}

// An edit's option: its argument read by its kind, then handed to its row. Where a number's
// option takes breakpoints (T:V,... or @FILE), the last given of the two holds.
void set_edit(const EditOption& row, const char* text, EditOptions& edits) {
  double figures[2] = {0, 0};
  const std::string name(row.name);
  if (row.curve != nullptr && (row.kind == EditOption::Kind::kCurve || is_curve_text(text))) {
    const bool from_file = text[0] == '@';
    if (from_file) edits.curve_files.emplace_back(text + 1);
    const std::string problem = set_breakpoints(row, from_file ? read_breakpoints(name, text + 1) : std::string(text), from_file, edits);
    if (problem.empty()) return;
    // A fault at a line reads FILE:LINE: ...; one of the whole file, FILE: ...
    if (from_file) throw Failure(compose(std::string(text + 1) + (problem[0] >= '0' && problem[0] <= '9' ? ":" : ": ") + problem));
    bad_option("--" + name + "=" + text + ": " + problem);
  }
  if (row.curve != nullptr) edits.shape.*row.curve = {};  // the curve gives way to the number
  switch (row.kind) {
    case EditOption::Kind::kCurve:
      return;
    case EditOption::Kind::kNumber:
      figures[0] = finite_number(name, text);
      break;
    case EditOption::Kind::kRange: {
      const auto [lo, hi] = number_pair(name, std::string(row.range_of).c_str(), text);
      figures[0] = lo, figures[1] = hi;
      break;
    }
    case EditOption::Kind::kFlag:
      figures[0] = 1;
      break;
    case EditOption::Kind::kCount: {
      int n = 0;
      if (!parse_count(text, n)) bad_option("--" + name + " needs a whole number from 0 to 2147483647, not '" + text + "'");
      figures[0] = n;
      break;
    }
  }
  const std::string problem = row.set(figures, text, edits);
  if (!problem.empty()) bad_option(problem);
}

// Takes an option of the result: where it goes, --info, the batch; false for any other.
bool take_output_option(int c, Options& o) {
  switch (c) {
    case 'o':
      o.output = optarg;
      if (o.output.empty()) bad_option("the output file name given with -o is empty");
      return true;
    case kForce:
      o.force = true;
      return true;
    case 'q':
      o.quiet = true;
      return true;
    case kInfo:
      o.info = true;
      return true;
    case kStep:
      o.step = optarg;  // checked once an input is open, as DUR is
      o.inputs = {""};  // every operand an input
      return true;
    case 'j':
      if (!parse_count(optarg, o.jobs) || o.jobs < 1 || o.jobs > 4096)
        bad_option("-j needs a number of jobs from 1 to 4096, not '" + std::string(optarg) + "'");
      return true;
    default:
      return false;
  }
}

// Takes an option of the table: its own parsing, and what kind it is.
bool take_row_option(int c, Options& o) {
  const int index = row_of_value(c);
  if (index < 0) return false;
  const OptionRow& row = option_rows()[static_cast<std::size_t>(index)];
  row.take(optarg, o);
  o.given |= row.flags;
  const std::string typed = "--" + std::string(row.name);
  if ((row.flags & kSoundsOnly) != 0 && std::find(o.read.sound_options.begin(), o.read.sound_options.end(), typed) == o.read.sound_options.end())
    o.read.sound_options.push_back(typed);
  return true;
}

// True for an option that shapes the partials: what reads, analyses, fits and changes them,
// but neither the filters nor what names the outputs. The browser page shows them in the
// command line that keeps a selection, with filters of its own.
bool shapes_partials(int c) {
  const int row = row_of_value(c);
  if (row >= 0) return (option_rows()[static_cast<std::size_t>(row)].flags & kShapesPartials) != 0;
  if (c < kEdit) return false;
  const std::string_view name = edit_options()[static_cast<std::size_t>(c - kEdit)].name;
  return name != "band" && name != "min-duration" && name != "min-level" && name != "max-partials";
}

// Several inputs are run each as one, with every output named after its input: -o and the
// other outputs must be templates or folders, and nothing may come from standard input.
void check_batch(const Options& o) {
  if (o.info) bad_option("--info takes one input");
  if (!o.named_output()) bad_option("several inputs need -o with {name} or a folder ending in '/', which names each result");
  for (const std::string& input : o.inputs)
    if (input == "-") bad_option("several inputs cannot take one from standard input");
  const auto templated = [](const std::string& name) {
    return name.find("{name}") != std::string::npos || (!name.empty() && name.back() == '/');
  };
  const std::pair<const char*, const std::string*> outputs[] = {{"-o", &o.output}, {"--plot", &o.plot}, {"--wav", &o.wav}, {"--f0", &o.f0}, {"--residual", &o.residual}};
  for (const auto& [option, name] : outputs)
    if (!name->empty() && (*name == "-" || !templated(*name)))
      bad_option(std::string(option) + " '" + *name + "' would name one file for several inputs: give {name} (the input's name without its ending) or a folder ending in '/'");
}

}  // namespace

std::vector<std::string> long_option_names() {
  std::vector<std::string> names;
  for (const struct option* o = long_options(); o->name != nullptr; ++o) names.emplace_back(o->name);
  return names;
}

double parse_time_step(std::string_view text) {
  double step = 0;
  if (!parse_double(text, step) || !std::isfinite(step) || !(step > 0.0))
    throw failure("the time step must be a number above zero, not " + quote(text));
  return step;
}

namespace {
void check_combinations(Options& o);
}  // namespace

Options parse_options(int argc, char** argv) {
  Options o;
  if (argc < 2) return o;  // no arguments at all: the usage text
  o.mode = Options::Mode::kRun;

  // getopt_long reorders its own copy of the arguments. Negative numbers are hidden from it
  // behind a leading byte that is not '-', and found again by their address afterwards.
  std::vector<std::string> hidden;
  hidden.reserve(static_cast<std::size_t>(argc));
  std::vector<char*> args(argv, argv + argc);
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--") break;
    if (is_negative_number(argv[i]) && !takes_next(argv[i - 1])) {
      hidden.push_back(std::string("\x01") + argv[i]);
      args[static_cast<std::size_t>(i)] = hidden.back().data();
    }
  }
  args.push_back(nullptr);
  const auto operand = [&](int i) -> std::string {
    const char* a = args[static_cast<std::size_t>(i)];
    for (const std::string& h : hidden)
      if (a == h.data()) return a + 1;
    return a;
  };
  argv = args.data();

  opterr = 0;
  optind = 0;  // start afresh: a parse may run more than once in a process
  for (;;) {
    const int c = getopt_long(argc, argv, short_options(), long_options(), nullptr);
    if (c == -1) break;
    const std::string_view typed = argv[optind - 1];
    const bool was_long = typed.substr(0, 2) == "--";
    if (shapes_partials(c)) o.shaping.push_back("--" + std::string(long_name(c)) + (optarg != nullptr ? "=" + std::string(optarg) : ""));
    else if (c >= kEdit) o.filtering.push_back("--" + std::string(long_name(c)) + (optarg != nullptr ? "=" + std::string(optarg) : ""));
    if (take_output_option(c, o) || take_row_option(c, o)) {
      o.any_option = true;
      continue;
    }
    switch (c) {
      case 'h':
      o.mode = Options::Mode::kHelp;
      break;
      case kVersion:
      if (o.mode != Options::Mode::kHelp) o.mode = Options::Mode::kVersion;
      break;
      case ':':
      if (was_long) bad_option("option '--" + std::string(long_name(optopt)) + "' requires an argument");
      bad_option(std::string("option requires an argument -- '") + static_cast<char>(optopt) + "'");
      default:  // '?', or an edit's option
      if (c >= kEdit) {
        set_edit(edit_options()[static_cast<std::size_t>(c - kEdit)], optarg != nullptr ? optarg : "", o.edits);
        break;
      }
      if (optopt != 0 && was_long) bad_option("option '--" + std::string(long_name(optopt)) + "' doesn't allow an argument");
      if (optopt != 0) bad_option(std::string("invalid option -- '") + static_cast<char>(optopt) + "'");
      bad_option("unrecognized option '" + std::string(typed.substr(0, typed.find('='))) + "'");

    }
    o.any_option = true;
  }
  if (o.mode != Options::Mode::kRun) return o;
  if (optind >= argc) bad_option("no input file given");
  o.input = operand(optind);
  if (!o.inputs.empty()) {
    o.inputs.clear();
    for (int i = optind; i < argc; ++i) o.inputs.push_back(operand(i));
  } else {
    if (optind + 1 < argc) o.step = operand(optind + 1);
    for (int i = optind + 2; i < argc; ++i) o.extra.push_back(operand(i));
  }
  check_combinations(o);
  return o;
}

namespace {

// What the options say together, once all are read: the batch's templates, the outputs on
// standard output, the morph's two halves, and one name for two outputs.
void check_combinations(Options& o) {
  if (o.info && !o.extra.empty()) bad_option("--info takes one input and a time step at most, not '" + o.extra.front() + "' too");
  if (o.batch()) check_batch(o);
  // One input with --step: its templates name its outputs as a batch's would ({name}, a folder).
  else if (o.inputs.size() == 1 && o.input != "-") o = outputs_named_for(o, o.input);
  if (o.output_to_stdout()) o.quiet = true;
  if (o.plot_log && o.plot_view.band && !(o.plot_view.band->first > 0))
    bad_option("--plot-band's low end must be above 0 Hz on --plot-log's logarithmic axis");
  if (o.wav == "-") {
    // Standard output carries the sound: the result goes to a file, and nothing else is printed.
    if (!o.named_output() || o.output_to_stdout()) bad_option("--wav=- needs -o FILE: standard output carries the sound");
    o.quiet = true;
  }
  if (o.morph_with.empty() != o.edits.morph.points.empty())
    bad_option(o.morph_with.empty() ? "--morph needs --morph-with=FILE, the other sound" : "--morph-with needs --morph=W, how far towards it");
  if (const std::string problem = combination_problem(o.edits); !problem.empty()) bad_option(problem);
  std::vector<std::string> names = o.extra_outputs();
  if (o.batch()) names.clear();  // templates: each input's names are compared once made
  if (o.named_output() && !o.output_to_stdout() && !o.batch()) names.push_back(o.output);
  for (std::size_t i = 0; i < names.size(); ++i)
    for (std::size_t j = i + 1; j < names.size(); ++j)
      if (names[i] == names[j]) bad_option("'" + names[i] + "' is named for two outputs");
}

}  // namespace

}  // namespace zarn
