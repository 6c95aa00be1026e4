// show: what is inside one found volume, before anything is written: its
// summary and a page of one of its folders.  Reads only.
#include <ctime>

#include "Commands.h"
#include "Console.h"
#include "Picks.h"
#include "TextTable.h"
#include "contents/PieceReader.h"
#include "contents/VolumeContents.h"

namespace {

struct Options {
  SearchChoice search;
  std::vector<Pick> picks;
  FXString path = "/";
  bool pathGiven = false;
  FXint first = 1;  // 1-based, as the user counts
  FXint count = 100;
};

// Options that take their value as the next word, so that word is no path.
bool takesValue(const FXString& word) {
  for (const FXchar* o : {"--disk", "--gap", "--pick", "--first", "--count"})
    if (word == o) return true;
  return false;
}

// The folder path is the one word that is neither an option nor a value;
// the options are left for the ArgReader.
std::vector<FXString> splitPath(const std::vector<FXString>& args, Options& o, UsageError& usage) {
  std::vector<FXString> options;
  for (size_t i = 0; i < args.size(); i++) {
    if (args[i].empty() || args[i][0] != '-') {
      if (o.pathGiven) usage.raise("kelvarin-cli.show.004", args[i]);
      o.path = args[i];
      o.pathGiven = true;
      continue;
    }
    options.push_back(args[i]);
    if (takesValue(args[i]) && i + 1 < args.size()) options.push_back(args[++i]);
  }
  return options;
}

FXString timeText(FXlong seconds, const FXchar* format) {
  if (seconds < 0) return FXString::null;
  time_t t = (time_t)seconds;
  struct tm parts;
  char text[32];
  if (!gmtime_r(&t, &parts) || !strftime(text, sizeof(text), format, &parts)) return FXString::null;
  return text;
}

FXString noteText(Session& session, const ContentsNote& note) {
  return session.texts.format(note.key, note.arg.text());
}

FXString stateText(Session& session, const VolumeSummary& s) {
  if (s.intact) return session.texts.get("Contents.Summary.001");
  return session.texts.format("Contents.Summary.002", noteText(session, s.damage).text());
}

FXString summaryText(Session& session, const Candidate& c, const VolumeSummary& s) {
  Texts& tx = session.texts;
  FXString text = tx.format("kelvarin-cli.show.019", (double)c.start(), c.disk + 1, SizeText(c.bytes()).text()) + "\n";
  text += tx.format("kelvarin-cli.show.005", s.fileSystem.text()) + "\n";
  if (!s.label.empty()) text += tx.format("kelvarin-cli.show.006", Texts::toTerminal(s.label).text()) + "\n";
  if (!s.uuid.empty()) text += tx.format("kelvarin-cli.show.007", s.uuid.text()) + "\n";
  if (!s.version.empty()) text += tx.format("kelvarin-cli.show.008", s.version.text()) + "\n";
  text += tx.format("kelvarin-cli.show.009", s.blockSize) + "\n";
  FXString unknown = tx.get("kelvarin-cli.show.021");
  text += tx.format("kelvarin-cli.show.010", s.spaceKnown ? SizeText(s.usedBytes).text() : unknown.text(),
                    s.spaceKnown ? SizeText(s.freeBytes).text() : unknown.text()) + "\n";
  text += tx.format("kelvarin-cli.show.011", stateText(session, s).text()) + "\n";
  return text;
}

FXString listingText(Session& session, const Options& o, const Listing& l) {
  Texts& tx = session.texts;
  FXString text;
  if (l.entries.empty()) {
    if (l.found) text += "\n" + tx.format("kelvarin-cli.show.018", Texts::toTerminal(o.path).text()) + "\n";
  } else {
    text += "\n" + tx.format("kelvarin-cli.show.012", Texts::toTerminal(o.path).text(), (FXuint)o.first,
                             (FXuint)(o.first + l.entries.size() - 1)) + "\n";
    TextTable table({tx.get("kelvarin-cli.show.013"), tx.get("kelvarin-cli.show.014"),
                     tx.get("kelvarin-cli.show.015")});
    table.alignRight(1);
    for (const DirEntry& e : l.entries) {
      FXString size = e.folder ? tx.get("kelvarin-cli.show.016") : FXStringVal((FXulong)e.size);
      FXString name = Texts::toTerminal(e.name) + (e.folder ? "/" : "");
      table.add({name, size, timeText(e.modified, "%Y-%m-%d %H:%M")});
    }
    text += table.render(2);
  }
  for (const ContentsNote& n : l.notes) text += noteText(session, n) + "\n";
  if (l.more) text += tx.format("kelvarin-cli.show.017", (FXuint)(o.first + l.entries.size())) + "\n";
  return text;
}

// A note as scripts read it: a code that stays, and the text in the chosen
// language.
void noteJson(Session& session, JsonWriter& json, const ContentsNote& note) {
  FXString code(note.key);
  json.beginObject();
  json.key("code").value(code.after('.'));
  json.key("text").value(noteText(session, note));
  json.endObject();
}

FXString showJson(Session& session, const Options& o, const Candidate& c, const VolumeSummary& s,
                  const Listing& l) {
  JsonWriter json;
  json.beginObject();
  json.key("schema").value("kelvarin-cli/show/1");
  json.key("disk").value(c.disk + 1);
  json.key("start").value(c.start());
  json.key("sectors").value(c.sectors());
  json.key("fileSystem").value(s.fileSystem);
  json.key("label").value(s.label);
  json.key("uuid").value(s.uuid);
  json.key("version").value(s.version);
  json.key("blockSize").value(s.blockSize);
  json.key("usedBytes");
  s.spaceKnown ? json.value(s.usedBytes) : json.null();
  json.key("freeBytes");
  s.spaceKnown ? json.value(s.freeBytes) : json.null();
  json.key("intact").value(s.intact);
  json.key("damage");
  s.intact ? (void)json.null() : noteJson(session, json, s.damage);
  json.key("path").value(o.path);
  json.key("found").value(l.found);
  json.key("first").value(o.first);
  json.key("entries").beginArray();
  for (const DirEntry& e : l.entries) {
    json.beginObject();
    json.key("name").value(e.name);
    json.key("folder").value(e.folder);
    json.key("size").value(e.size);
    json.key("modified");
    e.modified < 0 ? json.null() : json.value(timeText(e.modified, "%Y-%m-%dT%H:%M:%SZ"));
    json.endObject();
  }
  json.endArray();
  json.key("more").value(l.more);
  json.key("notes").beginArray();
  for (const ContentsNote& n : l.notes) noteJson(session, json, n);
  json.endArray();
  json.endObject();
  return json.text();
}

}  // namespace

int ShowCommand(Session& session) {
  UsageError usage;
  Options o;
  std::vector<FXString> options = splitPath(session.line.args, o, usage);
  ArgReader reader(options, usage);
  FXString option;
  while (reader.next(option)) {
    if (o.search.read(reader, option)) continue;
    if (ReadPick(reader, option, o.picks, usage)) continue;
    if (option == "--first") {
      reader.number(o.first, 1);
    } else if (option == "--count") {
      reader.number(o.count, 1);
    } else {
      usage.raise("kelvarin-cli.main.004", option);
    }
  }
  o.search.check(usage);
  if (o.search.disk == 0) usage.raise("kelvarin-cli.show.002");
  if (o.picks.size() != 1) usage.raise("kelvarin-cli.show.003");
  if (usage.set()) return session.usage(usage);

  FXint disk = -1;
  int status = session.openDisks(o.search.disk, disk);
  if (status != EXIT_OK) return status;
  std::vector<Candidate> chosen, found;
  status = ResolvePicks(session, o.search, o.picks, disk, chosen, found);
  if (status != EXIT_OK) return status;
  const Candidate& c = chosen.front();

  const NRD& d = session.analyser().disks[disk];
  PieceReader diskReader(d.device, d.sectors);
  ContentsNote why;
  std::unique_ptr<VolumeContents> volume = OpenVolumeContents(diskReader, c.start(), c.sectors(), why);
  if (!volume) {
    session.error(noteText(session, why));
    return EXIT_NOTHING;
  }
  VolumeSummary summary = volume->summary();
  Listing listing = volume->list(o.path, (FXuint)o.first - 1, (FXuint)o.count);
  if (session.line.json) {
    session.print(showJson(session, o, c, summary, listing));
  } else {
    session.print(summaryText(session, c, summary) + listingText(session, o, listing));
  }
  return listing.found ? EXIT_OK : EXIT_NOTHING;
}
