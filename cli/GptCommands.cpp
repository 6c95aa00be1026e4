// GPT disks on the command line: what `list` shows of them, and `repair`.
// (`recover` writes into a GPT through the engine's recovery, as into an
// MBR.)
#include "Candidates.h"
#include "Commands.h"
#include "Console.h"
#include "IOSystem.h"
#include "TextTable.h"
#include "gpt/GptDisk.h"
#include "gpt/GptWriter.h"
#include "table/PartitionTable.h"

namespace {

FXString number(FXulong n) {
  FXString t;
  t.format("%llu", (unsigned long long)n);
  return t;
}

FXString typeText(const Guid& type) {
  const FXchar* name = GptType::name(type);
  return name ? FXString(name) : type.text();
}

const FXchar* stateKey(const GptLayout& g) {
  switch (g.state) {
    case GptLayout::PRIMARY_DAMAGED: return "kelvarin-cli.gpt.005";
    case GptLayout::BACKUP_DAMAGED: return "kelvarin-cli.gpt.006";
    case GptLayout::BOTH_DAMAGED: return "kelvarin-cli.gpt.007";
    default: return nullptr;
  }
}

const FXchar* stateName(const GptLayout& g) {
  static const FXchar* const NAMES[] = {"none",           "intact",        "primary-damaged",
                                        "backup-damaged", "both-damaged", "hostile"};
  return NAMES[g.state];
}

bool carriesGpt(const NRD& d) { return PartitionTable::Of(d).kind() == TableKind::GPT; }

// What stands in the way of writing a GPT disk, or empty.
FXString refusalText(Session& session, FXint disk) {
  const NRD& d = session.analyser().disks[disk];
  if (PartitionTable::Of(d).Usable(d)) return FXString::null;
  Texts& tx = session.texts;
  if (d.gptTable && d.gptTable->state == GptLayout::HOSTILE)
    return tx.format("kelvarin-cli.gpt.008", disk + 1, tx.get(d.gptTable->problem).text());
  return tx.format("kelvarin-cli.gpt.002", disk + 1);
}

FXString planRefusal(Session& session, const GptPlan& plan, FXint disk) {
  Texts& tx = session.texts;
  FXString what = tx.format(plan.refusal, (double)plan.args[0], (double)plan.args[1]);
  return tx.format("kelvarin-cli.gpt.013", disk + 1, what.text());
}

// Writes a repair plan as `recover` writes a table: the log checked first,
// every sector logged, the tables read again afterwards.
int writePlan(Session& session, FXint disk, const GptPlan& plan, bool noUndo) {
  Analyse& a = session.analyser();
  Texts& tx = session.texts;
  NRD& d = a.disks[disk];
  if (plan.refused()) {
    session.error(planRefusal(session, plan, disk));
    return EXIT_NOTHING;
  }
  if (IOSystem::simulationMode) session.note(tx.get("kelvarin-cli.main.009"));
  GptWriter::Outcome outcome;
  {
    HoldInterrupts hold;  // a table is never left half written
    outcome = GptWriter::Apply(d, plan, !noUndo);
    a.ReReadPartitions();
    a.CalcNRDChecksums();
    a.WriteNRDChecksums();
  }
  if (outcome == GptWriter::NO_ROOM_FOR_LOG) {
    session.error(tx.format("kelvarin-cli.gpt.014", disk + 1));
    return EXIT_NOTHING;
  }
  d.gaps.clear();
  a.FindGaps(disk);
  if (outcome != GptWriter::WRITTEN) {
    session.error(tx.format("kelvarin-cli.gpt.015", disk + 1));
    return EXIT_IO;
  }
  ShowWritten(session, disk, noUndo);
  return EXIT_OK;
}

}  // namespace

FXString GptLabelText(Session& session, FXint disk) {
  Texts& tx = session.texts;
  const NRD& d = session.analyser().disks[disk];
  FXString out;
  if (!carriesGpt(d)) {
    if (!d.partitions.empty()) out.append("  " + tx.get("kelvarin-cli.gpt.004") + "\n");
    return out;
  }
  FXString refusal = refusalText(session, disk);
  if (!refusal.empty()) {
    out.append("  " + tx.get("kelvarin-cli.gpt.001") + "\n  " + refusal + "\n");
    return out;
  }
  out.append("  " + tx.get("kelvarin-cli.gpt.003") + "\n");
  const FXchar* state = stateKey(*d.gptTable);
  if (state) out.append("  " + tx.format(state, disk + 1) + "\n");
  if (ProtectiveMbrMissing(d)) out.append("  " + tx.format("kelvarin-cli.gpt.012", disk + 1) + "\n");
  return out;
}

FXString GptPartitionsText(Session& session, FXint disk) {
  Texts& tx = session.texts;
  const GptLayout* g = UsableGpt(session.analyser().disks[disk]);
  if (!g) return FXString::null;
  if (g->entries.empty()) return "  " + tx.get("kelvarin-cli.list.005") + "\n";
  FXString out = "  " + tx.get("kelvarin-cli.list.004") + "\n";
  TextTable parts({tx.get("kelvarin-cli.gpt.009"), tx.get("kelvarin-cli.list.011"),
                   tx.get("kelvarin-cli.gpt.010"), tx.get("kelvarin-cli.list.012"),
                   tx.get("kelvarin-cli.list.013"), tx.get("kelvarin-cli.list.010"),
                   tx.get("kelvarin-cli.gpt.011"), tx.get("kelvarin-cli.gpt.016")});
  for (size_t c : {0, 1, 2, 3, 4}) parts.alignRight(c);
  for (const GptEntry& e : g->entries)
    parts.add({number(e.slot + 1), number(e.first), number(e.last), number(e.range().size()),
               SizeText(e.range().size() * SECTOR_SIZE), typeText(e.type),
               tx.toTerminal(e.name), e.unique.text()});
  out.append(parts.render(4));
  return out;
}

void GptJson(Session& session, JsonWriter& json, FXint disk) {
  const NRD& d = session.analyser().disks[disk];
  json.key("label").value(carriesGpt(d) ? "gpt" : d.partitions.empty() ? "none" : "mbr");
  json.key("gptTable");
  if (!d.gptTable) {
    json.null();
    return;
  }
  const GptLayout& g = *d.gptTable;
  json.beginObject();
  json.key("state").value(stateName(g));
  json.key("problem");
  if (g.state == GptLayout::HOSTILE && g.problem) {
    json.value(session.texts.get(g.problem));
  } else {
    json.null();
  }
  json.key("protectiveMbr").value(!ProtectiveMbrMissing(d));
  if (g.usable()) {
    const GptHeader& h = g.good().header;
    json.key("diskGuid").value(h.disk.text());
    json.key("firstUsable").value(h.firstUsable);
    json.key("lastUsable").value(h.lastUsable);
    json.key("entrySlots").value(h.count);
    json.key("entrySize").value(h.entrySize);
  }
  json.key("entries").beginArray();
  for (const GptEntry& e : g.entries) {
    json.beginObject();
    json.key("number").value(e.slot + 1);
    json.key("start").value(e.first);
    json.key("end").value(e.last);
    json.key("sectors").value(e.range().size());
    json.key("typeGuid").value(e.type.text());
    const FXchar* name = GptType::name(e.type);
    json.key("typeName").value(name ? name : "");
    json.key("name").value(e.name);
    json.key("guid").value(e.unique.text());
    json.endObject();
  }
  json.endArray();
  json.endObject();
}

bool GptRefuses(Session& session, FXint disk) {
  FXString refusal = refusalText(session, disk);
  if (refusal.empty()) return false;
  session.error(refusal);
  return true;
}

int RepairCommand(Session& session) {
  UsageError usage;
  ArgReader reader(session.line.args, usage);
  FXint diskNumber = 0;
  bool noUndo = false;
  FXString option;
  while (reader.next(option)) {
    if (option == "--disk") {
      reader.number(diskNumber, 1);
    } else if (option == "--no-undo") {
      noUndo = true;
    } else {
      usage.raise("kelvarin-cli.main.004", option);
    }
  }
  if (diskNumber == 0) usage.raise("kelvarin-cli.repair.002");
  if (usage.set()) return session.usage(usage);
  FXint disk = -1;
  int status = session.openDisks(diskNumber, disk);
  if (status != EXIT_OK) return status;
  if (GptRefuses(session, disk)) return EXIT_NOTHING;
  const NRD& d = session.analyser().disks[disk];
  if (!carriesGpt(d)) {
    session.error(session.texts.format("kelvarin-cli.repair.003", disk + 1));
    return EXIT_NOTHING;
  }
  return writePlan(session, disk, GptWriter::PlanRepair(d), noUndo);
}
