// The analyser: the program's model of every disk and the operations on it.
// Start-up options and disk enumeration, the partition-table reader, the
// free-space gap finder, the lost-partition search, the recovery fit check,
// drive letters and the backup layout file.
#ifndef KV_ANALYSE_H
#define KV_ANALYSE_H

#include <fx.h>

#include <list>
#include <vector>

#include "Information.h"
#include "Records.h"

// Where a search reports its progress.  The search reads the bar's total and
// current value and posts kind 1 (set the value) or kind 2 (advance by the
// value).  The wizard's progress proxy implements it; tests record it.
class SearchProgress {
public:
  virtual ~SearchProgress() {}
  virtual FXuint getTotal() = 0;
  virtual FXuint getProgress() = 0;
  virtual void post(FXint kind, FXulong value) = 0;
};

// Where a search writes its log lines.
class SearchText {
public:
  virtual ~SearchText() {}
  virtual void appendText(const FXString& text) = 0;
};

class Analyse : public Information {
public:
  std::vector<NRD> disks;
  volatile bool stopSearch;  // set by the GUI thread, read by the search thread
  bool langGiven;
  FXString path;
  FXint vC, vH, vS;

  Analyse();
  Analyse(FXApp* app, FXint argc, FXchar** argv);
  ~Analyse();

  // --- start-up ---
  void CheckOptions(FXApp* app, FXint argc, FXchar** argv);
  void ScanNRDStump();
  void ScanNRD();
  void ScanNRDPath();
  void ScanNRDBackup();
  bool ReadBackupFile(NRD& disk);
  void WriteBackupFile(NRD& disk);
  void CalcNRDChecksums();
  void WriteNRDChecksums();
  void ReReadPartitions();

  // --- queries ---
  std::vector<Partition> GetPartitions(FXint disk);
  FXulong GetCapacity(FXint disk);
  std::vector<FXString> GetDeviceNames(bool models);
  std::vector<FXulong> GetPrimaryStarts(FXint disk);
  std::vector<FXString> GetPrimaryNames(FXint disk);
  static NRD* FindNRD(const FXString& name);

  // --- partition-table reader ---
  bool GetPartitions(const FXuchar* BR, const FXString& device, std::vector<Partition>& partitions,
                     bool& bootSectorOnly);
  std::vector<Partition> GetValidPartitions(FXint disk, FXulong sector);
  // Whether a disk of `sectors` sectors carries a GUID partition table.
  static bool CarriesGPT(const FXString& device, FXulong sectors);

  // --- free space ---
  void FindGaps(FXint disk);
  std::list<Gap> GetGap(FXint disk, FXint lognr, bool last = false);
  bool OverlapsExisting(FXint disk, const Partition& candidate);

  // --- lost-partition search ---
  std::vector<FXulong> Search(SearchProgress* progress, SearchText* text, FXint disk, bool quick,
                              FXulong start_sec, FXulong end_sec, FXint areas);
  static std::vector<FXulong> SearchQuick(SearchProgress* progress, SearchText* text, FXint disk,
                                          FXulong start_sec, FXulong end_sec, FXint areas);
  static std::vector<FXulong> SearchFull(SearchProgress* progress, SearchText* text, FXint disk,
                                         FXulong start_sec, FXulong end_sec, FXint areas);
  bool CheckOne(FXulong sector, SearchText* text);

  // --- recovery fit check ---
  bool CheckMBRFit(const std::vector<RecoverPart>& rp);
  bool CheckMBRCode();

  // --- drive letters ---
  bool AssignLetters();
  FXchar GetLastLogical(FXchar from, FXchar limit);
  FXchar GetLastLetter(FXchar behind);

private:
  void ReadTables(NRD& disk);
};

// The one analyser of the program, published by whoever creates it.
extern Analyse* sharedAnalyser;

#endif
