// list: every disk with its geometry, partitions and free space.
#include "Candidates.h"
#include "Commands.h"
#include "FileSystem.h"
#include "IOSystem.h"
#include "TextTable.h"
#include "table/PartitionTable.h"

FXString YesNo(Session& session, bool flag) {
  return session.texts.get(flag ? "kelvarin-cli.main.016" : "kelvarin-cli.main.017");
}

FXString TableHeading(Session& session) {
  return session.texts.get(IOSystem::simulationMode ? "kelvarin-cli.sim.001"
                                                    : "kelvarin-cli.recover.015");
}

static FXString geometryText(const CHS& g) {
  FXString t;
  t.format("%llu/%d/%d", (unsigned long long)g.cylinders, g.heads, g.sectors);
  return t;
}

static FXString number(FXulong n) {
  FXString t;
  t.format("%llu", (unsigned long long)n);
  return t;
}

static FXString letterText(FXchar letter) {
  FXString t;
  if ((signed char)letter >= 'A') t.format("%c:", letter);
  return t;
}

static bool isActive(const Partition& p) { return p.entry.boot == 0x80; }

static FXString typeText(FXuchar type) {
  const FXchar* name = PartitionTypeName(type);
  FXString t;
  t.format("%02x %s", type, name ? name : "");
  return t.trimEnd();
}

FXString DiskText(Session& session, FXint disk) {
  Texts& tx = session.texts;
  const NRD& d = session.analyser().disks[disk];
  FXString out;
  out.append(tx.format("kelvarin-cli.list.002", disk + 1, d.device.text(),
                       tx.toTerminal(d.model).trim().text()));
  out.append('\n');
  out.append("  ");
  out.append(tx.format("kelvarin-cli.list.003", geometryText(d.physical).text(),
                       geometryText(d.logical).text(), number(d.sectors).text(),
                       SizeText(d.capacity).text()));
  out.append('\n');
  out.append(GptLabelText(session, disk));

  FXString gptParts = GptPartitionsText(session, disk);
  if (!gptParts.empty()) {
    out.append(gptParts);
  } else if (d.bootSectorOnly) {
    out.append("  ");
    out.append(tx.get("kelvarin-cli.list.008"));
    out.append('\n');
  } else if (d.partitions.empty()) {
    out.append("  ");
    out.append(tx.get("kelvarin-cli.list.005"));
    out.append('\n');
  } else {
    out.append("  ");
    out.append(tx.get("kelvarin-cli.list.004"));
    out.append('\n');
    TextTable parts({tx.get("kelvarin-cli.list.009"), tx.get("kelvarin-cli.list.010"),
                     tx.get("kelvarin-cli.list.011"), tx.get("kelvarin-cli.list.012"),
                     tx.get("kelvarin-cli.list.013"), tx.get("kelvarin-cli.list.014"),
                     tx.get("kelvarin-cli.list.015")});
    for (size_t c : {0, 2, 3, 4}) parts.alignRight(c);
    for (const Partition& p : d.partitions) {
      parts.add({number(p.l), typeText(p.entry.type), number(p.start()), number(p.entry.num),
                 SizeText((FXulong)p.entry.num * SECTOR_SIZE), letterText(p.letter),
                 isActive(p) ? YesNo(session, true) : FXString::null});
    }
    out.append(parts.render(4));
  }

  std::vector<Stretch> gaps;
  for (const Stretch& s : SearchableStretches(session.analyser()))
    if (s.disk == disk) gaps.push_back(s);
  out.append("  ");
  if (gaps.empty()) {
    out.append(tx.get("kelvarin-cli.list.007"));
    out.append('\n');
  } else {
    out.append(tx.get("kelvarin-cli.list.006"));
    out.append('\n');
    TextTable gapTable({tx.get("kelvarin-cli.list.016"), tx.get("kelvarin-cli.list.011"),
                    tx.get("kelvarin-cli.list.012"), tx.get("kelvarin-cli.list.013")});
    for (size_t c : {0, 1, 2, 3}) gapTable.alignRight(c);
    for (const Stretch& s : gaps)
      gapTable.add({number(s.number), number(s.start), number(s.sectors()),
                SizeText(s.sectors() * SECTOR_SIZE)});
    out.append(gapTable.render(4));
  }
  return out;
}

static void geometryJson(JsonWriter& json, const CHS& g) {
  json.beginObject();
  json.key("cylinders").value(g.cylinders);
  json.key("heads").value(g.heads);
  json.key("sectors").value(g.sectors);
  json.endObject();
}

void DiskJson(Session& session, JsonWriter& json, FXint disk) {
  const NRD& d = session.analyser().disks[disk];
  json.beginObject();
  json.key("number").value(disk + 1);
  json.key("device").value(d.device);
  json.key("model").value(FXString(d.model).trim());
  json.key("physical");
  geometryJson(json, d.physical);
  json.key("logical");
  geometryJson(json, d.logical);
  json.key("sectors").value(d.sectors);
  json.key("bytes").value(d.capacity);
  json.key("size").value(SizeText(d.capacity));
  json.key("wholeDiskFat").value(d.bootSectorOnly);
  json.key("gpt").value(PartitionTable::Of(d).kind() == TableKind::GPT);
  GptJson(session, json, disk);

  json.key("partitions").beginArray();
  for (const Partition& p : d.partitions) {
    json.beginObject();
    json.key("index").value(p.lognr);
    json.key("level").value(p.l);
    json.key("type").value((FXint)p.entry.type);
    const FXchar* name = PartitionTypeName(p.entry.type);
    json.key("typeName").value(name ? name : "");
    json.key("start").value(p.start());
    json.key("sectors").value((FXulong)p.entry.num);
    json.key("bytes").value((FXulong)p.entry.num * SECTOR_SIZE);
    json.key("size").value(SizeText((FXulong)p.entry.num * SECTOR_SIZE));
    json.key("extended").value(p.isExtended());
    json.key("active").value(isActive(p));
    json.key("letter");
    if ((signed char)p.letter >= 'A') {
      json.value(FXString(p.letter, 1));
    } else {
      json.null();
    }
    json.endObject();
  }
  json.endArray();

  json.key("gaps").beginArray();
  for (const Stretch& s : SearchableStretches(session.analyser())) {
    if (s.disk != disk) continue;
    json.beginObject();
    json.key("number").value(s.number);
    json.key("start").value(s.start);
    json.key("sectors").value(s.sectors());
    json.key("bytes").value(s.sectors() * SECTOR_SIZE);
    json.key("size").value(SizeText(s.sectors() * SECTOR_SIZE));
    json.endObject();
  }
  json.endArray();
  json.endObject();
}

FXString DisksJson(Session& session, const std::vector<FXint>& disks) {
  JsonWriter json;
  json.beginObject();
  json.key("schema").value("kelvarin-cli/list/1");
  json.key("simulation").value(session.line.engine.simulation);
  json.key("disks").beginArray();
  for (FXint d : disks) DiskJson(session, json, d);
  json.endArray();
  json.endObject();
  return json.text();
}

int ListCommand(Session& session) {
  UsageError usage;
  ArgReader reader(session.line.args, usage);
  FXString option;
  FXint diskNumber = 0;
  while (reader.next(option)) {
    if (option == "--disk") {
      reader.number(diskNumber, 1);
    } else {
      usage.raise("kelvarin-cli.main.004", option);
    }
  }
  if (usage.set()) return session.usage(usage);

  FXint only = -1;
  int status = session.openDisks(diskNumber, only);
  if (status != EXIT_OK) return status;

  FXint count = (FXint)session.analyser().disks.size();
  if (session.line.json) {
    std::vector<FXint> shown;
    for (FXint d = 0; d < count; d++)
      if (only < 0 || d == only) shown.push_back(d);
    session.print(DisksJson(session, shown));
  } else {
    bool first = true;
    for (FXint d = 0; d < count; d++) {
      if (only >= 0 && d != only) continue;
      if (!first) session.print("\n");
      first = false;
      session.print(DiskText(session, d));
    }
  }
  return EXIT_OK;
}
