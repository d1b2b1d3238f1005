// What the Windows program needs for a batch run: its key events need no
// tables, and the console's own handler takes its signals.
#include "programs/main_startup.h"

void batchKeysInit() {}

void batchSignalsInit() {}
