#include "app/dialogue.hpp"

#include <cstring>

#include "model/failure.hpp"

namespace zarn {

namespace {

using Kind = SaveOutcome::Kind;

void say_with_name(Output& out, const char* before, const std::string& name, const char* after) {
  out.put(before);
  out.put(name);
  out.put(after);
}

// Flushes the console before the user is asked anything; a console that cannot be written
// ends the run.
void flush_console(Output& console) {
  if (!console.flush()) throw Failure(stdout_failed(console.error()), FailureKind::kFileSystem, console.error());
}

}  // namespace

bool save_dialogue(Output& console, Input& answers, const Writer& write,
                   const std::function<void(const std::string&)>& warn, std::string* saved_as) {
  for (;;) {
    console.put("Enter file name: \n");
    console.put("                 ");  // 17 spaces
    flush_console(console);
    Token word;
    if (!answers.next(word)) throw failure("no output file name given; nothing saved");
    const std::string name(word.text);
    if (name.find('\0') != std::string::npos) throw failure("the output file name holds a NUL byte; nothing saved");
    const SaveOutcome saved = save_new(name, write);
    switch (saved.kind) {
      case Kind::kWritten:
        console.put("Hello, World!\n");
        if (saved_as != nullptr) *saved_as = name;
        return true;
      case Kind::kExists:
      case Kind::kNotAFile:
        say_with_name(console, "File ", name, " exists\n");
        continue;
      case Kind::kNotOwned:  // a new file has no owner to keep
      case Kind::kCannotCreate:
        say_with_name(console, "Cannot create file ", name, "\n");
        warn(compose(name, std::strerror(saved.error)));
        return false;
      case Kind::kCannotWrite:
        say_with_name(console, "Cannot write file ", name, "\n");
        warn(compose(name, std::strerror(saved.error)));
        return false;
    }
  }
}

}  // namespace zarn
