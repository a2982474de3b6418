// quelt-mktable PATH: creates an empty reading log table with the seven
// fields the program records (No, Time, DC/AC, Value, Unit, AUTO, Nval).
#include "record/ParadoxTable.h"
#include "record/Recorder.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2 || std::string(argv[1]).empty()) {
        std::fprintf(stderr, "usage: quelt-mktable PATH\n");
        return 2;
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
