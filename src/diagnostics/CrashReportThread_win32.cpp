#include "diagnostics/CrashReportThread.h"

void PrepareThreadForCrashReports() {}
