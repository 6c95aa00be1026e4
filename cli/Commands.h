// The commands of kelvarin-cli.  Each takes its own arguments and returns
// the exit status.
#ifndef KVCLI_COMMANDS_H
#define KVCLI_COMMANDS_H

#include <fx.h>

#include <vector>

#include "Json.h"
#include "Session.h"

int ListCommand(Session& session);
int SearchCommand(Session& session);
int RecoverCommand(Session& session);
// After a disk was written: what its undo log holds, then its new table.
void ShowWritten(Session& session, FXint disk, bool noUndo);
int UndoCommand(Session& session);
int RepairCommand(Session& session);

// GPT disks (GptCommands.cpp): the label lines and the GPT's partitions as
// `list` shows them, its part of a disk's JSON, and the refusal of a disk
// whose GPT cannot be used (true after saying why).
FXString GptLabelText(Session& session, FXint disk);
FXString GptPartitionsText(Session& session, FXint disk);
void GptJson(Session& session, JsonWriter& json, FXint disk);
bool GptRefuses(Session& session, FXint disk);
int ShowCommand(Session& session);

// The help of the whole tool (command empty) or of one command; false when
// there is no such command.
bool ShowHelp(Session& session, const FXString& command);

// One disk, its partitions and its gaps, as `list` shows them.
FXString DiskText(Session& session, FXint disk);
void DiskJson(Session& session, JsonWriter& json, FXint disk);
// The given disks as `list --json` prints them.
FXString DisksJson(Session& session, const std::vector<FXint>& disks);

// "yes" or "no" in the current language.
FXString YesNo(Session& session, bool flag);

// What stands above a disk's table after a change: the table as it now reads,
// or in a simulation as it would read.
FXString TableHeading(Session& session);

#endif
