// What the stub's long steps report about their work besides what they show
// the user: every member the archive walk meets, with the verdict on it;
// where the walk ran out of members; the part a rebuild could not open.
//
// Nothing in the stub acts on these calls. On Windows nobody listens and
// they do nothing; a program that runs the stub's procedures on the build
// machine (vantrel-pack, the tests) listens through report_listener.h, so
// that it learns what the stub did from the stub itself, never from the
// wording of a message.
#ifndef VANTREL_RUN_REPORT_H
#define VANTREL_RUN_REPORT_H

#include "program_state.h"

enum MemberVerdict {
  kMemberExtracted,          // written and passed every test; a folder entry: its folder made
  kMemberListed,             // a listing walk: nothing it can judge unextracted refuses it
  kMemberBadName,            // empty, too long, cut short, leading outside the folder,
                             // naming a device, or making a path Windows cannot take
  kMemberUnknownMethod,      // neither stored nor deflated
  kMemberNoData,             // a listing walk: the header leaves no room for the data
  kMemberPasswordCancelled,  // the password prompt was cancelled: the extraction ends
  kMemberPasswordRefused,    // no password opened it: skipped, and the extraction fails
  kMemberFolderMissing,      // its folder could not be made
  kMemberFileNotCreated,     // its output file could not be created
  kMemberDataCut,            // its data are missing or the package ends inside them
  kMemberDecodeFailed,       // the decoder refused its deflate stream
  kMemberWrongSize,          // its output is not the size its header declares
  kMemberWriteFailed,        // a write fell short (a full disk)
  kMemberCrcMismatch,        // its output does not match its header's CRC-32
};

// The walk is done with the member whose local header starts at
// `headerPosition` and still lies in `state.localHeader`.
void ReportMember(DWORD headerPosition, MemberVerdict verdict);

enum WalkEnd {
  kWalkEndAtRecord,    // another zip record or the end of the file: where a walk ends
  kWalkEndOnGarbage,   // bytes that are no zip record: a member's size was wrong
  kWalkEndOutOfReach,  // the next header would lie beyond any file position
};

// The walk ran out of members at `position` (a member that ends the walk
// says so in its own verdict instead).
void ReportWalkEnd(WalkEnd end, DWORD position);

// The rebuild of a split package cannot open part `partNumber` (1 is the
// file ending in 001) and is about to ask for its disk.
void ReportMissingPart(BYTE partNumber);

#endif
