#ifndef STAMPNAME_PLATFORM_POSIX_FOLDER_H_
#define STAMPNAME_PLATFORM_POSIX_FOLDER_H_

#include "platform/posix/link_probe.h"
#include "platform/posix/listing.h"
#include "platform/posix/open_folder.h"
#include "platform/posix/proof.h"
#include "platform/posix/safe_steps.h"
#include "platform/posix/sightings.h"
#include "platform/posix/times_record.h"
#include "platform/posix/turn.h"
#include "platform/posix/way_choice.h"
#include "platform/system_platform.h"

// One run in its folder on POSIX systems, one concern a part, each in a
// source of its own and each seeing only the parts it is given:
//
//   open_folder.cpp     the folder held open and locked; hidden names made
//   turn.cpp            the folder's turn where the lock reaches no further
//   hidden_name.cpp     the shapes of the program's own hidden names
//   mount_kind.cpp      which kind of mount the folder is on
//   file_status.cpp     what a name holds, read past the caches
//   link_probe.cpp      whether links work, and whether numbers name files
//   proof.cpp           whether two names are one file (mark.cpp: by a mark)
//   safe_steps.cpp      the steps that make, move or remove a name safely
//   way_choice.cpp      which way renames here, with one file a way:
//                       no_replace_way.cpp, link_way.cpp, reserve_way.cpp
//   sightings.cpp       other runs' empty files, in flight or stopped
//   times_record.cpp    a file's times kept aside while a rename resets them
//   listing.cpp         the names the pass gets
//   system_platform.cpp the platform's operations, and the end of a run
struct SystemPlatform::Folder {
  Folder();
  ~Folder();

  /// What a run does as it ends: removes other runs' reservations that
  /// stayed as they were and what it left itself, then flushes the folder.
  Outcome Finish();
  Outcome FinishWork();

  // In the order each needs the ones before it.
  OpenFolder open;
  Turn turn{open};
  LinkProbe probe{open};
  Proof proof{open, probe};
  SafeSteps steps{open, probe, proof};
  WayChoice ways{open, probe, proof, steps};
  Sightings sightings{open, proof, steps, ways};
  TimesRecord times{open, steps};
  Listing listing{open, steps, sightings, times};

  bool timesUnknown = false;  // true: not even on a kernel file system
  bool finished = false;      // the end of the run's work is done
};

#endif  // STAMPNAME_PLATFORM_POSIX_FOLDER_H_
