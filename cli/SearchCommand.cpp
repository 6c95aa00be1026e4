// search: looks for lost partitions in free space and lists what it finds.
#include "Commands.h"
#include "SearchRun.h"
#include "TextTable.h"

static FXString number(FXulong n) {
  FXString t;
  t.format("%llu", (unsigned long long)n);
  return t;
}

static FXString candidateTable(Session& session, const std::vector<FoundCandidate>& found) {
  Texts& tx = session.texts;
  TextTable table({tx.get("kelvarin-cli.search.011"), tx.get("kelvarin-cli.search.018"),
                   tx.get("kelvarin-cli.search.013"), tx.get("kelvarin-cli.list.011"),
                   tx.get("kelvarin-cli.list.012"), tx.get("kelvarin-cli.list.013"),
                   tx.get("kelvarin-cli.list.010"), tx.get("kelvarin-cli.search.019"),
                   tx.get("kelvarin-cli.search.020"), tx.get("kelvarin-cli.search.016"),
                   tx.get("kelvarin-cli.search.021"), tx.get("kelvarin-cli.list.014")});
  for (size_t c : {0, 1, 2, 3, 4, 5}) table.alignRight(c);
  for (const FoundCandidate& f : found) {
    const Candidate& c = f.candidate;
    FXString type;
    type.format("%02x %s", c.type(), c.typeName().text());
    FXString letter;
    if (c.letter >= 'A') letter.format("%c:", c.letter);
    table.add({number(f.id), number(c.disk + 1), number(c.foundAt), number(c.start()),
               number(c.sectors()), SizeText(c.bytes()), type.trimEnd(), c.partition.fileSystem,
               c.partition.label, YesNo(session, c.logical()), c.partition.foundBy, letter});
  }
  return table.render(2);
}

static void candidateJson(JsonWriter& json, const FoundCandidate& f) {
  const Candidate& c = f.candidate;
  json.beginObject();
  json.key("id").value(f.id);
  json.key("disk").value(c.disk + 1);
  json.key("foundAt").value(c.foundAt);
  json.key("slot").value(c.slot);
  json.key("pick").value(f.pick);
  json.key("start").value(c.start());
  json.key("sectors").value(c.sectors());
  json.key("bytes").value(c.bytes());
  json.key("size").value(SizeText(c.bytes()));
  json.key("type").value((FXint)c.type());
  json.key("typeName").value(c.typeName());
  json.key("fileSystem").value(c.partition.fileSystem);
  json.key("label").value(c.partition.label);
  json.key("logical").value(c.logical());
  json.key("foundBy").value(c.partition.foundBy);
  json.key("letter");
  if (c.letter >= 'A') {
    json.value(FXString(c.letter, 1));
  } else {
    json.null();
  }
  json.endObject();
}

static void searchJson(Session& session, const SearchResult& r, bool quick) {
  JsonWriter json;
  json.beginObject();
  json.key("schema").value("kelvarin-cli/search/2");
  json.key("mode").value(quick ? "quick" : "full");
  json.key("simulation").value(session.line.engine.simulation);
  json.key("interrupted").value(r.interrupted);
  json.key("ioError").value(r.ioError);
  json.key("searched").beginArray();
  for (const SearchResult::Searched& s : r.searched) {
    json.beginObject();
    json.key("disk").value(s.stretch.disk + 1);
    json.key("gap").value(s.stretch.number);
    json.key("start").value(s.stretch.start);
    json.key("end").value(s.stretch.end);
    json.key("ioError").value(s.ioError);
    json.key("found").beginArray();
    for (FXulong sector : s.sectors) json.value(sector);
    json.endArray();
    json.endObject();
  }
  json.endArray();
  json.key("candidates").beginArray();
  for (const FoundCandidate& f : r.candidates) candidateJson(json, f);
  json.endArray();
  json.endObject();
  session.print(json.text());
}

int SearchCommand(Session& session) {
  UsageError usage;
  ArgReader reader(session.line.args, usage);
  SearchChoice choice;
  FXString option;
  while (reader.next(option))
    if (!choice.read(reader, option)) usage.raise("kelvarin-cli.main.004", option);
  choice.check(usage);
  if (usage.set()) return session.usage(usage);

  int status = session.openDisks();
  if (status != EXIT_OK) return status;
  std::vector<Stretch> chosen;
  if (!ChooseStretches(session, choice, chosen)) return EXIT_USAGE;

  SearchResult result = RunSearch(session, chosen, choice.quick);
  Texts& tx = session.texts;
  for (const SearchResult::Searched& s : result.searched) {
    if (s.ioError)
      session.error(tx.format("kelvarin-cli.search.012", s.stretch.disk + 1, s.stretch.number));
  }
  if (result.interrupted) session.note(tx.get("kelvarin-cli.search.017"));

  if (session.line.json) {
    searchJson(session, result, choice.quick);
  } else if (result.candidates.empty()) {
    session.print(tx.get("kelvarin-cli.search.005") + "\n");
    if (choice.quick) session.note(tx.get("kelvarin-cli.search.006"));
  } else {
    session.print(tx.format("kelvarin-cli.search.008", (FXint)result.candidates.size()) + "\n");
    session.print(candidateTable(session, result.candidates));
    session.note(tx.get("kelvarin-cli.search.015"));
  }
  if (result.ioError) return EXIT_IO;
  return result.candidates.empty() ? EXIT_NOTHING : EXIT_OK;
}
