#include "app/help.hpp"

#include "app/option_rows.hpp"

#include "edit/edits.hpp"
#include "fit/fit.hpp"
#include "formats/formats.hpp"

namespace zarn {

namespace detail {

std::string option_help(const std::string& head, const std::string& text) {
  constexpr std::size_t kText = 21, kWidth = 86;
  std::string out = "      " + head;
  out += out.size() < kText ? std::string(kText - out.size(), ' ') : "  ";
  std::size_t column = out.size();
  bool first = true;
  const bool own_lines = text.find('\n') != std::string::npos;
  for (std::size_t at = 0; at < text.size();) {
    if (own_lines) {
      const std::size_t end = std::min(text.find('\n', at), text.size());
      out += text.substr(at, end - at) + "\n";
      at = end + 1;
      if (at < text.size()) out += std::string(kText, ' ');
      continue;
    }
    const std::size_t end = std::min(text.find(' ', at), text.size());
    const std::string word = text.substr(at, end - at);
    if (!first && column + 1 + word.size() > kWidth) {
      out += "\n" + std::string(kText, ' ');
      column = kText;
    } else if (!first) {
      out += ' ';
      ++column;
    }
    first = false;
    out += word;
    column += word.size();
    at = end + 1;
  }
  if (!own_lines) out += '\n';
  return out;
}

}  // namespace detail

using detail::option_help;

void usage(Output& out) {
  out.put("USAGE:\n");
  out.put("      zarn <infile> <dur>\n");
  out.put("           <infile> is in LISP IRCAM format\n");
  out.put("           <dur> = time spacing between resampled breakpoints\n");
}

namespace {

// What zarn does, and the options of the result: its name, format and grid.
void help_result(Output& out) {
  out.put(
      "Usage: zarn [OPTION]... INFILE [DUR]\n"
      "       zarn [OPTION]... --step=DUR INFILE...\n"
      "\n"
      "zarn reads a partial list, an SDIF file of 1TRC or 1HRM tracks, an ATS file or a text\n"
      "export of a partial editor, or analyses a sound file (WAV, AIFF, FLAC, Ogg, CAF, MP3\n"
      "and the other containers of libsndfile) into partials (recognised from the content),\n"
      "lists every resampled breakpoint\n"
      "(time --> frequency, linear amplitude), then asks for the name of the output file on\n"
      "standard input. A name that already exists is refused and asked for again; nothing is\n"
      "ever overwritten. The result is written as a partial list, with levels in decibels,\n"
      "unless --format says otherwise. DUR defaults to 0.05.\n"
      "\n"
      "Options:\n"
      "  -o, --output=FILE  save the result to FILE, without the dialogue; '-' is standard\n"
      "                     output (and implies --quiet). An existing FILE is refused;\n"
      "                     a device (-o /dev/null) is written to.\n"
      "      --force        with -o, replace an existing FILE atomically\n"
      "  -q, --quiet        print neither the banner, the lengths nor the listing\n"
      "  -f, --format=FORMAT  write the result in FORMAT (a partial list by default):\n");
  out.put("                     " + format_names() + "\n");
  for (const FormatRow& row : format_table())
    if (!row.ending.empty())
      out.put("                     (an output name ending in " + std::string(row.ending) + " picks " + std::string(row.name) + ")\n");
  out.put(
      "      --align        lay the aligned grid (whole multiples of DUR), as the frame\n"
      "                     formats always do:");
  for (const FormatRow& row : format_table())
    if (row.frames) out.put(" " + std::string(row.name));
  out.put("\n");
}

// The help of the table's rows of one group, each in its order.
void help_rows(Output& out, std::string_view group) {
  for (const OptionRow& row : option_rows()) {
    if (row.group != group || row.help.empty()) continue;
    std::string head = "--" + std::string(row.name);
    if (!row.argument.empty()) head += row.optional ? "[=" + std::string(row.argument) + "]" : "=" + std::string(row.argument);
    out.put(option_help(head, std::string(row.help)));
  }
}

// The options of a sound's analysis and of the fit.
void help_analysis_and_fit(Output& out) {
  help_rows(out, "analysis");
  std::string fits = "how each partial is fitted: ";
  for (std::size_t i = 0; i < fit_table().size(); ++i) {
    const FitRow& row = fit_table()[i];
    fits += (i == 0 ? "" : i + 1 == fit_table().size() ? " or " : ", ") + std::string(row.name) + " (" + std::string(row.about) + ")";
  }
  out.put(option_help("--fit=FIT", fits));
  help_rows(out, "fit");
}

// The picture, the sound, the fundamental and the morph, then the edits from their table.
void help_outputs_and_edits(Output& out) {
  help_rows(out, "outputs");
  out.put(
      "\n"
      "Editing the partials as read, before the grid (filters first, each judged on the\n"
      "partials as read, --max-partials among those the others keep; then the changes):\n");
  for (const EditOption& edit : edit_options())
    out.put(option_help("--" + std::string(edit.name) + (edit.argument.empty() ? "" : "=" + std::string(edit.argument)), std::string(edit.help)));
}

// The rest, examples and the exit status.
void help_end(Output& out) {
  out.put(
      "      --step=DUR     the time step DUR as an option: every operand is then an input,\n"
      "                     each run as if alone, its outputs named by templates: -o, --plot,\n"
      "                     --wav and --f0 take {name} (the input's name without its folder and\n"
      "                     ending) and {ext} (its ending), or a folder ending in '/'\n"
      "  -j, --jobs=N       with several inputs, run N at once (by default, as many as the cores);\n"
      "                     a progress line on a terminal and a closing summary (not with -q);\n"
      "                     with one input and 2 or more, read it beside the fit (-q -o runs)\n"
      "  -h, --help         print this help\n"
      "      --info         say what INFILE holds (format, partials, ranges) instead of\n"
      "                     resampling it; DUR counts the partials shorter than it\n"
      "      --version      print the version\n"
      "INFILE '-' reads standard input, and then needs -o. A file whose name starts with '-'\n"
      "is reached with '--' or './-name'.\n"
      "\n"
      "Scripted use:\n"
      "      zarn -q -o out.txt analysis.txt 0.01\n"
      "      zarn -q -o voice.sdif --plot=voice.svg --wav=again.wav voice.wav 0.005\n"
      "      zarn -q -o thin.txt --min-duration=0.1 --max-partials=40 --transpose=-1200 analysis.txt 0.01\n"
      "      zarn -o - analysis.txt 0.01 | ...\n"
      "      zarn -j 2 -o out/{name}.sdif --plot=out/ --step=0.01 recordings/*.wav\n"
      "      cat analysis.txt | zarn -q -o out.txt - 0.01\n"
      "      echo out.txt | zarn analysis.txt 0.01\n"
      "\n"
      "Exit status:\n"
      "      0  everything asked for was saved whole: the result, and the picture and the\n"
      "         sound where asked for (or --help, --version)\n"
      "      1  anything else: no arguments, a bad option, unreadable or malformed input, a bad\n"
      "         time step, no output name, a file that could not be created or written. The\n"
      "         picture and the sound come after the result: if one of them fails, the message\n"
      "         says that the result was saved, and where\n");
}

}  // namespace

void help(Output& out) {
  help_result(out);
  help_analysis_and_fit(out);
  help_outputs_and_edits(out);
  help_end(out);
}

}  // namespace zarn
