#include "app/plan.hpp"

#include "app/option_rows.hpp"

#include "edit/edits.hpp"
#include "formats/formats.hpp"

namespace zarn {

namespace {

bool always(const Options&) { return true; }
bool never(const Options&) { return false; }

// A format whose file is made as its partials come, as its row says: the list, written in
// their order, and SDIF, whose frames are made from points set aside on disk. On standard
// output too, as a pipe expects: a failure part-way leaves what was written, and the status
// says it is not whole.
bool saves_one_at_a_time(const Options& o) { return o.named_output() && row_of(o.result_format()).one_at_a_time != nullptr; }

const std::vector<StepRow> kSteps = {
    {"read", always, never},
    // An edit may weigh every partial against the others (the fundamental, the filters that
    // rank, the morph's matching); one that changes each partial on its own (a gain, a
    // transposition, a time scale) is applied to each as it comes.
    {"edit", [](const Options& o) { return !o.morph_with.empty() || !chosen_edits(o.edits, input_name(o.input)).empty(); },
     [](const Options& o) { return !o.morph_with.empty() || !edits_one_at_a_time(o.edits); }},
    {"grid", always, never},
    {"fit", always, never},
    // The console listing begins with every partial's length.
    {"list", [](const Options& o) { return !o.quiet; }, always},
    // The dialogue asks for a name once the result is made.
    {"save", always, [](const Options& o) { return !saves_one_at_a_time(o); }},
    // The picture, the sound and the fundamental, as their rows in the table of options say.
    {"extra writers", [](const Options& o) { return (o.given & kExtraOutput) != 0; },
     [](const Options& o) { return (o.given & kNeedsEveryPartial) != 0; }},
};

}  // namespace

std::vector<std::string_view> steps_needing_every_partial(const Options& options) {
  std::vector<std::string_view> steps;
  for (const StepRow& row : kSteps)
    if (row.chosen(options) && row.needs_every_partial(options)) steps.push_back(row.name);
  return steps;
}

bool streams(const Options& options) {
  return options.mode == Options::Mode::kRun && !options.info && !options.batch() && steps_needing_every_partial(options).empty();
}

Room result_room(const Options& options) {
  return Room(options.named_output() ? options.output : std::string("-"));
}

void take_room(Room& room, const Options& options, double points) {
  room.take(points * row_of(options.result_format()).point_bytes, "the result");
}

}  // namespace zarn
