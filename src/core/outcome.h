// What the program tells whoever started it: the exit code of the run, and
// the failures it reports -- in a message box, or, in a quiet run, in the
// exit code alone.
#ifndef VANTREL_OUTCOME_H
#define VANTREL_OUTCOME_H

#include <windows.h>

// The codes deployment tools already know from Windows Installer, and the
// system's own code for a user who lacks the rights a package demands.
enum ExitCode : DWORD {
  kExitInstalled = 0,         // the INF installer ran and ended
  kExitAccessDenied = 5,      // ERROR_ACCESS_DENIED: administrator rights are missing
  kExitUserCancelled = 1602,  // ERROR_INSTALL_USEREXIT: the user chose not to install
  kExitFailed = 1603,         // ERROR_INSTALL_FAILURE: the program found a fault
};

// Starts a run's account: nothing installed yet, and nothing failed, so a
// run that ends now ends because the user chose not to install.
void StartOutcome();

// The run reached a new state; ignored once a failure has been recorded.
void RecordOutcome(DWORD code);

// A failure: the first one recorded is the run's exit code, whatever
// happens after it.
void RecordFailure(DWORD code);

// Records the failure and shows it (no owner, MB_ICONHAND) unless the run
// is quiet, where nobody would be there to press OK.
void ReportFailure(DWORD code, const char *text, const char *caption);

#endif
