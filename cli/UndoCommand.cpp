// undo: takes an earlier recovery back, disk by disk, as the wizard offers
// it on its first page.
#include <unistd.h>

#include <cctype>

#include "Commands.h"
#include "Console.h"
#include "IOSystem.h"

// Reads the user's answer; only the words of the language's yes list count
// as yes, so an empty line or the end of input means no.
static bool askYes(Session& session, const FXString& question) {
  fputs(question.text(), Console::Err());
  fputs(session.texts.get("kelvarin-cli.undo.003").text(), Console::Err());
  fflush(Console::Err());
  char buffer[256];
  if (!fgets(buffer, sizeof(buffer), stdin)) {
    fputc('\n', Console::Err());
    return false;
  }
  FXString answer = FXString(buffer).trim();
  FXString words = " " + session.texts.get("kelvarin-cli.undo.004") + " ";
  for (FXint i = 0; i < words.length(); i++) words[i] = (FXchar)tolower((FXuchar)words[i]);
  for (FXint i = 0; i < answer.length(); i++) answer[i] = (FXchar)tolower((FXuchar)answer[i]);
  return !answer.empty() && words.find(" " + answer + " ") >= 0;
}

// The sectors a simulated undo of `device` would have written.
static FXString sectorList(const FXString& device) {
  FXString list;
  for (FXulong sector : IOSystem::SimulatedSectorNumbers(device)) {
    if (!list.empty()) list.append(", ");
    list.append(FXStringFormat("%llu", (unsigned long long)sector));
  }
  return list;
}

int UndoCommand(Session& session) {
  UsageError usage;
  ArgReader reader(session.line.args, usage);
  FXint diskNumber = 0;
  bool yes = false;
  FXString option;
  while (reader.next(option)) {
    if (option == "--disk") {
      reader.number(diskNumber, 1);
    } else if (option == "--yes") {
      yes = true;
    } else {
      usage.raise("kelvarin-cli.main.004", option);
    }
  }
  if (usage.set()) return session.usage(usage);

  FXint only = -1;
  int status = session.openDisks(diskNumber, only);
  if (status != EXIT_OK) return status;
  Analyse& a = session.analyser();
  Texts& tx = session.texts;
  if (IOSystem::simulationMode) session.note(tx.get("kelvarin-cli.main.009"));

  std::vector<FXint> undone;
  FXint offered = 0;
  bool failed = false;
  for (FXint d = 0; d < (FXint)a.disks.size(); d++) {
    if (only >= 0 && d != only) continue;
    NRD& disk = a.disks[d];
    FXulong dbStart = IOSystem::IsUndoAvailable(disk.device);
    if (dbStart == 0) continue;
    if (!IOSystem::CheckUndoDBPartitionChkSum(disk.device, dbStart)) {
      session.note(tx.format("kelvarin-cli.undo.008", d + 1));
      continue;
    }
    FXulong changed = 0;
    if (IOSystem::UndoWouldOverwrite(disk.device, dbStart, changed)) {
      session.note(tx.format("kelvarin-cli.undo.010", d + 1, (double)changed));
      continue;
    }
    offered++;
    FXString model = disk.model;
    model.trimEnd();
    FXString shown = tx.toTerminal(model).trimBegin();
    FXString question = tx.format("kelvarin-cli.list.002", d + 1, disk.device.text(), shown.text()) +
                        "\n" + tx.format("Kelvarin.mFXWizard.037", model.text());
    if (yes) {
      session.note(question);
    } else if (!askYes(session, question)) {
      continue;
    }
    bool ok;
    {
      HoldInterrupts hold;
      IOSystem::disableWriteLog = true;
      ok = IOSystem::Undo(disk.device, dbStart);
      IOSystem::RereadTable(disk.device);
    }
    if (!ok) {
      session.error(tx.format("kelvarin-cli.undo.007", d + 1));
      failed = true;
    } else if (IOSystem::simulationMode) {
      session.note(tx.format("kelvarin-cli.sim.002", d + 1, sectorList(disk.device).text()));
    } else {
      session.note(tx.format("kelvarin-cli.undo.006", d + 1));
    }
    undone.push_back(d);
  }

  if (offered == 0) {
    session.note(tx.get("kelvarin-cli.undo.002"));
    return EXIT_NOTHING;
  }
  if (undone.empty()) {
    session.note(tx.get("kelvarin-cli.undo.009"));
    return EXIT_NOTHING;
  }

  a.ReReadPartitions();
  for (FXint d : undone) {
    a.disks[d].gaps.clear();
    a.FindGaps(d);
  }
  if (session.line.json) {
    session.print(DisksJson(session, undone));
  } else {
    session.print(TableHeading(session) + "\n");
    for (FXint d : undone) session.print(DiskText(session, d));
  }
  return failed ? EXIT_IO : EXIT_OK;
}
