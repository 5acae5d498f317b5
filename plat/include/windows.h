// windows.h - the Win32 names the system calls, as the Linux platform layer declares them.
#pragma once

#include "plat/wintypes.h"
#include "plat/winbase.h"
#include "plat/winnls.h"
#include "plat/winreg.h"
#include "plat/wingdi.h"
#include "plat/winuser.h"
