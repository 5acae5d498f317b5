// plat-reg.cpp - the registry tool of the Linux build, after the platform's reg command: query, add, delete
// and export keys and values of the emulated machine ($PLAT_ROOT). Names and data are code page 1251 in the
// registry and UTF-8 on the command line and in the output.

#include "kernel/kernel.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace
{

const char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.";
const char kDone[] = "The operation completed successfully.";

struct Root {
    const char *pszShort, *pszLong;
    HKEY hKey;
};
const Root kRoots[] = {
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},   {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},     {"HKU", "HKEY_USERS", HKEY_USERS},
    {"HKCC", "HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

struct TypeName {
    DWORD nType;
    const char *pszName;
};
const TypeName kTypes[] = {
    {REG_NONE, "REG_NONE"},           {REG_SZ, "REG_SZ"},
    {REG_EXPAND_SZ, "REG_EXPAND_SZ"}, {REG_BINARY, "REG_BINARY"},
    {REG_DWORD, "REG_DWORD"},         {REG_DWORD_BIG_ENDIAN, "REG_DWORD_BIG_ENDIAN"},
    {REG_LINK, "REG_LINK"},           {REG_MULTI_SZ, "REG_MULTI_SZ"},
    {REG_QWORD, "REG_QWORD"},
};

// A key as the user named it: its root and the path below it in code page 1251, and the name to print.
struct KeyName {
    HKEY hRoot = NULL;
    std::string sPath;    // code page 1251, no leading or trailing backslash
    std::string sDisplay; // UTF-8, with the root's long name
};

struct Value {
    std::string sName; // code page 1251
    DWORD nType = REG_NONE;
    std::string sData;
};

// A damaged machine folder is said by the platform itself, once ("plat: the registry of the machine folder
// is damaged: ..."); what fails after it is not said again.
int Fail(const std::string &sMessage)
{
    if (!plat::MachineDamageReported())
        fprintf(stderr, "%s\n", sMessage.c_str());
    return 1;
}

// The first error met while reading keys and values for the output: a listing that misses part of the
// registry is a failure.
LSTATUS nReadError = ERROR_SUCCESS;

void ReadFailed(LSTATUS rc)
{
    if (nReadError == ERROR_SUCCESS)
        nReadError = rc;
}

int Usage()
{
    fprintf(stderr,
            "usage: plat-reg query KEY [/v NAME | /ve] [/s]\n"
            "       plat-reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
            "       plat-reg delete KEY [/v NAME | /ve | /va] [/f]\n"
            "       plat-reg export KEY FILE [/y]\n"
            "KEY is ROOT\\path, ROOT one of HKLM HKCU HKCR HKU HKCC or their long names.\n"
            "TYPE is REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY or\n"
            "REG_NONE. The machine is $PLAT_ROOT (default ~/.local/share/plat/machine).\n");
    return 1;
}

std::string Utf8(const std::string &sAnsi)
{
    return plat::AnsiToUtf8(sAnsi);
}

// UTF-8 from the command line into code page 1251; false when a character has no place in it.
bool ToAnsi(const std::string &sUtf8, std::string *psAnsi)
{
    bool bLossy = false;
    *psAnsi = plat::Utf8ToAnsi(sUtf8, &bLossy);
    return !bLossy;
}

bool ParseKey(const std::string &sArg, KeyName *pKey, std::string *psError)
{
    size_t nSlash = sArg.find('\\');
    std::string sRoot = sArg.substr(0, nSlash);
    std::string sRest = nSlash == std::string::npos ? std::string() : sArg.substr(nSlash + 1);
    for (const Root &r : kRoots) {
        if (strcasecmp(sRoot.c_str(), r.pszShort) == 0 || strcasecmp(sRoot.c_str(), r.pszLong) == 0) {
            pKey->hRoot = r.hKey;
            pKey->sDisplay = r.pszLong;
        }
    }
    if (pKey->hRoot == NULL) {
        *psError = "ERROR: Invalid key name: " + sArg;
        return false;
    }
    while (!sRest.empty() && sRest.back() == '\\')
        sRest.pop_back();
    if (!ToAnsi(sRest, &pKey->sPath)) {
        *psError = "ERROR: The key name has characters that code page 1251 lacks: " + sArg;
        return false;
    }
    if (!sRest.empty())
        pKey->sDisplay += "\\" + sRest;
    return true;
}

const char *TypeText(DWORD nType, char *szBuffer, size_t n)
{
    for (const TypeName &t : kTypes)
        if (t.nType == nType)
            return t.pszName;
    snprintf(szBuffer, n, "0x%x", (unsigned)nType);
    return szBuffer;
}

bool ParseType(const std::string &s, DWORD *pnType)
{
    for (const TypeName &t : kTypes) {
        if (strcasecmp(s.c_str(), t.pszName) == 0) {
            *pnType = t.nType;
            return true;
        }
    }
    return false;
}

// The data as reg prints it: strings as text, numbers in hexadecimal, anything else as hex bytes.
std::string DataText(const Value &v)
{
    const std::string &d = v.sData;
    char sz[32];
    if (v.nType == REG_SZ || v.nType == REG_EXPAND_SZ)
        return Utf8(std::string(d.c_str(), strnlen(d.c_str(), d.size())));
    if (v.nType == REG_MULTI_SZ) {
        std::string sText, s = d;
        while (!s.empty() && s.back() == '\0')
            s.pop_back();
        for (char c : s)
            sText += c == '\0' ? std::string("\\0") : std::string(1, c);
        return Utf8(sText);
    }
    if (v.nType == REG_DWORD && d.size() == 4) {
        uint32_t n;
        memcpy(&n, d.data(), 4);
        snprintf(sz, sizeof sz, "0x%x", n);
        return sz;
    }
    if (v.nType == REG_QWORD && d.size() == 8) {
        uint64_t n;
        memcpy(&n, d.data(), 8);
        snprintf(sz, sizeof sz, "0x%llx", (unsigned long long)n);
        return sz;
    }
    std::string sHex;
    for (unsigned char c : d) {
        snprintf(sz, sizeof sz, "%02X", c);
        sHex += sz;
    }
    return sHex;
}

std::string ValueLine(const Value &v)
{
    char sz[16];
    std::string sName = v.sName.empty() ? "(Default)" : Utf8(v.sName);
    return "    " + sName + "    " + TypeText(v.nType, sz, sizeof sz) + "    " + DataText(v);
}

bool ReadValue(HKEY h, const std::string &sName, Value *pValue)
{
    DWORD cb = 0, nType = REG_NONE;
    for (int nTries = 0; nTries < 5; nTries++) {
        if (RegQueryValueExA(h, sName.c_str(), NULL, &nType, NULL, &cb) != ERROR_SUCCESS)
            return false;
        std::string sData(cb, '\0');
        DWORD cbRead = cb;
        LSTATUS rc = RegQueryValueExA(h, sName.c_str(), NULL, &nType, (BYTE *)&sData[0], &cbRead);
        if (rc == ERROR_SUCCESS) {
            sData.resize(cbRead);
            pValue->sName = sName;
            pValue->nType = nType;
            pValue->sData = sData;
            return true;
        }
        if (rc != ERROR_MORE_DATA) // else it grew in between: ask again
            return false;
    }
    return false;
}

std::vector<Value> ReadValues(HKEY h)
{
    std::vector<Value> aValues;
    DWORD nMaxName = 0;
    LSTATUS rc = RegQueryInfoKeyA(h, NULL, NULL, NULL, NULL, NULL, NULL, NULL, &nMaxName, NULL, NULL, NULL);
    if (rc != ERROR_SUCCESS) {
        ReadFailed(rc);
        return aValues;
    }
    std::vector<char> aName(nMaxName + 1);
    for (DWORD i = 0;; i++) {
        DWORD cch = (DWORD)aName.size();
        rc = RegEnumValueA(h, i, aName.data(), &cch, NULL, NULL, NULL, NULL);
        if (rc != ERROR_SUCCESS) {
            if (rc != ERROR_NO_MORE_ITEMS)
                ReadFailed(rc);
            break;
        }
        Value v;
        if (ReadValue(h, std::string(aName.data(), cch), &v))
            aValues.push_back(v);
        else
            ReadFailed(ERROR_REGISTRY_IO_FAILED);
    }
    return aValues;
}

std::vector<std::string> SubKeys(HKEY h)
{
    std::vector<std::string> aKeys;
    char szName[256];
    for (DWORD i = 0;; i++) {
        DWORD cch = sizeof szName;
        LSTATUS rc = RegEnumKeyExA(h, i, szName, &cch, NULL, NULL, NULL, NULL);
        if (rc != ERROR_SUCCESS) {
            if (rc != ERROR_NO_MORE_ITEMS)
                ReadFailed(rc);
            break;
        }
        aKeys.push_back(std::string(szName, cch));
    }
    return aKeys;
}

// Asks on a terminal; without one the answer is no.
bool Confirm(const std::string &sQuestion)
{
    if (!isatty(0))
        return false;
    fprintf(stderr, "%s (Yes/No)? ", sQuestion.c_str());
    char sz[16];
    if (fgets(sz, sizeof sz, stdin) == nullptr)
        return false;
    return sz[0] == 'y' || sz[0] == 'Y';
}

// Options after the key: /v NAME, /ve, /va, /t TYPE, /s [SEP], /d DATA, /f, /y (also with '-').
struct Options {
    bool bName = false, bDefault = false, bAll = false, bType = false, bSep = false, bData = false;
    bool bForce = false, bRecurse = false, bYes = false;
    std::string sName, sType, sSep, sData;
};

bool ParseOptions(const std::string &sCommand, int argc, char **argv, Options *pOpt, std::string *psError)
{
    for (int i = 0; i < argc; i++) {
        std::string s = argv[i];
        std::string sLower = s;
        for (char &c : sLower)
            c = (char)tolower((unsigned char)c);
        if (!sLower.empty() && sLower[0] == '-')
            sLower[0] = '/';
        bool bHasNext = i + 1 < argc;
        if (sLower == "/v" && bHasNext) {
            pOpt->bName = true;
            pOpt->sName = argv[++i];
        } else if (sLower == "/ve") {
            pOpt->bDefault = true;
        } else if (sLower == "/va" && sCommand == "delete") {
            pOpt->bAll = true;
        } else if (sLower == "/t" && bHasNext && sCommand == "add") {
            pOpt->bType = true;
            pOpt->sType = argv[++i];
        } else if (sLower == "/s" && sCommand == "query") {
            pOpt->bRecurse = true;
        } else if (sLower == "/s" && bHasNext && sCommand == "add") {
            pOpt->bSep = true;
            pOpt->sSep = argv[++i];
        } else if (sLower == "/d" && bHasNext && sCommand == "add") {
            pOpt->bData = true;
            pOpt->sData = argv[++i];
        } else if (sLower == "/f" && (sCommand == "add" || sCommand == "delete")) {
            pOpt->bForce = true;
        } else if (sLower == "/y" && sCommand == "export") {
            pOpt->bYes = true;
        } else {
            *psError = "ERROR: Invalid syntax: " + s;
            return false;
        }
    }
    if ((int)pOpt->bName + (int)pOpt->bDefault + (int)pOpt->bAll > 1) {
        *psError = "ERROR: Give only one of /v, /ve and /va.";
        return false;
    }
    return true;
}

// The value name the options give (code page 1251); false when it cannot be written in it.
bool OptionValueName(const Options &opt, std::string *psName, std::string *psError)
{
    psName->clear();
    if (opt.bName && !ToAnsi(opt.sName, psName)) {
        *psError = "ERROR: The value name has characters that code page 1251 lacks: " + opt.sName;
        return false;
    }
    return true;
}

void PrintKey(HKEY h, const std::string &sDisplay, bool bRecurse)
{
    printf("\n%s\n", sDisplay.c_str());
    for (const Value &v : ReadValues(h))
        printf("%s\n", ValueLine(v).c_str());
    std::vector<std::string> aKeys = SubKeys(h);
    if (!bRecurse) {
        if (!aKeys.empty())
            printf("\n");
        for (const std::string &sKey : aKeys)
            printf("%s\\%s\n", sDisplay.c_str(), Utf8(sKey).c_str());
        return;
    }
    for (const std::string &sKey : aKeys) {
        HKEY hSub;
        LSTATUS rc = RegOpenKeyExA(h, sKey.c_str(), 0, KEY_READ, &hSub);
        if (rc == ERROR_SUCCESS) {
            PrintKey(hSub, sDisplay + "\\" + Utf8(sKey), true);
            RegCloseKey(hSub);
        } else {
            ReadFailed(rc);
        }
    }
}

int Query(const KeyName &key, const Options &opt)
{
    std::string sName, sError;
    if (!OptionValueName(opt, &sName, &sError))
        return Fail(sError);
    HKEY h;
    if (RegOpenKeyExA(key.hRoot, key.sPath.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return Fail(kNotFound);
    int nResult = 0;
    if (opt.bName || opt.bDefault) {
        Value v;
        if (ReadValue(h, sName, &v))
            printf("\n%s\n%s\n\n", key.sDisplay.c_str(), ValueLine(v).c_str());
        else
            nResult = Fail(kNotFound);
    } else {
        PrintKey(h, key.sDisplay, opt.bRecurse);
        printf("\n");
    }
    RegCloseKey(h);
    return nResult;
}

bool ParseNumber(const std::string &s, uint64_t nMax, uint64_t *pn)
{
    if (s.empty())
        return false;
    errno = 0;
    char *pEnd = nullptr;
    unsigned long long n = strtoull(s.c_str(), &pEnd, 0);
    if (errno != 0 || *pEnd != '\0' || s[0] == '-' || n > nMax)
        return false;
    *pn = n;
    return true;
}

// The bytes to store for the data given on the command line; false with a message when they cannot be made.
bool MakeData(DWORD nType, const Options &opt, std::string *psData, std::string *psError)
{
    const std::string &d = opt.sData;
    psData->clear();
    if (nType == REG_SZ || nType == REG_EXPAND_SZ) {
        if (!ToAnsi(d, psData)) {
            *psError = "ERROR: The data has characters that code page 1251 lacks.";
            return false;
        }
        psData->push_back('\0');
        return true;
    }
    if (nType == REG_MULTI_SZ) {
        std::string sSep = opt.bSep ? opt.sSep : "\\0";
        if (sSep.empty()) {
            *psError = "ERROR: The separator is empty.";
            return false;
        }
        size_t nStart = 0;
        while (nStart < d.size()) {
            size_t nEnd = d.find(sSep, nStart);
            if (nEnd == std::string::npos)
                nEnd = d.size();
            std::string sPart;
            if (nEnd == nStart || !ToAnsi(d.substr(nStart, nEnd - nStart), &sPart)) {
                *psError = nEnd == nStart ? "ERROR: REG_MULTI_SZ data may not hold an empty string."
                                          : "ERROR: The data has characters that code page 1251 lacks.";
                return false;
            }
            *psData += sPart;
            psData->push_back('\0');
            nStart = nEnd + sSep.size();
        }
        psData->push_back('\0');
        return true;
    }
    if (nType == REG_DWORD || nType == REG_QWORD || nType == REG_DWORD_BIG_ENDIAN) {
        uint64_t n = 0;
        bool bWide = nType == REG_QWORD;
        if (opt.bData && !ParseNumber(d, bWide ? ~0ull : 0xffffffffull, &n)) {
            *psError =
                std::string("ERROR: Not a number for ") + (bWide ? "REG_QWORD" : "REG_DWORD") + ": " + d;
            return false;
        }
        for (int i = 0; i < (bWide ? 8 : 4); i++)
            psData->push_back((char)(n >> (8 * (nType == REG_DWORD_BIG_ENDIAN ? 3 - i : i))));
        return true;
    }
    // REG_BINARY, REG_NONE and the rest: hexadecimal digits, two for each byte.
    if (d.size() % 2 != 0 || d.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        *psError = "ERROR: The data must be hexadecimal digits, two for each byte: " + d;
        return false;
    }
    for (size_t i = 0; i < d.size(); i += 2)
        psData->push_back((char)strtoul(d.substr(i, 2).c_str(), nullptr, 16));
    return true;
}

int Add(const KeyName &key, const Options &opt)
{
    std::string sName, sError, sData;
    DWORD nType = REG_SZ;
    if (!OptionValueName(opt, &sName, &sError))
        return Fail(sError);
    if (opt.bType && !ParseType(opt.sType, &nType))
        return Fail("ERROR: Invalid type: " + opt.sType);
    if (opt.bSep && nType != REG_MULTI_SZ)
        return Fail("ERROR: /s is only for REG_MULTI_SZ.");
    bool bValue = opt.bName || opt.bDefault || opt.bData || opt.bType;
    if (bValue && !MakeData(nType, opt, &sData, &sError))
        return Fail(sError);
    if (key.sPath.empty() && !bValue)
        return Fail("ERROR: A root key cannot be added.");

    HKEY h;
    LSTATUS rc = RegCreateKeyExA(key.hRoot, key.sPath.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL);
    if (rc != ERROR_SUCCESS)
        return Fail("ERROR: Cannot create the key " + key.sDisplay + " (error " + std::to_string(rc) + ").");
    int nResult = 0;
    if (bValue) {
        DWORD cb = 0;
        bool bExists = RegQueryValueExA(h, sName.c_str(), NULL, NULL, NULL, &cb) == ERROR_SUCCESS;
        std::string sShown = sName.empty() ? "(Default)" : Utf8(sName);
        if (bExists && !opt.bForce && !Confirm("Value " + sShown + " exists, overwrite it")) {
            nResult = Fail("ERROR: The value " + sShown + " exists; give /f to overwrite it.");
        } else {
            rc = RegSetValueExA(h, sName.c_str(), 0, nType, (const BYTE *)sData.data(), (DWORD)sData.size());
            if (rc != ERROR_SUCCESS)
                nResult =
                    Fail("ERROR: Cannot write the value " + sShown + " (error " + std::to_string(rc) + ").");
        }
    }
    RegCloseKey(h);
    if (nResult == 0)
        printf("%s\n", kDone);
    return nResult;
}

// Deletes a key with everything below it; ERROR_SUCCESS or the first error met.
LSTATUS DeleteTree(HKEY hParent, const std::string &sPath)
{
    HKEY h;
    LSTATUS rc = RegOpenKeyExA(hParent, sPath.c_str(), 0, KEY_READ, &h);
    if (rc != ERROR_SUCCESS)
        return rc;
    for (const std::string &sKey : SubKeys(h)) {
        rc = DeleteTree(h, sKey);
        if (rc != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(h);
    return rc == ERROR_SUCCESS ? RegDeleteKeyA(hParent, sPath.c_str()) : rc;
}

int Delete(const KeyName &key, const Options &opt)
{
    std::string sName, sError;
    if (!OptionValueName(opt, &sName, &sError))
        return Fail(sError);
    bool bValues = opt.bName || opt.bDefault || opt.bAll;
    if (key.sPath.empty() && !bValues)
        return Fail("ERROR: A root key cannot be deleted.");
    HKEY h;
    if (RegOpenKeyExA(key.hRoot, key.sPath.c_str(), 0, KEY_READ | KEY_SET_VALUE, &h) != ERROR_SUCCESS)
        return Fail(kNotFound);
    int nResult = 0;
    if (bValues) {
        std::vector<std::string> aNames;
        if (opt.bAll) {
            for (const Value &v : ReadValues(h))
                aNames.push_back(v.sName);
        } else {
            aNames.push_back(sName);
        }
        std::string sWhat = opt.bAll ? "all values under " + key.sDisplay
                                     : "the registry value " + (sName.empty() ? "(Default)" : Utf8(sName));
        DWORD cb;
        if (!opt.bAll && RegQueryValueExA(h, sName.c_str(), NULL, NULL, NULL, &cb) != ERROR_SUCCESS)
            nResult = Fail(kNotFound);
        else if (!opt.bForce && !Confirm("Delete " + sWhat))
            nResult = Fail("ERROR: Not deleted: give /f to delete " + sWhat + ".");
        for (size_t i = 0; nResult == 0 && i < aNames.size(); i++) {
            LSTATUS rc = RegDeleteValueA(h, aNames[i].c_str());
            if (rc != ERROR_SUCCESS)
                nResult = Fail("ERROR: Cannot delete a value (error " + std::to_string(rc) + ").");
        }
        RegCloseKey(h);
    } else {
        RegCloseKey(h);
        if (!opt.bForce && !Confirm("Permanently delete the registry key " + key.sDisplay)) {
            nResult = Fail("ERROR: Not deleted: give /f to delete the key " + key.sDisplay + ".");
        } else {
            LSTATUS rc = DeleteTree(key.hRoot, key.sPath);
            if (rc != ERROR_SUCCESS)
                nResult = Fail("ERROR: Cannot delete the key " + key.sDisplay + " (error " +
                               std::to_string(rc) + ").");
        }
    }
    if (nResult == 0)
        printf("%s\n", kDone);
    return nResult;
}

// The .reg text: "Windows Registry Editor Version 5.00", key sections, one line a value. Strings are
// written as text when that keeps them exactly; everything else as hex bytes, strings of the other string
// types in UTF-16 as the platform stores them.
struct RegWriter {
    std::u16string sOut;
    void Put(const std::string &sAnsi)
    {
        for (unsigned char c : sAnsi)
            sOut.push_back(plat::AnsiToUnicode(c));
    }
    void PutHex(const std::string &sPrefix, const std::string &sBytes)
    {
        Put(sPrefix);
        size_t nColumn = sPrefix.size();
        char sz[8];
        for (size_t i = 0; i < sBytes.size(); i++) {
            snprintf(sz, sizeof sz, i + 1 < sBytes.size() ? "%02x," : "%02x", (unsigned char)sBytes[i]);
            Put(sz);
            nColumn += strlen(sz);
            if (nColumn > 76 && i + 1 < sBytes.size()) {
                Put("\\\r\n  ");
                nColumn = 2;
            }
        }
        Put("\r\n");
    }
};

std::string Quoted(const std::string &s)
{
    std::string sOut = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            sOut += '\\';
        sOut += c;
    }
    return sOut + "\"";
}

std::string Utf16Bytes(const std::string &sAnsi)
{
    std::string sBytes;
    for (unsigned char c : sAnsi) {
        char16_t w = plat::AnsiToUnicode(c);
        sBytes.push_back((char)(w & 0xff));
        sBytes.push_back((char)(w >> 8));
    }
    return sBytes;
}

void ExportValue(RegWriter &w, const Value &v)
{
    std::string sName = v.sName.empty() ? "@" : Quoted(v.sName);
    const std::string &d = v.sData;
    char sz[32];
    bool bPlain = v.nType == REG_SZ && !d.empty() && d.back() == '\0' && d.find('\0') == d.size() - 1 &&
                  d.find_first_of("\r\n") == std::string::npos;
    if (bPlain) {
        w.Put(sName + "=" + Quoted(d.substr(0, d.size() - 1)) + "\r\n");
    } else if (v.nType == REG_DWORD && d.size() == 4) {
        uint32_t n;
        memcpy(&n, d.data(), 4);
        snprintf(sz, sizeof sz, "=dword:%08x\r\n", n);
        w.Put(sName + sz);
    } else if (v.nType == REG_BINARY) {
        w.PutHex(sName + "=hex:", d);
    } else {
        bool bString = v.nType == REG_SZ || v.nType == REG_EXPAND_SZ || v.nType == REG_MULTI_SZ;
        snprintf(sz, sizeof sz, "=hex(%x):", (unsigned)v.nType);
        w.PutHex(sName + sz, bString ? Utf16Bytes(d) : d);
    }
}

void ExportKey(RegWriter &w, HKEY h, const std::string &sPath)
{
    w.Put("\r\n[" + sPath + "]\r\n");
    for (const Value &v : ReadValues(h))
        ExportValue(w, v);
    for (const std::string &sKey : SubKeys(h)) {
        HKEY hSub;
        LSTATUS rc = RegOpenKeyExA(h, sKey.c_str(), 0, KEY_READ, &hSub);
        if (rc == ERROR_SUCCESS) {
            ExportKey(w, hSub, sPath + "\\" + sKey);
            RegCloseKey(hSub);
        } else {
            ReadFailed(rc);
        }
    }
}

int Export(const KeyName &key, const std::string &sFile, const Options &opt)
{
    HKEY h;
    if (RegOpenKeyExA(key.hRoot, key.sPath.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return Fail(kNotFound);
    RegWriter w;
    w.sOut.push_back(0xfeff);
    w.Put("Windows Registry Editor Version 5.00\r\n");
    std::string sRoot;
    for (const Root &r : kRoots)
        if (r.hKey == key.hRoot)
            sRoot = r.pszLong;
    ExportKey(w, h, key.sPath.empty() ? sRoot : sRoot + "\\" + key.sPath);
    w.Put("\r\n");
    RegCloseKey(h);
    if (nReadError != ERROR_SUCCESS) // a part could not be read: no file that looks whole
        return Fail("ERROR: Cannot read the registry (error " + std::to_string(nReadError) + ").");

    if (access(sFile.c_str(), F_OK) == 0 && !opt.bYes && !Confirm("File " + sFile + " exists, overwrite it"))
        return Fail("ERROR: The file " + sFile + " exists; give /y to overwrite it.");
    std::string sBytes;
    for (char16_t c : w.sOut) {
        sBytes.push_back((char)(c & 0xff));
        sBytes.push_back((char)(c >> 8));
    }
    FILE *f = fopen(sFile.c_str(), "wb");
    bool bOk = f != nullptr && fwrite(sBytes.data(), 1, sBytes.size(), f) == sBytes.size();
    int nErrno = errno;
    if (f != nullptr && fclose(f) != 0 && bOk) {
        bOk = false;
        nErrno = errno;
    }
    if (!bOk)
        return Fail("ERROR: Cannot write " + sFile + ": " + strerror(nErrno));
    printf("%s\n", kDone);
    return 0;
}

} // namespace

int Run(int argc, char **argv);

// A listing that missed a part, or a machine folder found damaged on the way, fails the command.
int main(int argc, char **argv)
{
    int nResult = Run(argc, argv);
    if (nResult == 0 && nReadError != ERROR_SUCCESS)
        nResult = Fail("ERROR: Cannot read the registry (error " + std::to_string(nReadError) + ").");
    return nResult == 0 && plat::MachineDamageReported() ? 1 : nResult;
}

int Run(int argc, char **argv)
{
    if (argc < 3)
        return Usage();
    std::string sCommand = argv[1];
    for (char &c : sCommand)
        c = (char)tolower((unsigned char)c);
    KeyName key;
    Options opt;
    std::string sError;
    if (sCommand != "query" && sCommand != "add" && sCommand != "delete" && sCommand != "export")
        return Usage();
    if (!ParseKey(argv[2], &key, &sError))
        return Fail(sError);
    // A machine folder without its drive C: is damaged though its registry may be sound: what it holds can
    // still be read (the command then fails all the same), nothing is changed in it.
    if (plat::DriveCMissing() && (sCommand == "add" || sCommand == "delete"))
        return 1;
    if (sCommand == "export") {
        if (argc < 4 || !ParseOptions(sCommand, argc - 4, argv + 4, &opt, &sError))
            return argc < 4 ? Usage() : Fail(sError);
        return Export(key, argv[3], opt);
    }
    if (!ParseOptions(sCommand, argc - 3, argv + 3, &opt, &sError))
        return Fail(sError);
    if (sCommand == "query")
        return Query(key, opt);
    if (sCommand == "add")
        return Add(key, opt);
    return Delete(key, opt);
}
