// recover: writes chosen candidates back into a disk's partition table, in
// the order the wizard's last pages do it: fit check, boot-code check,
// change logging, the writer, re-reading the tables, the checksums.
#include <map>

#include "Commands.h"
#include "Console.h"
#include "IOSystem.h"
#include "Picks.h"
#include "Recover.h"
#include "SearchRun.h"
#include "gpt/GptDisk.h"

namespace {

struct Options {
  SearchChoice search;
  std::vector<Pick> picks;
  bool activeGiven = false;
  FXulong active = 0;
  bool bootCode = false;
  bool noUndo = false;
  FXString label;  // of a new table: "gpt", "mbr" or empty
};

FXString describe(Session& session, const Candidate& c) {
  FXString type;
  type.format("%02x %s", c.type(), c.typeName().text());
  return session.texts.format("kelvarin-cli.recover.012", (double)c.start(), (double)c.sectors(),
                              SizeText(c.bytes()).text(), type.trimEnd().text(), (double)c.foundAt);
}

// The per-disk active selection the writer takes: empty leaves a disk's
// boot indicators alone.
bool activeSelection(Session& session, const Options& o, FXint disk,
                     const std::vector<RecoverPart>& list,
                     std::vector<std::vector<FXulong>>& selection) {
  Analyse& a = session.analyser();
  selection.assign(a.disks.size(), std::vector<FXulong>());
  if (!o.activeGiven) return true;
  // The choices the wizard's active-partition chooser offers: the disk's
  // primary partitions, then the chosen ones that go into the MBR.
  for (FXulong start : a.GetPrimaryStarts(disk)) {
    if (start == o.active) {
      selection[disk].push_back(start);
      return true;
    }
  }
  for (const RecoverPart& r : list) {
    if (!r.logical && r.sector == o.active) {
      selection[disk].push_back(r.sector);
      return true;
    }
  }
  session.error(session.texts.format("kelvarin-cli.recover.011", (double)o.active, disk + 1));
  return false;
}

// Whether the disk's MBR starts with boot code, as the fit check tests it.
bool hasBootCode(const NRD& d) {
  FXuchar MBR[SECTOR_SIZE];
  IOSystem::ReadBR(d.device, MBR, 0, SECTOR_SIZE);
  return startsWithBootCode(MBR);
}

// Says what is about to be written once the recovery is sure to write.
class WritingNotes : public RecoverProgress {
public:
  WritingNotes(Session& session, FXint disk, const std::vector<Candidate>& chosen)
      : session(session), disk(disk), chosen(chosen) {}
  void starting() override {
    Texts& tx = session.texts;
    const NRD& d = session.analyser().disks[disk];
    session.note(tx.format("kelvarin-cli.recover.013", disk + 1, d.device.text()));
    for (const Candidate& c : chosen) session.note("  " + describe(session, c));
    if (IOSystem::simulationMode) session.note(tx.get("kelvarin-cli.main.009"));
  }
  void setProgress(FXuint) override {}
  void setTotal(FXuint) override {}
  FXuint getTotal() override { return 0; }
  void increment(FXuint) override {}

private:
  Session& session;
  FXint disk;
  const std::vector<Candidate>& chosen;
};

// Names every chosen partition the writer did not write, and why; the exit
// status that says so (EXIT_OK when each was written).
int reportResults(Session& session, const std::vector<RecoverResult>& results) {
  int status = EXIT_OK;
  for (const RecoverResult& r : results) {
    if (r.done()) continue;
    FXString why = session.texts.format(r.reason.key, (double)r.args[0], (double)r.args[1]);
    session.error(session.texts.format("kelvarin-cli.recover.022", (double)r.part.first, why.text()));
    if (r.reason.ioError) {
      status = EXIT_IO;
    } else if (status == EXIT_OK) {
      status = EXIT_NOTHING;
    }
  }
  return status;
}

// Each chosen partition must be in the table read back.
bool tableHolds(const NRD& d, const Candidate& c) {
  if (const GptLayout* g = UsableGpt(d)) {
    for (const GptEntry& e : g->entries)
      if (e.first == c.start() && e.range().size() == c.sectors()) return true;
    return false;
  }
  for (const Partition& p : d.partitions)
    if (!p.isExtended() && p.start() == c.start() && p.entry.num == c.sectors()) return true;
  return false;
}

// The table the chosen partitions go into: the disk's own, or the one
// --label names for a disk without any.
TableKind tableFor(Session& session, const Options& o, FXint disk, RecoveryChoice& choice) {
  Analyse& a = session.analyser();
  choice.devices = a.GetDeviceNames(false);
  choice.newTables.assign(choice.devices.size(), TableKind::NONE);
  if (!o.label.empty()) choice.newTables[disk] = o.label == "gpt" ? TableKind::GPT : TableKind::MBR;
  return TableToWrite(a.disks[disk], choice);
}

// What a GPT cannot take: an active partition (it has no boot indicator)
// and boot code (its protective MBR keeps what it has); and the EFI system
// mark on anything but a FAT volume.  False, with the usage error raised.
bool picksFit(Session& session, const Options& o, bool gpt, const std::vector<Candidate>& chosen,
              UsageError& usage) {
  if (gpt && o.activeGiven) usage.raise("kelvarin-cli.recover.024", "--active", "--active");
  if (gpt && o.bootCode) usage.raise("kelvarin-cli.recover.024", "--boot-code", "--boot-code");
  for (const Candidate& c : chosen) {
    if (!c.efiSystem || usage.set()) continue;
    Analyse& a = session.analyser();
    std::optional<VolumeKind> kind = RecognisedKind(a, c.toRecoverPart(a));
    if (!kind || !IsFat(*kind))
      usage.raise("kelvarin-cli.recover.023", FXStringFormat("%llu", (unsigned long long)c.start()));
  }
  return !usage.set();
}

// The checks the wizard makes of a choice that goes into an MBR, in its
// order: every partition within an entry's reach, room in the MBR and its
// chain, boot code (asked for with --boot-code) and the active partition.
// EXIT_OK, or the status to end with, its message shown.
int checkMbrChoice(Session& session, const Options& o, FXint disk,
                   const std::vector<RecoverPart>& list, const std::vector<VolumeSpan>& foundVolumes,
                   bool& writeBootCode, std::vector<std::vector<FXulong>>& active) {
  Analyse& a = session.analyser();
  Texts& tx = session.texts;
  // The wizard refuses a partition no table entry can hold, and a choice the
  // MBR has no room for.
  FXString reason;
  if (!a.CheckTableReach(list, reason)) {
    session.error(Texts::toTerminal(reason));
    return EXIT_NOTHING;
  }
  if (!a.CheckMBRFit(list, foundVolumes, reason)) {
    session.error(tx.get("Kelvarin.onCmd_Next.001") + ": " + Texts::toTerminal(reason));
    return EXIT_NOTHING;
  }
  // It asks before it puts boot code into an MBR that has none; here the
  // answer is --boot-code.
  if (!a.CheckMBRCode()) {
    writeBootCode = o.bootCode;
    // The check covers every disk; the writer only puts code into an MBR
    // without any, so only this disk's own MBR is worth a word.
    if (!hasBootCode(a.disks[disk]))
      session.note(tx.format(o.bootCode ? "kelvarin-cli.recover.010" : "kelvarin-cli.recover.009",
                             disk + 1));
  }
  return activeSelection(session, o, disk, list, active) ? EXIT_OK : EXIT_USAGE;
}

}  // namespace

int RecoverCommand(Session& session) {
  UsageError usage;
  ArgReader reader(session.line.args, usage);
  Options o;
  FXString option;
  while (reader.next(option)) {
    if (o.search.read(reader, option)) continue;
    if (ReadPick(reader, option, o.picks, usage)) continue;
    if (option == "--active") {
      o.activeGiven = reader.sector(o.active);
    } else if (option == "--boot-code") {
      o.bootCode = true;
    } else if (option == "--no-undo") {
      o.noUndo = true;
    } else if (option == "--label") {
      if (reader.value(o.label) && o.label != "gpt" && o.label != "mbr")
        usage.raise("kelvarin-cli.gpt.017", o.label);
    } else {
      usage.raise("kelvarin-cli.main.004", option);
    }
  }
  o.search.check(usage);
  if (o.search.disk == 0) usage.raise("kelvarin-cli.recover.002");
  if (o.picks.empty()) usage.raise("kelvarin-cli.recover.003");
  if (usage.set()) return session.usage(usage);

  FXint disk = -1;
  int status = session.openDisks(o.search.disk, disk);
  if (status != EXIT_OK) return status;
  Analyse& a = session.analyser();
  Texts& tx = session.texts;
  if (GptRefuses(session, disk)) return EXIT_NOTHING;

  std::vector<Candidate> chosen, found;
  status = ResolvePicks(session, o.search, o.picks, disk, chosen, found);
  if (status != EXIT_OK) return status;
  RecoveryChoice choice;
  bool gpt = tableFor(session, o, disk, choice) == TableKind::GPT;
  if (!picksFit(session, o, gpt, chosen, usage)) return session.usage(usage);
  std::vector<RecoverPart> list;
  for (const Candidate& c : chosen) list.push_back(c.toRecoverPart(a));
  std::vector<VolumeSpan> foundVolumes = FoundVolumes(a, found);
  bool writeBootCode = false;
  std::vector<std::vector<FXulong>> active(a.disks.size());
  if (!gpt) {
    status = checkMbrChoice(session, o, disk, list, foundVolumes, writeBootCode, active);
    if (status != EXIT_OK) return status;
  }

  // Logging makes an undo possible; the wizard offers it for every disk.
  // A log that cannot hold the whole recovery could not take it back: that
  // is said before anything is written, and only --no-undo goes on without.
  for (NRD& d : a.disks) d.dbActive = !o.noUndo;
  choice.chosen = list;
  choice.foundVolumes = foundVolumes;
  choice.writeBootCode = writeBootCode;
  choice.activeStarts = active;
  WritingNotes notes(session, disk, chosen);
  std::vector<RecoverResult> results;
  {
    HoldInterrupts hold;  // a table is never left half written
    results = Recover::Apply(a, choice, &notes);
  }
  if (!results.empty() && Recover::RefusedForTheLog(results.front())) {
    // Where the log lives differs: the first track, or behind a GPT's array.
    session.error(tx.format(gpt ? "kelvarin-cli.gpt.014" : "kelvarin-cli.recover.020", disk + 1));
    return EXIT_NOTHING;
  }
  int written = reportResults(session, results);
  // The free space is shown as it now is.
  a.disks[disk].gaps.clear();
  a.FindGaps(disk);

  // A simulation reads back what it would have written, so it fails here
  // exactly when the real run would.
  bool readBack = true;
  for (size_t i = 0; i < chosen.size(); i++)
    readBack = readBack && (!results[i].done() || tableHolds(a.disks[disk], chosen[i]));
  if (!readBack) {
    session.error(tx.format("kelvarin-cli.recover.016", disk + 1));
    return EXIT_IO;
  }
  ShowWritten(session, disk, o.noUndo);
  return written;
}

void ShowWritten(Session& session, FXint disk, bool noUndo) {
  Texts& tx = session.texts;
  if (!IOSystem::simulationMode) {
    if (noUndo) {
      session.note(tx.get("kelvarin-cli.recover.014"));
    } else if (!session.analyser().disks[disk].logIncomplete) {
      // Where the log failed, the partitions it kept from being written
      // were named before; what was written is in the log.
      session.note(tx.get("kelvarin-cli.recover.017"));
    }
  }
  if (session.line.json) {
    session.print(DisksJson(session, {disk}));
  } else {
    session.print(TableHeading(session) + "\n");
    session.print(DiskText(session, disk));
  }
}
