// Writes a crash-report archive of the log folder given as the first argument
// to the path given as the second, so that standard tools can check it.

#include "lifetime/CrashReportArchive.h"

int main(int argc, char* argv[]) {
    if (argc != 3) return 2;
    return WriteCrashReportArchive(argv[2], argv[1]) ? 0 : 1;
}
