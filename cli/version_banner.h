// The version banner: the program's name and file version, then the attribution line.
#ifndef VOLMO_CLI_VERSION_BANNER_H
#define VOLMO_CLI_VERSION_BANNER_H

#include "process/process_services.h"

// The attribution line, without its line end.
extern const char ATTRIBUTION_LINE[];

// Writes "<name> Version <FileVersion>" and the attribution line, each flushed as it is
// written. The version is read from the version resource of the file that module was loaded
// from; "Unknown" when that file has none or it cannot be read.
void ShowVersion(HMODULE module, const char* name);

#endif
