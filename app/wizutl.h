// wizutl.h - the wizard's utilities for the application: building a page list.
#pragma once

#include "wizard.h"

// Makes pPages an empty list: record 0 becomes the final page.
void WizPagesInit(WizPage *pPages);
// Adds a page of kind nKind before the final page of a list held in an array of nSize records. Returns the
// new record, whose fields other than nKind the caller fills in; null when the array is full (the list is
// then unchanged).
WizPage *WizPagesAdd(WizPage *pPages, int nKind, int nSize);
