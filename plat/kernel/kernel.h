// kernel.h - what the kernel units give the rest of plat/, one section per unit, lowest layer first; the
// system never sees it. A unit calls only units above it in this list (plat_unit_cycles checks it), and
// the Win32 calls each one implements are:
//   error.cpp       GetLastError, SetLastError; the errno mapping
//   hostcall.cpp    the host calls of the file units, by name, for tests to put their own (host::)
//   nls.cpp         GetACP, GetStringTypeA, LCMapStringA, CompareStringA, MultiByteToWideChar,
//                   WideCharToMultiByte; name folding
//   wildcard.cpp    the wildcard match of searches and of the fault switch
//   fault.cpp       the fault switch
//   machinedir.cpp  where the machine folder is, its user and special folders, the damage report
//   machine.cpp     making and checking the machine folder
//   names.cpp       host folders kept open, names found without case
//   paths.cpp       GetFullPathNameA, GetCurrentDirectoryA, SetCurrentDirectoryA, GetTempPathA
//   handle.cpp      GetStdHandle, ReadFile, WriteFile, GetFileType, CloseHandle
//   sync.cpp        CreateMutexA, OpenMutexA
//   cmdline.cpp     command lines split and joined
//   module.cpp      GetModuleHandleA, GetModuleFileNameA, GetCommandLineA, ExitProcess, MulDiv,
//                   GetCurrentThreadId
//   process.cpp     CreateProcessA, OpenProcess, WaitForSingleObject, GetExitCodeProcess, TerminateProcess,
//                   GetCurrentProcessId, Sleep
//   pending.cpp     operations left for the next start, recorded (MoveFileExA with
//                   MOVEFILE_DELAY_UNTIL_REBOOT)
//   file*.cpp       the file calls (file.h: filetime, fileattr, filehandle, fileops, filefind)
//   boot.cpp        the operations left for the next start, carried out (plat-boot)
//   entry.cpp       main, which calls WinMain (the plat_entry library)
//
// What the kernel needs from the other groups:
//   from advapi/ (advapi.h): the registry of a new machine (machine.cpp), one value changed in one
//     transaction (pending.cpp, boot.cpp);
//   from shell/ (shell.h): the notifications flushed before a process starts another, waits or ends
//     (module.cpp, process.cpp);
//   from user/ (user.h): the entry of a WinMain program asks for a front end (entry.cpp).
#pragma once

#include <windows.h>

#include <stdint.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace plat
{

// error.cpp: the platform's error for a failed host call's errno (GetLastError and SetLastError are there).
DWORD ErrorFromErrno(int nErrno);

// hostcall.cpp: the host calls the file units make through a table rather than by the C library's names
// (SetHostCall), so that a test can put its own function there: to make the host answer what it seldom
// does, or to act between a look and the change after it, as another process could. Each entry has the
// call's name (the C library's), the function used by default and the one in use. The units call them as
// host::read, host::write and so on, each with the C library's parameters and results: handle.cpp,
// filehandle.cpp and fileops.cpp for the reads and writes of open files, streams and copies; paths.cpp and
// fileattr.cpp for the look at a name (lstat, fstatat); fileops.cpp and filehandle.cpp for renames and
// removals (so a test can make a move's target appear after the move looked and before it renames).
typedef void (*HostCallPtr)(void); // any host call's function, cast to one type for the table
struct HostCall {
    const char *pszName;
    HostCallPtr pDefault;
    HostCallPtr pCurrent;
};
enum HostCallId {
    HOST_READ,
    HOST_WRITE,
    HOST_LSTAT,
    HOST_FSTATAT,
    HOST_RENAMEAT,
    HOST_RENAMEAT2, // the system call by its number, with its flags (RENAME_NOREPLACE)
    HOST_UNLINKAT,
    HOST_CALL_COUNT
};
extern HostCall aHostCall[HOST_CALL_COUNT]; // in HostCallId's order
// The entry of a call by its name; null for a name not in the table.
const HostCall *FindHostCall(const char *pszName);
// For tests: puts pNew in the named entry (null puts its default back; a null name puts back every
// default). False for a name not in the table. Not while another thread makes file calls.
bool SetHostCall(const char *pszName, HostCallPtr pNew);
namespace host
{
inline ssize_t read(int fd, void *pBuffer, size_t nBytes)
{
    return ((ssize_t(*)(int, void *, size_t))aHostCall[HOST_READ].pCurrent)(fd, pBuffer, nBytes);
}
inline ssize_t write(int fd, const void *pBuffer, size_t nBytes)
{
    return ((ssize_t(*)(int, const void *, size_t))aHostCall[HOST_WRITE].pCurrent)(fd, pBuffer, nBytes);
}
inline int lstat(const char *pszPath, struct stat *pst)
{
    return ((int (*)(const char *, struct stat *))aHostCall[HOST_LSTAT].pCurrent)(pszPath, pst);
}
inline int fstatat(int dirfd, const char *pszName, struct stat *pst, int nFlags)
{
    return ((int (*)(int, const char *, struct stat *, int))aHostCall[HOST_FSTATAT].pCurrent)(dirfd, pszName,
                                                                                              pst, nFlags);
}
inline int renameat(int dirfdFrom, const char *pszFrom, int dirfdTo, const char *pszTo)
{
    return ((int (*)(int, const char *, int, const char *))aHostCall[HOST_RENAMEAT].pCurrent)(
        dirfdFrom, pszFrom, dirfdTo, pszTo);
}
inline int renameat2(int dirfdFrom, const char *pszFrom, int dirfdTo, const char *pszTo, unsigned nFlags)
{
    return ((int (*)(int, const char *, int, const char *, unsigned))aHostCall[HOST_RENAMEAT2].pCurrent)(
        dirfdFrom, pszFrom, dirfdTo, pszTo, nFlags);
}
inline int unlinkat(int dirfd, const char *pszName, int nFlags)
{
    return ((int (*)(int, const char *, int))aHostCall[HOST_UNLINKAT].pCurrent)(dirfd, pszName, nFlags);
}
} // namespace host

// nls.cpp: the ANSI code page of the emulated machine, 1251 (1252 when PLAT_ACP=1252).
UINT AnsiCodePage();
bool IsSingleByteCodePage(UINT nCodePage); // 1251 and 1252, the code pages this layer holds
char16_t CodePageToUnicode(UINT nCodePage, unsigned char c);
int UnicodeToCodePage(UINT nCodePage, char16_t w); // -1 when the character has no byte in the code page
char16_t AnsiToUnicode(unsigned char c);
int UnicodeToAnsi(char16_t w); // -1 when the character has no byte in the code page
std::string AnsiToUtf8(const std::string &s);
std::string Utf8ToAnsi(const std::string &s, bool *pbLossy = nullptr);
std::u16string Utf8ToUtf16(const std::string &s);
// The windows' texts, kept in code page 1251 whatever the ANSI code page ('?' for what it does not hold).
std::string TextToUtf8(const std::string &s);
std::string Utf8ToText(const std::string &s);
std::string AnsiToText(const std::string &s);
std::string TextToAnsi(const std::string &s);
std::string Utf16ToText(const char16_t *psz, size_t n);
std::u16string TextToUtf16(const std::string &s);
// Names compared as the platform compares file names: without case, by the code page's own case tables.
// Windows paths are ANSI strings in code page 1251; host paths are UTF-8.
std::string UpperName(const std::string &sName);
bool SameName(const std::string &sName1, const std::string &sName2);

// wildcard.cpp: matches a name against a pattern without case: * stands for any run of characters, ? for
// one. With bDosTail, a rest of the pattern made only of dots and stars also matches at the end of the
// name, as in the platform's file search ("*.*" finds "README", "name.*" finds "name").
bool MatchWildcards(const std::string &sPattern, const std::string &sName, bool bDosTail);

// fault.cpp: the fault switch for tests (PLAT_FAULT, PLAT_FAULT_AT, PLAT_FAULT_CUT, PLAT_FAULT_TRACE,
// described in docs/machine.md; the calls that check it are listed in plat/checkedcalls.h). Each call of
// InjectedFault is one checked call, numbered from 1 in the process: true, with the error the call is to fail
// with, when it is the one PLAT_FAULT_AT names, or an entry of PLAT_FAULT names this call (or "*") and its
// path pattern matches the full Windows path. At the number PLAT_FAULT_CUT names the process ends at once.
// The check is traced under the innermost TracedCall of this thread when that has the same name (the line is
// written with the call's outcome when it ends), else at once.
bool InjectedFault(const char *pszCall, const std::string &sWinPath, DWORD *pnError);
// The same for a path that costs work to make: path() is called only when the switch needs the path.
bool InjectedFault(const char *pszCall, const std::function<std::string()> &path, DWORD *pnError);
// How many checked calls the process has made so far.
unsigned long long CheckedCalls();

// One run of a platform call, for the fault switch's trace: the checks the call makes on its thread are
// written when it ends, each with the call's outcome. The call passes its result through one of the
// methods below, which judge success by the call's kind; a TracedCall that ends without one counts as a
// success.
class TracedCall
{
  public:
    explicit TracedCall(const char *pszCallName);
    ~TracedCall();
    TracedCall(const TracedCall &) = delete;
    TracedCall &operator=(const TracedCall &) = delete;

    BOOL Bool(BOOL b);                               // FALSE fails, with the last error
    HANDLE Handle(HANDLE h);                         // INVALID_HANDLE_VALUE fails, with the last error
    LSTATUS Status(LSTATUS rc);                      // any status but ERROR_SUCCESS fails, with that status
    HRESULT Result(HRESULT hr);                      // FAILED(hr) fails, with hr in hexadecimal
    INT LzResult(INT n);                             // a negative LZERROR_ code fails, with that code
    template <typename T> T Value(T value, bool bOk) // bOk tells; the error is the last error
    {
        End(bOk, std::to_string(GetLastError()));
        return value;
    }

  private:
    friend bool InjectedFault(const char *, const std::function<std::string()> &, DWORD *);
    void End(bool bOk, const std::string &sError);

    const char *pszCall;
    TracedCall *pOuter;
    bool bEnded = false;
    std::vector<std::pair<unsigned long long, std::string>> aChecks; // number and UTF-8 path, to be written
};

// machinedir.cpp: where the emulated machine's folder is ($PLAT_ROOT, by default
// $HOME/.local/share/plat/machine), as an absolute host path, without making or checking anything: for
// tools that must not make a machine.
std::string MachineFolderPath();
// The machine's user (the host's login name) and the Windows paths of its special folders.
std::string UserName();
enum SpecialFolder {
    FolderProgramFiles,
    FolderCommonFiles,
    FolderPrograms, // the Start-menu programs folder
    FolderDesktop,
    FolderDocuments,
    FolderTemp,
};
std::string SpecialFolderPath(SpecialFolder nFolder); // e.g. "C:\\users\\ann\\Desktop", no trailing backslash
std::string SpecialFolderPathUtf8(SpecialFolder nFolder); // the same with the names in UTF-8
// Prints "plat: " and the message on standard error, once per process for each message.
void ReportMachineDamage(const std::string &sMessage);
bool MachineDamageReported(); // whether any message was given, for the tools' exit codes

// machine.cpp: the machine folder, made and filled on first use with its special folders and its registry
// (advapi.h: MakeNewRegistry) when it is new. Drive C: is its drive_c folder; drive Z: is the host's root.
// The result is MachineFolderPath().
std::string MachineRoot();
// The named objects' lock file, objects.lock in the machine folder (made with it; sync.cpp).
std::string ObjectLockPath();
// A machine folder is made only when it is new: missing, or empty. Any other folder without its registry
// (registry.db missing or of zero length) or without drive_c is damaged: nothing is made in it, and the
// calls that need the missing part fail. Each says once per process on standard error what is damaged.
// RegistryFileDamaged: registry.db cannot be used (reported now); DriveCMissing: drive_c is not there
// (reported now).
bool RegistryFileDamaged();
bool DriveCMissing();

// names.cpp: host folders held open and names found without case.

// A host folder held open, for the calls on names in it (openat, fstatat, unlinkat, ...): they then do not
// walk the folder's whole host path again. Shared by those who hold it; the descriptor closes with the last.
struct HostFolder {
    int fd = -1;       // O_PATH | O_DIRECTORY
    std::string sHost; // its host path when it was opened
    dev_t dev = 0;
    ino_t ino = 0;
    HostFolder() = default;
    HostFolder(const HostFolder &) = delete;
    HostFolder &operator=(const HostFolder &) = delete;
    ~HostFolder();
};

// The host name (UTF-8) in the host folder sDir that equals the ANSI name sName without case, the first in
// byte order when several do; false when none does or the folder cannot be read. Answered from an index of
// the folder's names kept while the folder is unchanged, so the cost does not grow with the folder.
// pDirStat, when given, is the folder's stat taken just before.
bool FindFoldedName(const std::string &sDir, const std::string &sName, std::string *psHostName,
                    const struct stat *pDirStat = nullptr);
// The same in a folder held open. bEventsRead: the change events were applied by a lookup just before, in
// the same platform call, with no change made since (see KeptFolder).
bool FindFoldedName(const HostFolder &dir, const std::string &sName, std::string *psHostName,
                    bool bEventsRead = false);

// The host folder of a full Windows folder path as spelt ("C:\\", "C:\\Program Files\\Kalmor61"), each name
// on the way found as ResolvePath finds it (its exact spelling first, else one equal to it without case),
// kept open while the change events of the folders on the way show that the path still names it. Null when it
// cannot be kept so (a name on the way missing or no folder of its own, a link, a file system without change
// events): such a path is resolved by host paths. The events queued before the call are applied first,
// unless bEventsRead says that a lookup just before did so in the same platform call and no change was made
// since: a change complete before the call began is seen either way.
std::shared_ptr<const HostFolder> KeptFolder(const std::string &sWinDir, bool bEventsRead = false);
// For tests: how many folders are kept open.
size_t KeptFolders();

// For tests: the indexes checked by the folders' times alone, as where no change events are to be had
// (true), or by change events where the file system gives them (false, the default). Drops every index.
// nTickNs > 0 reads the folders' times as if their clock ticked that coarsely (the host's may be finer).
void NameIndexByTimes(bool bByTimes, long long nTickNs = 0);
// For tests: how many folders have an index.
size_t NameIndexFolders();

// paths.cpp: the current directory and the paths of the file calls.

// The current directory of the process, a full Windows path (no trailing backslash but on a root). It starts
// as the Windows path of the host's working directory; SetCurrentDirectoryA changes it, the host's does not.
std::string CurrentDirectory();
void SetCurrentDirectoryPath(const std::string &sFull);

// The full form of a Windows path by GetFullPathNameA's rules, without its length limit: "/" read as "\\",
// repeated separators, "." and ".." folded (never above the root), trailing dots of every name and trailing
// blanks of the last one dropped, relative and drive-relative names taken against the current directory, a
// final separator kept. Wildcards pass through. False for an empty or all-blank name.
bool FullPathName(const std::string &sPath, std::string *psFull);

// A path argument of a file call, resolved on the host.
struct ResolvedPath {
    std::string sWin;    // the full Windows path, without a final separator (but on a root)
    std::string sHost;   // the host path: existing names in their host spelling, a missing last name as given
    std::string sName;   // the last name as the caller gave it (ANSI); empty for a root
    bool bFound = false; // the last name exists on the host (a dangling link counts)
    bool bTrailingSep = false; // the caller's path ended in a separator
    bool bRoot = false;        // the path is a drive's root
    bool bStat = false;        // lst holds the lstat of the last name, taken while it was looked up
    struct stat lst = {};
    // The folder of the last name, held open while it is known to be the folder the path names (see
    // KeptFolder), and the last name's host spelling in it; null when the path was resolved by host paths.
    std::shared_ptr<const HostFolder> pDir;
    std::string sLeaf;
};
enum {
    // The last name is a search pattern: neither checked nor looked up.
    RESOLVE_WILDCARDS = 1,
    // A path resolved just before in the same call, nothing changed since (KeptFolder).
    RESOLVE_EVENTS_READ = 2,
};
// Resolves a path as the file calls do: names longer than the platform's limit fail with
// ERROR_FILENAME_EXCED_RANGE, an empty name with ERROR_PATH_NOT_FOUND, a name with a character the platform
// forbids with ERROR_INVALID_NAME, a drive other than C: and Z: with ERROR_PATH_NOT_FOUND, a network path
// with ERROR_BAD_NETPATH, a missing folder on the way (or a file used as one) with ERROR_PATH_NOT_FOUND. Each
// existing name is matched without case when its exact spelling is not there.
bool ResolvePath(const char *pszPath, ResolvedPath *pPath, DWORD *pnError, unsigned nFlags = 0);
// The same for a file call's path argument, which is also checked against the fault switch under the call's
// name: with its full path, or, for a path that does not resolve, its full form or the text as given, so
// that every call is one checked call. False with the last error set.
bool ResolveArg(const char *pszCall, const char *pszPath, ResolvedPath *pPath, unsigned nFlags = 0);

// The Windows path of a host path: under drive_c it is on C:, anything else is on Z:. Relative host paths are
// taken against the host's working directory. *pbLossy tells whether a character had no place in the ANSI
// code page (it shows as '?'). WindowsPathFromHostUtf8 gives the same path with the names in UTF-8.
std::string WindowsPathFromHost(const std::string &sHost, bool *pbLossy = nullptr);
std::string WindowsPathFromHostUtf8(const std::string &sHost);

// A reserved device name (NUL, CON, AUX, PRN, COM1-COM9, LPT1-LPT9 in any case) as the last name of a path,
// with any extension, blanks before it or colons after it: true with the name as spelt in the path. Paths
// of the \\?\ and \\.\ forms and network paths name no device this way.
bool DosDeviceName(const std::string &sPath, std::string *psDevice);

// handle.cpp: kernel handles.

// Every kernel HANDLE of this layer (files, searches, processes, standard streams) points at one of these.
// A handle is valid only while it is registered; CloseHandle unregisters and deletes it.
struct KernelObject {
    virtual ~KernelObject() {}
    virtual DWORD FileType() const
    {
        return FILE_TYPE_UNKNOWN;
    }
    virtual BOOL Read(void *pBuffer, DWORD nBytes, DWORD *pnRead);
    virtual BOOL Write(const void *pBuffer, DWORD nBytes, DWORD *pnWritten);
    // The standard streams are never deleted.
    virtual bool IsStatic() const
    {
        return false;
    }
    // An error CloseHandle is to report although the handle is closed (the fault switch); false for none.
    virtual bool CloseFault(DWORD *pnError) const
    {
        (void)pnError;
        return false;
    }
    // The full Windows path the handle was opened with; empty for objects without one.
    virtual std::string WindowsPath() const
    {
        return std::string();
    }
    // The host file descriptor behind the handle, for a child's standard streams; -1 for objects without one.
    virtual int HostFd() const
    {
        return -1;
    }
    // The host descriptor a child started with inherited handles keeps open for this handle: -1 for a handle
    // not made inheritable, or an object that has none.
    virtual int InheritedFd() const
    {
        return -1;
    }
};
HANDLE RegisterHandle(KernelObject *pObject);
// The one write path of file handles, standard streams and copies: writes all nBytes to a host descriptor,
// going on after a write the host cut short or a signal interrupted. ERROR_SUCCESS, or the platform's error
// of the write that failed: a write that took nothing (the host sets no errno then) is a full disk
// (ERROR_DISK_FULL), a pipe whose reader is gone ERROR_BROKEN_PIPE. *pnDone is what was written either way.
DWORD WriteAll(int fd, const void *pBuffer, size_t nBytes, size_t *pnDone);
KernelObject *LookupHandle(HANDLE h); // null, with ERROR_INVALID_HANDLE set, for a handle not registered
void UnregisterHandle(HANDLE h);
// The inheritable handles' descriptors (InheritedFd), each once, for a child started with bInheritHandles.
std::vector<int> InheritedFds();

// sync.cpp: named mutexes (byte locks on the machine folder's objects.lock), nothing for the other units.

// cmdline.cpp: a command line split into arguments by the platform's rules: the program's name up to the
// first blank outside quotes (quotes dropped, backslashes kept); then arguments separated by blanks and tabs,
// where quotes group, 2n backslashes before a quote stand for n and the quote groups, 2n+1 for n and a quote,
// other backslashes stand for themselves, and "" inside quotes is one quote.
std::vector<std::string> SplitCommandLine(const std::string &sLine);
// The line that splits back into these arguments: the program's name quoted when it holds a blank (it
// cannot hold a quote), each other argument quoted and escaped when it is empty or holds a blank or a quote.
std::string JoinCommandLine(const std::vector<std::string> &aArgs);

// module.cpp: the program's module and its resources (a .res image linked into the program, read by
// user/res.cpp).
struct Module {
    const unsigned char *pRes;
    size_t nRes;
};
Module *ModuleFromHandle(HINSTANCE h); // null for an unknown module
std::string ExecutableHostPath();

// process.cpp: for tests, waiting for a process polls the host (a zombie or a gone process in /proc, a
// child's status) every few milliseconds, as where the host has no process descriptors (true), or waits on a
// process descriptor where it has them (false, the default). Applies to handles opened afterwards.
void ProcessWaitByPolling(bool bPolling);

// pending.cpp: operations left for the machine's next start, as the platform keeps them: pairs of strings
// in the REG_MULTI_SZ value PendingFileRenameOperations of HKLM\SYSTEM\CurrentControlSet\Control\Session
// Manager, the source "\??\C:\full\path" and the target: "" to delete the source, "\??\C:\new" to
// rename it, "!\??\C:\new" to rename it over a file in the way.
extern const char kSessionManagerKey[];
extern const char kPendingValue[];
extern const char kNtPrefix[]; // "\??\", before each path
// Appends one operation in one registry transaction; false with the registry's error.
bool RecordPendingFileOperation(const std::string &sSourceFull, const std::string *psTargetFull,
                                bool bReplace, DWORD *pnError);
struct PendingOperation {
    std::string sSource, sTarget; // as stored
};
// The operations in REG_MULTI_SZ data: pairs of strings, each string ended by a NUL, the list by one more
// (an empty source). *pnUsed is how many bytes the pairs take, the list's end not counted. A string cut
// short by the data's end ends there.
std::vector<PendingOperation> ParsePendingOperations(const std::string &sData, size_t *pnUsed);

// fileattr.cpp: for tests, every later write or removal of an extended attribute fails with nErrno, as on a
// file system without them (ENOTSUP) or on another owner's file (EPERM); 0 ends it.
void FailXattrWrites(int nErrno);

// boot.cpp: carries out the recorded operations in order with the machine's own file calls, then removes
// them from the value (the value goes when nothing else was added meanwhile). One message (UTF-8) per
// operation that failed in *paFailures. False when the registry could not be read or changed.
bool RunPendingFileOperations(std::vector<std::string> *paFailures);

} // namespace plat
