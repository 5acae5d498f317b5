// checkedcalls.cpp - the page docs/checked-calls.md, written from the one list of checked calls
// (plat/checkedcalls.h) by faultsweep --checked-calls; the test checked_calls_drift compares the two.

#include "faultsweep.h"

namespace faultsweep
{

// The names of the errors the list gives, for the page's reader.
static const char *ErrorName(unsigned n)
{
    static const std::map<unsigned, const char *> kNames = {
        {2, "ERROR_FILE_NOT_FOUND"},
        {3, "ERROR_PATH_NOT_FOUND"},
        {5, "ERROR_ACCESS_DENIED"},
        {6, "ERROR_INVALID_HANDLE"},
        {17, "ERROR_NOT_SAME_DEVICE"},
        {23, "ERROR_CRC"},
        {31, "ERROR_GEN_FAILURE"},
        {32, "ERROR_SHARING_VIOLATION"},
        {33, "ERROR_LOCK_VIOLATION"},
        {38, "ERROR_HANDLE_EOF"},
        {59, "ERROR_UNEXP_NET_ERR"},
        {80, "ERROR_FILE_EXISTS"},
        {87, "ERROR_INVALID_PARAMETER"},
        {112, "ERROR_DISK_FULL"},
        {145, "ERROR_DIR_NOT_EMPTY"},
        {183, "ERROR_ALREADY_EXISTS"},
        {206, "ERROR_FILENAME_EXCED_RANGE"},
        {1010, "ERROR_BADKEY"},
        {1011, "ERROR_CANTOPEN"},
        {1016, "ERROR_REGISTRY_IO_FAILED"},
        {1018, "ERROR_KEY_DELETED"},
        {1450, "ERROR_NO_SYSTEM_RESOURCES"},
    };
    auto it = kNames.find(n);
    return it != kNames.end() ? it->second : "(no name here)";
}

// Text for a table cell: '|' and '*' escaped.
static std::string Cell(const std::string &s)
{
    std::string r;
    for (char c : s) {
        if (c == '|' || c == '*')
            r += '\\';
        r += c;
    }
    return r;
}

int PrintCheckedCallsPage()
{
    printf("# Checked calls\n\n");
    printf("<!-- Made from plat/include/plat/checkedcalls.h by `faultsweep --checked-calls > "
           "docs/checked-calls.md`;\n     the test checked_calls_drift fails while the two differ. -->\n\n");
    printf(
        "The calls of `plat/` that check the fault switch, one list in `plat/include/plat/checkedcalls.h`. "
        "Each check is\none checked call, numbered in the process (`PLAT_FAULT_AT`, `PLAT_FAULT_CUT`, "
        "`PLAT_FAULT_TRACE`). An entry of\n`PLAT_FAULT` names one of these calls, or `*` for all of them; an "
        "entry naming any other call ends the\nprogram with exit code 2 and a message on stderr, rather than "
        "letting it run without the fault. A call\nthe switch fails returns what the table says; its "
        "pattern is matched without case against the text in the\nfourth column. The fault sweep fails each "
        "call with the errors of the last column, in turn over the call's\noccurrences.\n\n");
    printf("| call | unit of plat/ | fails with | the pattern matches | errors the sweep gives |\n");
    printf("|---|---|---|---|---|\n");
    std::set<unsigned> used;
    for (const plat::CheckedCall &c : plat::CheckedCallList()) {
        std::string sErrors;
        for (unsigned n : c.aErrors) {
            sErrors += (sErrors.empty() ? "" : ", ") + std::to_string(n);
            used.insert(n);
        }
        printf("| `%s` | %s | %s | %s | %s |\n", c.pszName, c.pszUnit, plat::FailsText(c.fails),
               Cell(c.pszMatched).c_str(), sErrors.c_str());
    }
    printf("\nThe errors:\n\n| error | name |\n|---|---|\n");
    for (unsigned n : used)
        printf("| %u | %s |\n", n, ErrorName(n));
    return ferror(stdout) ? 1 : 0;
}

} // namespace faultsweep
