// wizutl.h - the wizard's utilities for the application: its configuration from the string table, building
// a page list, and the result report that the installation steps write into.
#pragma once

#include "wizard.h"

// Fills pConfig from six consecutive texts of the string table starting at nFirstId, in the order of the
// record: the title, Back, Next, Finish, Cancel and Close (a text that does not load gives handle 0). The
// handles belong to the resource table.
void WizConfigLoad(WizConfig *pConfig, int nFirstId);

// Makes pPages an empty list: record 0 becomes the final page.
void WizPagesInit(WizPage *pPages);
// Adds a page of kind nKind before the final page of a list held in an array of nSize records. Returns the
// new record, whose fields other than nKind the caller fills in; null when the array is full (the list is
// then unchanged).
WizPage *WizPagesAdd(WizPage *pPages, int nKind, int nSize);

// The result report: a header text followed by one message text per problem met. It is in order while the
// header in force is the one it was started with.
struct WizResult {
    int nInitial; // text id of the header the report was started with
    int nHeader;  // text id of the header in force
    int hReport;  // the report text, owned by the resource handle table; 0 when no text could be loaded
};

void WizResultInit(WizResult *pRes, int nHeader);
// Makes nHeader the header in force (a new header discards the messages under the old one) and, unless
// nMessage is 0, appends that message with its "%s" replaced by szArg (the empty string when null).
void WizResultAdd(WizResult *pRes, int nHeader, int nMessage, const char *szArg);
int WizResultText(const WizResult *pRes); // the report text's handle, still owned by the table
int WizResultOk(const WizResult *pRes);
