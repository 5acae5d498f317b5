// platform.h - the one platform header of the system's modules: the Win32 interface. On Windows these are
// the real headers; the Linux build puts plat/include first on the include path, which declares the same names.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <lzexpand.h>
