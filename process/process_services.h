// The one place that declares the platform operations Volmo uses: the process services, and
// the module and version-information services of the banner. On Windows these are the system's
// own; elsewhere they come from our layer, which provides them under the same names.
#ifndef VOLMO_PROCESS_PROCESS_SERVICES_H
#define VOLMO_PROCESS_PROCESS_SERVICES_H

#ifdef _WIN32
#include <windows.h>
// windows.h must come first: the psapi and version headers build on its types.
#include <psapi.h>
#include <winver.h>
#else
#include "platform/linux/win32_api.h"
#endif

#endif
