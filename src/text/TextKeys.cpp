// The translation keys and the arguments each text is formatted with.
#include "TextKeys.h"

#include <cstring>

namespace TextKeys {

// The one list of keys: the language files must carry each of them, and a
// text that takes arguments must take exactly these.
static const std::vector<KeyUse> KEYS = {
    // The analyser: search log lines and the model text of a disk image.
    {"Analyse.CheckOne.001", "%s %.0lf"},  // file-system name, sector
    {"Analyse.CheckOne.009", ""},
    {"Analyse.CheckOne.010", "%u"},  // boot signatures found
    {"Analyse.CheckOne.011", ""},
    {"Analyse.ScanNRDPath.001", ""},
    // What the start-up tells the user before anything else.
    {"Analyse.CheckOptions.001", "%s"},          // option
    {"Analyse.CheckOptions.002", "%s"},          // the -chs value
    {"Analyse.ScanNRDPath.002", "%s %s %s %s"},  // geometry, its sectors, image, image sectors
    {"Analyse.ScanNRDPath.003", "%s %s"},        // image, the system's reason
    {"Analyse.ScanNRDPath.004", "%s"},           // image
    {"Analyse.ScanNRDPath.005", "%s %s"},        // image, bytes per sector
    {"Analyse.ScanNRDPath.006", "%s"},           // image
    {"Analyse.ScanNRDPath.007", "%s"},           // geometry worked out
    {"Analyse.ScanNRD.001", ""},

    // The disk chooser: legend, list headers, summaries and tooltips.
    {"DiskChooser.mFXDiskChooser.001", ""},
    {"DiskChooser.mFXDiskChooser.002", ""},
    {"DiskChooser.mFXDiskChooser.003", ""},
    {"DiskChooser.mFXDiskChooser.004", ""},
    {"DiskChooser.mFXDiskChooser.005", ""},
    {"DiskChooser.mFXDiskChooser.006", ""},
    {"DiskChooser.mFXDiskChooser.007", ""},
    {"DiskChooser.mFXDiskChooser.008", ""},
    {"DiskChooser.mFXDiskChooser.009", ""},
    {"DiskChooser.mFXDiskChooser.010", ""},
    {"DiskChooser.mFXDiskChooser.011", ""},
    {"DiskChooser.mFXDiskChooser.012", ""},
    {"DiskChooser.SetRecoverPartitions.001", "%s %.0lf %s"},  // text, first sector, "logical" or ""
    {"DiskChooser.SetRecoverPartitions.002", ""},
    {"DiskChooser.SetRecoverPartitions.003", ""},
    {"DiskChooser.SetRecoverPartitions.004", ""},
    {"DiskChooser.buildListActions.001", ""},
    {"DiskChooser.buildListActions.002", ""},
    {"DiskChooser.buildListActions.003", ""},
    {"DiskChooser.buildListActions.004", ""},
    {"DiskChooser.buildListActions.005", ""},
    {"DiskChooser.buildListActions.006", "%s"},  // the partition, as the status line names it
    {"DiskChooser.getFreeSpacePartitions.001", "%d %.0lf %s"},   // disk, first sector, size
    {"DiskChooser.getFreeSpacePartitions.002", "%d %s %s %s"},  // disk, letter text, type, size
    {"DiskChooser.getFreeSpacePartitions.003", "%s"},           // Linux name of the partition
    {"DiskChooser.updateFreeSpacePartition.001", "%d %d"},      // k of n
    {"DiskChooser.updateGaps.001", "%s"},                       // size
    {"DiskChooser.buildRow.001", ""},

    // The active-partition chooser.
    {"ActiveChooser.mFXActiveChooser.001", ""},
    {"ActiveChooser.mFXActiveChooser.002", ""},
    {"ActiveChooser.mFXActiveChooser.003", ""},
    {"ActiveChooser.mFXActiveChooser.004", ""},

    // The wizard.
    {"Kelvarin.Search.001", "%d %.0lf %.0lf"},  // disk, first sector, end sector
    {"Kelvarin.onCmd_Next.001", ""},
    {"Kelvarin.onCmd_Next.003", ""},
    {"Kelvarin.onCmd_Next.004", ""},
    {"Kelvarin.onCmd_Next.006", ""},
    {"Kelvarin.onCmd_Next.010", "%.0lf %.0lf"},  // first sector, end sector
    {"Kelvarin.onCmd_Next.011", ""},
    {"Kelvarin.DoUndo.001", "%s %.0lf"},      // disk model, changed sector
    {"Kelvarin.DoUndo.002", "%s"},           // disk model
    {"Kelvarin.DoUndo.012", "%s %s"},
    {"Kelvarin.DoUndo.013", ""},
    {"Kelvarin.DoUndo.014", ""},
    {"Kelvarin.DoUndo.015", ""},
    {"Kelvarin.DoUndo.016", "%s"},
    {"Kelvarin.NextFromSummary.001", "%s"},  // disk model
    {"Kelvarin.NextFromSummary.002", ""},
    {"Kelvarin.NextFromSummary.003", "%s %.0lf %s"},  // partition name, first sector, reason
    {"Kelvarin.NextFromResult.001", "%s"},        // disk model
    {"Kelvarin.NextFromResult.002", "%s %.0lf"},  // partition name, first sector
    {"Kelvarin.mFXWizard.001", ""},
    {"Kelvarin.mFXWizard.002", ""},
    {"Kelvarin.mFXWizard.003", ""},
    {"Kelvarin.mFXWizard.004", ""},
    {"Kelvarin.mFXWizard.006", ""},
    {"Kelvarin.mFXWizard.007", ""},
    {"Kelvarin.mFXWizard.008", ""},
    {"Kelvarin.mFXWizard.009", ""},
    {"Kelvarin.mFXWizard.010", ""},
    {"Kelvarin.mFXWizard.011", ""},
    {"Kelvarin.mFXWizard.012", ""},
    {"Kelvarin.mFXWizard.014", "%s %s"},  // short application name, twice
    {"Kelvarin.mFXWizard.015", ""},
    {"Kelvarin.mFXWizard.016", ""},
    {"Kelvarin.mFXWizard.017", ""},
    {"Kelvarin.mFXWizard.018", "%s"},  // long name and version
    {"Kelvarin.mFXWizard.019", "%s"},  // long name and version
    {"Kelvarin.mFXWizard.020", ""},
    {"Kelvarin.mFXWizard.021", ""},
    {"Kelvarin.mFXWizard.022", ""},
    {"Kelvarin.mFXWizard.030", ""},
    {"Kelvarin.mFXWizard.031", ""},
    {"Kelvarin.mFXWizard.032", ""},
    {"Kelvarin.mFXWizard.033", ""},
    {"Kelvarin.mFXWizard.034", ""},
    {"Kelvarin.mFXWizard.035", ""},
    {"Kelvarin.mFXWizard.036", ""},
    {"Kelvarin.mFXWizard.037", "%s"},  // disk model
    {"Kelvarin.mFXWizard.038", ""},
    {"Kelvarin.mFXWizard.039", ""},
    {"Kelvarin.mFXWizard.040", ""},
    {"Kelvarin.mFXWizard.041", "%s"},  // short application name
    {"Kelvarin.mFXWizard.042", ""},
    {"Kelvarin.mFXWizard.043", ""},
    {"Kelvarin.mFXWizard.050", ""},
    {"Kelvarin.mFXWizard.051", ""},
    {"Kelvarin.mFXWizard.052", ""},
    {"Kelvarin.mFXWizard.053", "%d"},  // per cent searched
    {"Kelvarin.mFXWizard.054", "%d"},  // per cent searched
    {"Kelvarin.mFXWizard.055", "%d"},  // per cent searched

    // Why the writer did not write a chosen partition, or a sector.
    {"IOSystem.WriteBR.001", ""},
    {"IOSystem.WriteBR.002", ""},
    {"IOSystem.WriteBR.003", ""},
    {"IOSystem.WriteBR.004", ""},
    {"IOSystem.WriteBR.005", ""},
    {"IOSystem.WriteBR.006", ""},
    {"Recover.DoRecover.001", ""},
    {"Recover.DoRecover.002", ""},
    {"Recover.DoRecover.003", ""},
    {"Recover.DoRecover.004", ""},
    {"Recover.DoRecover.005", ""},
    {"Recover.DoRecover.006", ""},
    {"Recover.DoRecover.007", ""},
    {"Recover.DoRecover.008", ""},
    {"Recover.DoRecover.009", ""},
    {"Recover.DoRecover.010", ""},
    {"Recover.DoRecover.011", ""},
    {"Recover.Apply.001", ""},
    {"GptPartitionTable.Write.001", ""},

    // The toolkit's own button texts, passed through the translator.
    // Page titles and help, the progress of the search, the end page, the
    // status line of the found list and the language chooser's tick.
    {"Kelvarin.PageTitle.001", ""},
    {"Kelvarin.PageHelp.001", ""},
    {"Kelvarin.PageTitle.002", ""},
    {"Kelvarin.PageHelp.002", ""},
    {"Kelvarin.PageTitle.003", ""},
    {"Kelvarin.PageHelp.003", ""},
    {"Kelvarin.PageTitle.004", ""},
    {"Kelvarin.PageHelp.004", ""},
    {"Kelvarin.PageTitle.005", ""},
    {"Kelvarin.PageHelp.005", ""},
    {"Kelvarin.PageTitle.006", ""},
    {"Kelvarin.PageHelp.006", ""},
    {"Kelvarin.PageTitle.007", ""},
    {"Kelvarin.PageHelp.007", ""},
    {"Kelvarin.PageTitle.008", ""},
    {"Kelvarin.PageHelp.008", ""},
    {"Kelvarin.PageTitle.009", ""},
    {"Kelvarin.PageHelp.009", ""},
    {"Kelvarin.AddPageHeader.001", "%d %d"},
    {"Kelvarin.onCmdHelp.001", "%s"},
    {"Kelvarin.mFXWizard.056", ""},
    {"Kelvarin.onCmd_Next.012", ""},
    {"Kelvarin.onCmd_Next.013", ""},
    {"Kelvarin.ReportTableReread.001", "%s"},
    {"Kelvarin.RateText.001", "%.0lf %s"},  // sectors per second, time left
    {"Kelvarin.RateText.002", "%.0lf"},     // sectors per second
    {"Kelvarin.BuildWelcomePage.001", ""},
    {"DiskChooser.toggleImage.001", "%s %s"},
    {"LanguageChooser.ChooseLanguageAtStart.001", ""},
    {"MyTranslator.tr.&OK", ""},
    {"MyTranslator.tr.&Cancel", ""},
    {"MyTranslator.tr.&Yes", ""},
    {"MyTranslator.tr.&No", ""},

    // kelvarin-cli, the command-line front end.
    {"kelvarin-cli.main.001", ""},
    {"kelvarin-cli.main.002", "%s"},
    {"kelvarin-cli.main.003", "%s"},
    {"kelvarin-cli.main.004", "%s"},
    {"kelvarin-cli.main.005", ""},
    {"kelvarin-cli.main.009", ""},
    {"kelvarin-cli.main.010", "%s %s"},
    {"kelvarin-cli.main.011", "%d %d"},
    {"kelvarin-cli.main.013", "%s %s"},
    {"kelvarin-cli.main.014", ""},
    {"kelvarin-cli.main.015", ""},
    {"kelvarin-cli.main.016", ""},
    {"kelvarin-cli.main.017", ""},
    {"kelvarin-cli.main.018", ""},
    {"kelvarin-cli.list.001", ""},
    {"kelvarin-cli.list.002", "%d %s %s"},
    {"kelvarin-cli.list.003", "%s %s %s %s"},
    {"kelvarin-cli.list.004", ""},
    {"kelvarin-cli.list.005", ""},
    {"kelvarin-cli.list.006", ""},
    {"kelvarin-cli.list.007", ""},
    {"kelvarin-cli.list.008", ""},
    {"kelvarin-cli.list.009", ""},
    {"kelvarin-cli.list.010", ""},
    {"kelvarin-cli.list.011", ""},
    {"kelvarin-cli.list.012", ""},
    {"kelvarin-cli.list.013", ""},
    {"kelvarin-cli.list.014", ""},
    {"kelvarin-cli.list.015", ""},
    {"kelvarin-cli.list.016", ""},
    {"kelvarin-cli.gpt.001", ""},
    {"kelvarin-cli.gpt.002", "%d"},  // disk
    {"kelvarin-cli.sim.001", ""},
    {"kelvarin-cli.sim.002", "%d %s"},  // disk, sector numbers
    {"kelvarin-cli.search.001", ""},
    {"kelvarin-cli.search.005", ""},
    {"kelvarin-cli.search.006", ""},
    {"kelvarin-cli.search.007", ""},
    {"kelvarin-cli.search.008", "%d"},
    {"kelvarin-cli.search.009", "%d %d"},
    {"kelvarin-cli.search.010", ""},
    {"kelvarin-cli.search.011", ""},
    {"kelvarin-cli.search.012", "%d %d"},
    {"kelvarin-cli.search.013", ""},
    {"kelvarin-cli.search.014", "%d %d"},
    {"kelvarin-cli.search.015", ""},
    {"kelvarin-cli.search.016", ""},
    {"kelvarin-cli.search.017", ""},
    {"kelvarin-cli.search.018", ""},
    {"kelvarin-cli.search.019", ""},
    {"kelvarin-cli.search.020", ""},
    {"kelvarin-cli.search.021", ""},
    {"kelvarin-cli.recover.001", ""},
    {"kelvarin-cli.recover.002", ""},
    {"kelvarin-cli.recover.003", ""},
    {"kelvarin-cli.recover.004", "%d %d"},
    {"kelvarin-cli.recover.005", "%.0lf %d"},
    {"kelvarin-cli.recover.006", "%.0lf %d %.0lf"},
    {"kelvarin-cli.recover.007", "%.0lf %.0lf"},
    {"kelvarin-cli.recover.008", "%.0lf %d"},
    {"kelvarin-cli.recover.009", "%d"},
    {"kelvarin-cli.recover.010", "%d"},
    {"kelvarin-cli.recover.011", "%.0lf %d"},
    {"kelvarin-cli.recover.012", "%.0lf %.0lf %s %s %.0lf"},
    {"kelvarin-cli.recover.013", "%d %s"},
    {"kelvarin-cli.recover.014", ""},
    {"kelvarin-cli.recover.015", ""},
    {"kelvarin-cli.recover.016", "%d"},
    {"kelvarin-cli.recover.017", ""},
    {"kelvarin-cli.recover.018", ""},
    {"kelvarin-cli.recover.019", "%s %d"},
    {"kelvarin-cli.recover.020", "%d"},
    {"kelvarin-cli.recover.022", "%.0lf %s"},  // first sector, reason
    {"kelvarin-cli.recover.023", "%s"},     // first sector of the volume
    {"kelvarin-cli.recover.024", "%s %s"},  // option, option
    {"kelvarin-cli.undo.001", ""},
    {"kelvarin-cli.undo.002", ""},
    {"kelvarin-cli.undo.003", ""},
    {"kelvarin-cli.undo.004", ""},
    {"kelvarin-cli.undo.006", "%d"},
    {"kelvarin-cli.undo.007", "%d"},
    {"kelvarin-cli.undo.008", "%d"},
    {"kelvarin-cli.undo.009", ""},
    {"Placement.PlanLayout.001", ""},
    {"Placement.PlanLayout.002", ""},
    {"Placement.PlanLayout.003", ""},
    {"Placement.PlanLayout.004", ""},
    {"Placement.PlanLayout.005", ""},
    {"Placement.PlanLayout.006", ""},
    {"Placement.PlanLayout.007", "%.0lf %s"},  // the refused volume's first sector, why
    {"kelvarin-cli.undo.010", "%d %.0lf"},
    {"Gpt.problem.001", ""},
    {"Gpt.problem.002", ""},
    {"Gpt.problem.003", ""},
    {"Gpt.problem.004", ""},
    {"Gpt.problem.005", ""},
    {"Gpt.write.001", "%.0lf"},
    {"Gpt.write.002", "%.0lf %.0lf"},
    {"Gpt.write.003", ""},
    {"Gpt.write.004", ""},
    {"Gpt.write.005", ""},
    {"Gpt.write.006", "%.0lf"},
    {"kelvarin-cli.gpt.003", ""},
    {"kelvarin-cli.gpt.004", ""},
    {"kelvarin-cli.gpt.005", "%d"},
    {"kelvarin-cli.gpt.006", "%d"},
    {"kelvarin-cli.gpt.007", "%d"},
    {"kelvarin-cli.gpt.008", "%d %s"},
    {"kelvarin-cli.gpt.009", ""},
    {"kelvarin-cli.gpt.010", ""},
    {"kelvarin-cli.gpt.011", ""},
    {"kelvarin-cli.gpt.012", "%d"},
    {"kelvarin-cli.gpt.013", "%d %s"},
    {"kelvarin-cli.gpt.014", "%d"},
    {"kelvarin-cli.gpt.015", "%d"},
    {"kelvarin-cli.gpt.016", ""},
    {"kelvarin-cli.gpt.017", "%s"},
    {"kelvarin-cli.repair.001", ""},
    {"kelvarin-cli.repair.002", ""},
    {"kelvarin-cli.repair.003", "%d"},
    // What is inside a found volume: the engine's notes, `show`, the browser.
    {"Contents.Open.001", ""},
    {"Contents.Open.002", "%s"},
    {"Contents.Open.003", ""},
    {"Contents.Open.004", "%s"},
    {"Contents.Check.001", ""},
    {"Contents.Check.002", ""},
    {"Contents.Check.003", ""},
    {"Contents.Check.004", ""},
    {"Contents.Check.005", ""},
    {"Contents.Check.006", "%s"},
    {"Contents.Check.007", "%s"},
    {"Contents.Check.008", ""},
    {"Contents.Check.009", "%s"},
    {"Contents.List.001", "%s"},
    {"Contents.List.002", ""},
    {"Contents.List.003", ""},
    {"Contents.List.004", ""},
    {"Contents.List.005", ""},
    {"Contents.List.006", ""},
    {"Contents.List.007", "%s"},
    {"Contents.List.008", "%s"},
    {"Contents.Summary.001", ""},
    {"Contents.Summary.002", "%s"},
    {"kelvarin-cli.show.001", ""},
    {"kelvarin-cli.show.002", ""},
    {"kelvarin-cli.show.003", ""},
    {"kelvarin-cli.show.004", "%s"},
    {"kelvarin-cli.show.005", "%s"},
    {"kelvarin-cli.show.006", "%s"},
    {"kelvarin-cli.show.007", "%s"},
    {"kelvarin-cli.show.008", "%s"},
    {"kelvarin-cli.show.009", "%u"},
    {"kelvarin-cli.show.010", "%s %s"},
    {"kelvarin-cli.show.011", "%s"},
    {"kelvarin-cli.show.012", "%s %u %u"},
    {"kelvarin-cli.show.013", ""},
    {"kelvarin-cli.show.014", ""},
    {"kelvarin-cli.show.015", ""},
    {"kelvarin-cli.show.016", ""},
    {"kelvarin-cli.show.017", "%u"},
    {"kelvarin-cli.show.018", "%s"},
    {"kelvarin-cli.show.019", "%.0lf %d %s"},
    {"kelvarin-cli.show.021", ""},
    {"ContentsDialog.ContentsDialog.001", "%.0lf"},
    {"ContentsDialog.ContentsDialog.002", ""},
    {"ContentsDialog.ContentsDialog.003", ""},
    {"ContentsDialog.ContentsDialog.004", ""},
    {"ContentsDialog.ContentsDialog.005", ""},
    {"ContentsDialog.ContentsDialog.006", ""},
    {"ContentsDialog.ContentsDialog.007", ""},
    {"ContentsDialog.ContentsDialog.008", ""},
    {"ContentsDialog.ContentsDialog.009", ""},
    {"ContentsDialog.ContentsDialog.010", "%s %s %s"},
    {"ContentsDialog.ContentsDialog.011", "%s %s"},
    {"ContentsDialog.ContentsDialog.012", ""},
    {"ContentsDialog.ContentsDialog.013", ""},
};

const std::vector<KeyUse>& All() { return KEYS; }

const FXchar* ArgumentsOf(const FXString& key) {
  for (const KeyUse& use : KEYS)
    if (key == use.key) return use.arguments;
  return nullptr;
}

// Reads up to three decimal digits; a fourth digit means a field so wide that
// one text could fill the memory.
static bool skipSmallNumber(const FXchar*& p) {
  int digits = 0;
  while (*p >= '0' && *p <= '9') {
    if (++digits > 3) return false;
    p++;
  }
  return true;
}

// Parses one conversion after its '%'; advances `p` past it.  `kind` is left
// alone for "%%".  Returns false when the conversion is refused.
static bool parseConversion(const FXchar*& p, bool& literal, ArgumentKind& kind) {
  literal = false;
  if (*p == '%') {
    p++;
    literal = true;
    return true;
  }
  while (*p && strchr("-+ #0'", *p)) p++;
  if (!skipSmallNumber(p)) return false;
  if (*p == '.') {
    p++;
    if (!skipSmallNumber(p)) return false;
  }
  // Length modifier.
  enum { NONE, HH, H, L, LL, Z } length = NONE;
  if (p[0] == 'h' && p[1] == 'h') length = HH, p += 2;
  else if (p[0] == 'h') length = H, p++;
  else if (p[0] == 'l' && p[1] == 'l') length = LL, p += 2;
  else if (p[0] == 'l') length = L, p++;
  else if (p[0] == 'z' || p[0] == 'j' || p[0] == 't') length = Z, p++;
  const FXchar conversion = *p;
  if (!conversion) return false;
  p++;
  switch (conversion) {
    case 'd': case 'i': case 'o': case 'u': case 'x': case 'X':
      kind = length == L ? ARG_LONG : length == LL ? ARG_LONGLONG : length == Z ? ARG_SIZE : ARG_INT;
      return true;
    case 'c':
      kind = ARG_INT;
      return length == NONE;
    case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
      kind = ARG_DOUBLE;
      return length == NONE || length == L;
    case 's':
      kind = ARG_STRING;
      return length == NONE;
    case 'p':
      kind = ARG_POINTER;
      return length == NONE;
    default:  // 'n' writes to memory; '*', '$', 'm', 'C', 'S', 'L' and the rest are refused
      return false;
  }
}

bool ParseFormat(const FXString& format, std::vector<ArgumentKind>& kinds) {
  kinds.clear();
  const FXchar* p = format.text();
  const FXchar* end = p + format.length();
  while (p < end) {
    if (*p++ != '%') continue;
    bool literal;
    ArgumentKind kind = ARG_INT;
    if (!parseConversion(p, literal, kind)) return false;
    if (!literal) kinds.push_back(kind);
  }
  return true;
}

bool FormatFits(const FXString& text, const FXString& arguments) {
  std::vector<ArgumentKind> wanted, given;
  if (!ParseFormat(arguments, wanted)) return false;
  if (!ParseFormat(text, given)) return false;
  return wanted == given;
}

}  // namespace TextKeys
