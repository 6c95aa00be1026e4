#include "Session.h"

#include "Console.h"

Session::Session(const CommandLine& line) : line(line), texts(&startInfo), analyse(nullptr) {
  if (line.engine.langGiven) startInfo.ChooseLanguage(line.engine.lang);
}

Session::~Session() {
  // In backup mode this stores layout.bin with every change of the run.
  if (analyse) {
    texts.use(&startInfo);
    if (sharedAnalyser == analyse) sharedAnalyser = nullptr;
    delete analyse;
  }
}

int Session::openDisks() {
  std::vector<FXString> args = line.engine.analyserArguments();
  std::vector<FXchar*> argv;
  for (FXString& a : args) argv.push_back((FXchar*)a.text());
  argv.push_back(nullptr);
  // No application object: the analyser needs none without a display.
  analyse = new Analyse((FXint)args.size(), argv.data());
  sharedAnalyser = analyse;
  texts.use(analyse);

  const StartMessage& m = analyse->startMessage;
  if (m.kind == StartMessage::NONE) return EXIT_OK;
  FXString text = Texts::toTerminal(analyse->StartMessageText());
  switch (m.kind) {
    case StartMessage::BAD_OPTION:
      error(text);
      note(texts.get("kelvarin-cli.main.015"));
      return EXIT_USAGE;
    case StartMessage::BAD_IMAGE:
      error(text);
      return EXIT_IO;
    case StartMessage::NO_DISKS:
      error(text);
      return EXIT_NOTHING;
    default:
      note(text);
      return EXIT_OK;
  }
}

int Session::openDisks(FXint diskNumber, FXint& index) {
  index = -1;
  int status = openDisks();
  if (status != EXIT_OK) return status;
  if (diskNumber && !diskIndex(diskNumber, index)) return EXIT_USAGE;
  return EXIT_OK;
}

void Session::error(const FXString& text) { Console::Print(Console::Err(), "kelvarin-cli: " + text); }

void Session::note(const FXString& text) { Console::Print(Console::Err(), text); }

void Session::print(const FXString& text) { fputs(text.text(), Console::Out()); }

int Session::usage(const UsageError& e) {
  error(texts.format(e.key, e.arg1.text(), e.arg2.text()));
  note(texts.get("kelvarin-cli.main.015"));
  return EXIT_USAGE;
}

bool Session::diskIndex(FXint number, FXint& index) {
  FXint count = (FXint)analyse->disks.size();
  if (number < 1 || number > count) {
    error(texts.format("kelvarin-cli.main.011", number, count));
    return false;
  }
  index = number - 1;
  return true;
}
