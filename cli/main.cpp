// kelvarin-cli: Kelvarin without a display.  Lists disks, searches their
// free space for lost partitions, writes chosen ones back and takes a
// recovery back, with the engine the wizard uses and in the same order.
#include <fx.h>

#include "Commands.h"
#include "Console.h"
#include "Installation.h"

namespace {

struct CommandEntry {
  const FXchar* name;
  int (*run)(Session&);
  const FXchar* helpKey;
};

const CommandEntry COMMANDS[] = {
    {"list", ListCommand, "kelvarin-cli.list.001"},
    {"search", SearchCommand, "kelvarin-cli.search.001"},
    {"recover", RecoverCommand, "kelvarin-cli.recover.001"},
    {"undo", UndoCommand, "kelvarin-cli.undo.001"},
    {"repair", RepairCommand, "kelvarin-cli.repair.001"},
    {"show", ShowCommand, "kelvarin-cli.show.001"},
};

const CommandEntry* findCommand(const FXString& name) {
  for (const CommandEntry& c : COMMANDS)
    if (name == c.name) return &c;
  return nullptr;
}

}  // namespace

bool ShowHelp(Session& session, const FXString& command) {
  const FXchar* key = "kelvarin-cli.main.001";
  if (!command.empty()) {
    const CommandEntry* entry = findCommand(command);
    if (!entry) return false;
    key = entry->helpKey;
  }
  FXString text = session.texts.get(key);
  if (command.empty()) text.append("\n" + session.texts.get("kelvarin-cli.main.018"));
  Console::Print(Console::Out(), text);
  return true;
}

int main(int argc, char** argv) {
  CommandLine line;
  UsageError usage;
  ParseCommandLine(argc, argv, line, usage);
  if (line.version) {
    Installation::PrintVersion("kelvarin-cli");
    return EXIT_OK;
  }
  Console::Setup(line.verbose || line.engine.traceLevel > 0);
  if (line.engine.traceLevel >= 0) fxTraceLevel = (unsigned int)line.engine.traceLevel;
  if (!Texts::LoadData(argv[0])) {
    // Nothing to translate this into: no language file could be read.
    FXString places;
    for (const FXString& place : Information::dataPlaces) places += (places.empty() ? "" : ", ") + place;
    fprintf(Console::Err(),
            "kelvarin-cli: no language files found in lang/ of %s; texts are shown as their keys.\n",
            places.text());
  }

  Session session(line);
  if (usage.set()) return session.usage(usage);

  FXString command = line.command;
  if (command == "help") {
    command = line.args.empty() ? FXString::null : line.args[0];
    if (!ShowHelp(session, command)) {
      usage.raise("kelvarin-cli.main.002", command);
      return session.usage(usage);
    }
    return EXIT_OK;
  }
  if (command.empty()) {
    if (line.help) {
      ShowHelp(session, FXString::null);
      return EXIT_OK;
    }
    usage.raise("kelvarin-cli.main.014");
    return session.usage(usage);
  }
  const CommandEntry* entry = findCommand(command);
  if (!entry) {
    usage.raise("kelvarin-cli.main.002", command);
    return session.usage(usage);
  }
  if (line.help) {
    ShowHelp(session, command);
    return EXIT_OK;
  }
  return entry->run(session);
}
