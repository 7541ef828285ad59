// The one switch the program reads from its command line.
#ifndef VANTREL_COMMAND_LINE_H
#define VANTREL_COMMAND_LINE_H

// True when an argument after the program's own name is /Q, /q, -Q or -q,
// alone: the run is then quiet. Every other argument is ignored.
bool QuietSwitchGiven(const char *commandLine);

#endif
