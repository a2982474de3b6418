// quelt-mktable PATH: creates an empty reading log table with the seven
// fields the program records (No, Time, DC/AC, Value, Unit, AUTO, Nval).
#include "record/ParadoxTable.h"

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
        using namespace paradox;
        const Schema schema = Schema::make({
            {"No", ftLong, 0},
            {"Time", ftTime, 0},
            {"DC/AC", ftAlpha, 2},
            {"Value", ftAlpha, 6},
            {"Unit", ftAlpha, 2},
            {"AUTO", ftAlpha, 4},
            {"Nval", ftNumber, 0},
        });
        writeTableFile(argv[1], schema, RowStore(schema.recordSize));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quelt-mktable: %s\n", e.what());
        return 2;
    }
    return 0;
}
