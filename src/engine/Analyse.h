// The analyser: the program's model of every disk and the operations on it.
// Start-up options and disk enumeration, the partition-table reader, the
// free-space gap finder, the lost-partition search, the recovery fit check,
// drive letters and the backup layout file.
#ifndef KV_ANALYSE_H
#define KV_ANALYSE_H

#include <fx.h>

#include <list>
#include <map>
#include <vector>

#include "Information.h"
#include "Records.h"
#include "recognise/Recogniser.h"

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

// What the start-up has to tell the user before anything else, for the front
// end to show (the wizard in a message box, the command line on standard
// error): the key of a text that says what is wrong and what to do, and the
// texts it is formatted with.  Every argument is a string, so a message can
// wait until the front end has settled its language.
struct StartMessage {
  enum Kind {
    NONE,
    NOTE,        // worth knowing; the work goes on
    BAD_OPTION,  // the command line is wrong
    BAD_IMAGE,   // what -file names cannot be used as a disk
    NO_DISKS     // no disk of the machine could be read
  };
  Kind kind = NONE;
  const FXchar* key = nullptr;
  FXString args[4];
  // There is nothing to work on: the front end shows the text and ends.
  bool problem() const { return kind > NOTE; }
};

class Analyse : public Information {
public:
  std::vector<NRD> disks;
  volatile bool stopSearch;  // set by the GUI thread, read by the search thread
  bool langGiven;
  bool helpWanted;  // -h: the front end shows UsageText() and ends
  StartMessage startMessage;
  FXString path;
  FXint vC, vH, vS;  // -1 when -chs was not given

  Analyse();
  Analyse(FXint argc, FXchar** argv);
  ~Analyse();

  // --- start-up ---
  // Reads the options.  A wrong one becomes a BAD_OPTION start message, and
  // then no disk is opened at all.
  void CheckOptions(FXint argc, FXchar** argv);
  // A geometry C/H/S: three whole numbers above 0, at most 256 heads and 63
  // sectors per track (what the CHS fields of a table entry hold).
  static bool ParseGeometry(const FXString& text, FXint& c, FXint& h, FXint& s);
  // The options the program acts on, for -h.
  static const FXchar* UsageText();
  // The start message in the current language.
  FXString StartMessageText();
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
  // The partitions of the MBR `BR` of `device` and of its extended chain,
  // or the one volume a whole-disk FAT is.
  static bool GetPartitions(const FXuchar* BR, const FXString& device,
                            std::vector<Partition>& partitions, bool& bootSectorOnly);
  // The partitions a search found at `sector` can become: those that lie on
  // the disk and collide with none of its partitions.
  std::vector<FoundPartition> GetValidPartitions(FXint disk, FXulong sector);
  // What `sector` of `disk` holds, before any check against the layout: the
  // volume that begins there, or the entries of a table there.
  std::vector<FoundPartition> FoundAt(FXint disk, SectorReader& reader, FXulong sector);
  // Whether a disk of `sectors` sectors carries a GUID partition table
  // (the GPT driver's test).
  static bool CarriesGPT(const FXString& device, FXulong sectors);

  // --- free space ---
  void FindGaps(FXint disk);
  std::list<Gap> GetGap(FXint disk, FXint lognr, bool last = false);
  // Whether the sectors of a candidate collide with the disk's layout.
  bool OverlapsExisting(FXint disk, const SectorRange& candidate);

  // --- lost-partition search ---
  std::vector<FXulong> Search(SearchProgress* progress, SearchText* text, FXint disk, bool quick,
                              FXulong start_sec, FXulong end_sec, FXint areas);
  static std::vector<FXulong> SearchQuick(SearchProgress* progress, SearchText* text, FXint disk,
                                          FXulong start_sec, FXulong end_sec, FXint areas);
  static std::vector<FXulong> SearchFull(SearchProgress* progress, SearchText* text, FXint disk,
                                         FXulong start_sec, FXulong end_sec, FXint areas);
  // Whether a volume the recognisers know begins at `sector`.
  bool CheckOne(SectorReader& reader, FXulong sector, SearchText* text);
  // The volume that begins at `sector` of `disk`: one a search met, by its
  // primary structure or a copy, or one whose structures are found there now.
  // Null when there is none.
  const FoundVolume* RecognisedAt(FXint disk, SectorReader& reader, FXulong sector);
  // What the searches recognised, per disk: one entry per volume.
  std::map<FXint, std::vector<FoundVolume>> recognised;

  // --- recovery fit check ---
  bool CheckMBRFit(const std::vector<RecoverPart>& rp);
  // The same, with the volumes the search found (no new table block goes
  // into one) and the reason when a disk's layout cannot be built.
  bool CheckMBRFit(const std::vector<RecoverPart>& rp, const std::vector<VolumeSpan>& found,
                   FXString& reason);
  // Whether a table entry can hold every chosen partition; when one starts
  // or ends beyond 2^32 sectors, false with the reason in the current language.
  bool CheckTableReach(const std::vector<RecoverPart>& rp, FXString& reason);
  bool CheckMBRCode();

  // --- drive letters ---
  bool AssignLetters();
  FXchar GetLastLogical(FXchar from, FXchar limit);
  FXchar GetLastLetter(FXchar behind);

private:
  void ReadTables(NRD& disk);
  // Records a start message; a problem replaces a note, never another problem.
  void Tell(StartMessage::Kind kind, const FXchar* key, const FXString& a1 = FXString::null,
            const FXString& a2 = FXString::null, const FXString& a3 = FXString::null,
            const FXString& a4 = FXString::null);
  // The size of the image named by -file, or 0 (after telling why) when it
  // cannot be used as a disk.
  FXulong ImageSectors();
  // The image's geometry from -chs, or the conventional one worked out from
  // its size; false (after telling why) when -chs does not fit the image.
  bool ImageGeometry(FXulong sectors, CHS& geometry);
};

// The one analyser of the program, published by whoever creates it.
extern Analyse* sharedAnalyser;

#endif
