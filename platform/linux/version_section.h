// The ELF section in which a Linux executable carries its version information block, in the
// standard VS_VERSIONINFO layout with UTF-16 strings, as a Windows executable's RT_VERSION
// resource holds it.
#ifndef VOLMO_PLATFORM_LINUX_VERSION_SECTION_H
#define VOLMO_PLATFORM_LINUX_VERSION_SECTION_H

#define VOLMO_VERSION_SECTION ".vs_version_info"

#endif
