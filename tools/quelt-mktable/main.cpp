// quelt-mktable PATH: creates an empty reading log table with the seven
// fields the program records (No, Time, DC/AC, Value, Unit, AUTO, Nval).
// It never replaces a file that is already there: that may be a log full of
// readings.
#include "record/paradox/ParadoxTable.h"
#include "record/Recorder.h"

#include <cstdio>
#include <exception>
#include <string>
#include <sys/stat.h>

int main(int argc, char** argv)
{
    if (argc != 2 || std::string(argv[1]).empty()) {
        std::fprintf(stderr, "usage: quelt-mktable PATH\n");
        return 2;
    }
    struct stat st {};
    if (::lstat(argv[1], &st) == 0) {
        std::fprintf(stderr, "quelt-mktable: '%s' already exists; not replacing it\n", argv[1]);
        return 1;
    }
    try {
        const paradox::Schema schema = ReadingLogSchema();
        paradox::writeTableFile(argv[1], schema, paradox::RowStore(schema.recordSize));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quelt-mktable: %s\n", e.what());
        return 2;
    }
    return 0;
}
