// shlutl.cpp - registry keys and string values, the special folders and shell links. Each operation is one
// short sequence of platform calls; every platform error becomes a null key or a 0 result, and nothing is
// kept between calls.

#include "shlutl.h"
#include "charstr.h"
#include "sysassert.h"

#include <stdlib.h>

static const char szThisModule[] = "lib\\SHLUTL";

// ---------------------------------------------------------------------------------------------------------
// Keys

// Opens szSubkey below hKey for reading (bWrite 0) or for reading and writing. Null on any error.
HKEY ShlRegOpen(HKEY hKey, const char *szSubkey, int bWrite)
{
    HKEY hResult = NULL;

    ASSERT(hKey != NULL);
    ASSERT(szSubkey != NULL);
    if (RegOpenKeyExA(hKey, szSubkey, 0, bWrite ? KEY_READ | KEY_WRITE : KEY_READ, &hResult) != ERROR_SUCCESS)
        return NULL;
    return hResult;
}

// Opens szSubkey below hKey for writing, making it (and the keys on its way) when missing. Null on any error.
HKEY ShlRegCreate(HKEY hKey, const char *szSubkey)
{
    HKEY hResult = NULL;
    DWORD nDisposition;

    ASSERT(hKey != NULL);
    ASSERT(szSubkey != NULL);
    if (RegCreateKeyExA(hKey, szSubkey, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, NULL,
                        &hResult, &nDisposition) != ERROR_SUCCESS)
        return NULL;
    return hResult;
}

// Deletes a key that has no sub-keys, with its values. 1 when deleted or already absent; 0 when it has
// sub-keys (it stays) or on any other error.
int ShlRegDeleteKey(HKEY hKey, const char *szSubkey)
{
    HKEY hProbe = NULL;
    DWORD nSubKeys = 0;
    LONG rc;

    ASSERT(hKey != NULL);
    ASSERT(szSubkey != NULL);
    rc = RegOpenKeyExA(hKey, szSubkey, 0, KEY_READ | KEY_WRITE, &hProbe);
    if (rc != ERROR_SUCCESS)
        return rc == ERROR_FILE_NOT_FOUND;
    rc = RegQueryInfoKeyA(hProbe, NULL, NULL, NULL, &nSubKeys, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
    RegCloseKey(hProbe);
    if (rc != ERROR_SUCCESS || nSubKeys != 0)
        return 0;
    return RegDeleteKeyA(hKey, szSubkey) == ERROR_SUCCESS;
}

// 1 when closed or when there is nothing to close; 0 when the platform refuses the key.
int ShlRegClose(HKEY hKey)
{
    if (hKey == NULL)
        return 1;
    return RegCloseKey(hKey) == ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------------------------------------
// String values (REG_SZ only)

// The size in bytes a buffer needs for the REG_SZ value whose stored size is cbStored: one more when the
// stored bytes lack their terminator. -1 when the value cannot be read (it changed in between).
static int ShlStringSize(HKEY hKey, const char *szValue, DWORD cbStored)
{
    char *pBuffer;
    DWORD cbRead = cbStored;
    DWORD nType = REG_NONE;
    int nSize = -1;

    if (cbStored == 0)
        return 1;
    if (cbStored >= 0x7ffffffe)
        return -1;
    pBuffer = (char *)malloc(cbStored);
    if (pBuffer == NULL)
        return (int)cbStored + 1; // enough in either case
    if (RegQueryValueExA(hKey, szValue, NULL, &nType, (BYTE *)pBuffer, &cbRead) == ERROR_SUCCESS &&
        nType == REG_SZ)
        nSize = cbRead == 0 ? 1 : (int)cbRead + (pBuffer[cbRead - 1] != EOS);
    free(pBuffer);
    return nSize;
}

// Reads the REG_SZ value szValue of hKey into szData, a buffer of nSize bytes. Returns 1 when the value was
// read: szData then holds it as a terminated string, also when the value was stored without its terminator.
// Returns 0 when the value is missing or not of type REG_SZ (the buffer untouched), or when it does not fit
// with its terminator (the buffer then holds an empty string, when it has room for one). Without a buffer
// (szData null) returns the size in bytes a buffer needs, terminator included, or -1.
int ShlRegGetString(HKEY hKey, const char *szValue, char *szData, int nSize)
{
    DWORD nType = REG_NONE;
    DWORD cbData = 0;
    LONG rc;

    ASSERT(szValue != NULL);
    ASSERT(hKey != NULL);
    ASSERT(nSize >= 0);
    rc = RegQueryValueExA(hKey, szValue, NULL, &nType, NULL, &cbData);
    if (szData == NULL) {
        if (rc != ERROR_SUCCESS || nType != REG_SZ)
            return -1;
        return ShlStringSize(hKey, szValue, cbData);
    }
    if (rc != ERROR_SUCCESS || nType != REG_SZ)
        return 0;
    cbData = (DWORD)nSize;
    rc = RegQueryValueExA(hKey, szValue, NULL, &nType, (BYTE *)szData, &cbData);
    if (rc == ERROR_SUCCESS && nType == REG_SZ) {
        if (cbData > 0 && szData[cbData - 1] == EOS)
            return 1;
        if ((int)cbData < nSize) { // stored without its terminator: it fits after the data
            szData[cbData] = EOS;
            return 1;
        }
    }
    if (nSize > 0)
        szData[0] = EOS;
    return 0;
}

// Writes szData as the REG_SZ value szValue, its terminator counted in the size. A value of another type is
// not replaced (0): the caller deletes it first.
int ShlRegSetString(HKEY hKey, const char *szValue, const char *szData)
{
    DWORD nType = REG_NONE;
    LONG rc;

    ASSERT(hKey != NULL);
    ASSERT(szValue != NULL);
    ASSERT(szData != NULL);
    rc = RegQueryValueExA(hKey, szValue, NULL, &nType, NULL, NULL);
    if (!((rc == ERROR_SUCCESS && nType == REG_SZ) || rc == ERROR_FILE_NOT_FOUND))
        return 0;
    return RegSetValueExA(hKey, szValue, 0, REG_SZ, (const BYTE *)szData, (DWORD)StrLength(szData) + 1) ==
           ERROR_SUCCESS;
}

// 1 when deleted or already absent, 0 otherwise.
int ShlRegDeleteValue(HKEY hKey, const char *szValue)
{
    LONG rc;

    ASSERT(hKey != NULL);
    ASSERT(szValue != NULL);
    rc = RegDeleteValueA(hKey, szValue);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

// ---------------------------------------------------------------------------------------------------------
// Special folders and shell links

// Reads a shell special folder into szPath (nSize bytes); frees the item list in every case.
static int ShlShellFolder(int nCsidl, char *szPath, int nSize)
{
    LPITEMIDLIST pidl = NULL;
    LPMALLOC pMalloc = NULL;
    char szFolder[MAX_PATH];
    int bOk = 0;

    if (SHGetSpecialFolderLocation(NULL, nCsidl, &pidl) != S_OK)
        return 0;
    if (SHGetPathFromIDListA(pidl, szFolder) && nSize > 0)
        bOk = StrCopy(szPath, szFolder, nSize);
    if (SHGetMalloc(&pMalloc) == S_OK && pMalloc != NULL) {
        pMalloc->Free(pidl);
        pMalloc->Release();
    }
    return bOk;
}

// Puts the folder of kind nFolder (FOLDER_...) into szPath, a buffer of nSize bytes, as a local absolute
// path: "X:\" and more, no surrounding blanks, no trailing backslash but on a drive root. Returns 1, or 0
// when the folder is not known, does not fit or has another form (szPath then holds anything).
int ShlGetFolder(int nFolder, char *szPath, int nSize)
{
    HKEY hKey;
    DWORD nLength;
    int bOk = 0;
    int n;

    ASSERT(szPath != NULL);
    ASSERT(nSize >= 0);
    switch (nFolder) {
    case FOLDER_COMMONFILES:
    case FOLDER_PROGRAMFILES:
        hKey = ShlRegOpen(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0);
        if (hKey != NULL) {
            bOk = ShlRegGetString(hKey, nFolder == FOLDER_COMMONFILES ? "CommonFilesDir" : "ProgramFilesDir",
                                  szPath, nSize);
            ShlRegClose(hKey);
        }
        break;
    case FOLDER_TEMP:
        nLength = GetTempPathA((DWORD)nSize, szPath);
        bOk = nLength > 0 && nLength < (DWORD)nSize;
        break;
    case FOLDER_PROGRAMS:
        bOk = ShlShellFolder(CSIDL_PROGRAMS, szPath, nSize);
        break;
    case FOLDER_DESKTOP:
        bOk = ShlShellFolder(CSIDL_DESKTOPDIRECTORY, szPath, nSize);
        break;
    case FOLDER_DOCUMENTS:
        bOk = ShlShellFolder(CSIDL_PERSONAL, szPath, nSize);
        break;
    default:
        break;
    }
    if (!bOk)
        return 0;
    StrTrim(szPath, 0);
    n = StrLength(szPath);
    if (n < 3 || szPath[1] != ':' || szPath[2] != '\\')
        return 0;
    if (n > 3 && szPath[n - 1] == '\\')
        szPath[n - 1] = EOS;
    return 1;
}

// Writes the shell link szLink to szTarget with the working folder szWorkDir and the arguments szArgs.
// 1 when written. The component object model is initialised for the call and left as it was found.
int ShlCreateLink(const char *szLink, const char *szTarget, const char *szWorkDir, const char *szArgs)
{
    IShellLinkA *pLink = NULL;
    IPersistFile *pFile = NULL;
    WCHAR wszLink[MAX_PATH];
    HRESULT hr;
    int bOk = 0;

    ASSERT(szLink != NULL);
    ASSERT(szTarget != NULL);
    ASSERT(szWorkDir != NULL);
    ASSERT(szArgs != NULL);
    hr = CoInitialize(NULL);
    if (hr != S_OK && hr != S_FALSE)
        return 0;
    if (CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&pLink) ==
            S_OK &&
        pLink != NULL) {
        if (pLink->SetPath(szTarget) == S_OK && pLink->SetWorkingDirectory(szWorkDir) == S_OK &&
            pLink->SetArguments(szArgs) == S_OK &&
            pLink->QueryInterface(IID_IPersistFile, (void **)&pFile) == S_OK && pFile != NULL) {
            if (MultiByteToWideChar(CP_ACP, 0, szLink, -1, wszLink, MAX_PATH) > 0)
                bOk = pFile->Save(wszLink, FALSE) == S_OK;
            pFile->Release();
        }
        pLink->Release();
    }
    CoUninitialize();
    return bOk;
}
