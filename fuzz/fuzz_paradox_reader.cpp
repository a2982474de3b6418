// libFuzzer target: the Paradox table reader must turn any bytes into either
// a table or a ParadoxError, never a crash, a hang or a huge allocation.
#include "record/paradox/ParadoxTable.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        paradox::Table t = paradox::readTable(std::span<const uint8_t>(data, size), "fuzz");
        // Touch every field of every record through the value readers.
        size_t sum = 0;
        for (size_t i = 0; i < t.rows.size(); ++i)
            for (const paradox::Field& f : t.schema.fields) {
                sum += paradox::getText(t.rows.row(i), f).size();
                sum += paradox::getInteger(t.rows.row(i), f).has_value();
                sum += paradox::getFloat(t.rows.row(i), f).has_value();
                sum += paradox::getLogical(t.rows.row(i), f).has_value();
            }
        volatile size_t sink = sum;
        (void)sink;
    } catch (const paradox::ParadoxError&) {
    }
    return 0;
}
