// advapi.h - what the registry gives the rest of plat/ besides the Win32 calls; the system never sees it. The
// units, lowest first:
//   regdb.cpp  the registry's database (regdb.h): the file in the machine folder, its tables, a new
//              machine's registry
//   reg.cpp    RegOpenKeyExA, RegCreateKeyExA, RegQueryValueExA, RegSetValueExA, RegDeleteValueA,
//              RegDeleteKeyA, RegQueryInfoKeyA, RegEnumKeyExA, RegEnumValueA, RegCloseKey
// The registry needs from kernel/ (kernel.h): the machine folder (made on first need) and its damage report,
// the code page, the fault switch.
#pragma once

#include "kernel/kernel.h"

#include <functional>
#include <string>

namespace plat
{

// Makes and fills the registry of a new machine at sPath; false when it cannot.
bool MakeNewRegistry(const std::string &sPath);

// Reads and changes one registry value in one transaction. change() is given whether the value exists, its
// type and its data; it returns VALUE_KEEP, or VALUE_SET with the new type and data in place (the key is
// made when missing), or VALUE_DELETE. ERROR_SUCCESS, or the registry's error.
enum ValueChange { VALUE_KEEP, VALUE_SET, VALUE_DELETE };
typedef std::function<ValueChange(bool bExists, DWORD *pnType, std::string *psData)> ValueChanger;
LSTATUS ChangeRegistryValue(HKEY hRoot, const std::string &sKeyPath, const std::string &sName,
                            const ValueChanger &change);

} // namespace plat
