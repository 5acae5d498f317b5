// fuzzkit.h - what the fuzz targets share: a machine of their own.
#ifndef FUZZKIT_H
#define FUZZKIT_H

// Makes a new, empty machine folder under $TMPDIR (or /tmp) and points PLAT_ROOT at it, for the rest of the
// process; aborts when it cannot. Called once, from LLVMFuzzerInitialize.
void FuzzMachine(void);

#endif
