// The "-k" command: terminate one process, chosen by id or by executable base name.
#ifndef VOLMO_PROCESS_KILL_COMMAND_H
#define VOLMO_PROCESS_KILL_COMMAND_H

#include "process/process_services.h"

// The decimal value of a target: leading white space (tab to carriage return, space), one
// optional sign, then digits accumulated in 32-bit arithmetic that wraps. Anything after the
// digits is ignored; a text without digits there is 0.
int ParseProcessId(const char* target);

// The id of the first process in a fresh snapshot whose base name equals name without regard
// to letter case, or 0 when none does. Volmo's own process is passed over.
DWORD FindProcessByName(const char* name);

// Terminates the process that target names by id or, when its decimal value is 0, by name.
// Returns 0 when termination was requested and granted, -1 when the process cannot be opened,
// -2 when no process bears the name, -3 when the system refused the termination.
int KillProcess(const char* target);

#endif
