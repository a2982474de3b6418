// The JSON object of a reading: the CSV line's columns, exact, in their order,
// escaped; and every payload read back by Python's json module.
#include "record/JsonFormat.h"
#include "support/CentralEuropeanTime.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTime>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

struct Case {
    const char* no;
    const char* display;
    const char* unit;
    const char* coupling;
    const char* range;
    const char* json;  // after "ts"
};

class JsonFormatTest : public CentralEuropeanTime {
protected:
    static std::string Payload(const Case& c, int64_t stamp)
    {
        CsvTimestamps stamps;
        CsvReading r;
        r.stamp = stamp;
        r.no = c.no;
        r.display = c.display;
        r.unit = c.unit;
        r.coupling = c.coupling;
        r.range = c.range;
        std::string out;
        appendJsonReading(out, r, stamps);
        return out;
    }
};

const Case kCases[] = {
    {"17", "000.6", "mV", "DC", "AUTO",
     R"("no": 17, "value": 0.0006, "unit": "V", "display": "000.6", "prefix_unit": "mV", "coupling": "DC", "range": "AUTO", "overload": false})"},
    {"1", "-1.234", "k*", "AC", "MANU",
     "\"no\": 1, \"value\": -1234, \"unit\": \"\u03A9\", \"display\": \"-1.234\", \"prefix_unit\": \"k\u03A9\", "
     "\"coupling\": \"AC\", \"range\": \"MANU\", \"overload\": false}"},
    {"2", "0.003", "uA", "DC", "AUTO",
     "\"no\": 2, \"value\": 0.000000003, \"unit\": \"A\", \"display\": \"0.003\", \"prefix_unit\": \"\u00B5A\", "
     "\"coupling\": \"DC\", \"range\": \"AUTO\", \"overload\": false}"},
    {"3", "-0.000", "#", "", "AUTO",  // no negative zero; degrees in real characters
     "\"no\": 3, \"value\": 0, \"unit\": \"\u00B0C\", \"display\": \"-0.000\", \"prefix_unit\": \"\u00B0C\", "
     "\"coupling\": \"\", \"range\": \"AUTO\", \"overload\": false}"},
    {"4", "0.L", "M*", "", "AUTO",  // the overload: no value, the display as the CSV shows it
     "\"no\": 4, \"value\": null, \"unit\": \"\u03A9\", \"display\": \"OL\", \"prefix_unit\": \"M\u03A9\", "
     "\"coupling\": \"\", \"range\": \"AUTO\", \"overload\": true}"},
    {"5", "1A23", "V", "DC", "AUTO",  // no number on the display: no value, but no overload
     R"("no": 5, "value": null, "unit": "V", "display": "1A23", "prefix_unit": "V", "coupling": "DC", "range": "AUTO", "overload": false})"},
    {"6", "12\"3\\", "V\x01", "D\tC\n", "\xE9",  // escaping; a Latin-1 text as UTF-8
     "\"no\": 6, \"value\": null, \"unit\": \"V\\u0001\", \"display\": \"12\\\"3\\\\\", \"prefix_unit\": "
     "\"V\\u0001\", \"coupling\": \"D\\tC\\n\", \"range\": \"\u00E9\", \"overload\": false}"},
    {"007", "5999", "mA", "DC", "AUTO",  // a No that is no JSON number stays a string
     R"("no": "007", "value": 5.999, "unit": "A", "display": "5999", "prefix_unit": "mA", "coupling": "DC", "range": "AUTO", "overload": false})"},
};

}  // namespace

TEST_F(JsonFormatTest, TheObjectHoldsTheCsvColumnsInOrderExactAndEscaped)
{
    const int64_t stamp = QDateTime(QDate(2026, 12, 10), QTime(23, 59, 59, 850)).toMSecsSinceEpoch();
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.display);
        EXPECT_EQ(Payload(c, stamp), std::string("{\"ts\": \"2026-12-10T23:59:59.850+01:00\", ") + c.json);
    }
    EXPECT_EQ(Payload(kCases[0], CsvReading::kUndated), std::string("{\"ts\": null, ") + kCases[0].json);
}

TEST(JsonString, BytesThatAreNoUtf8BecomeTheReplacementCharacter)
{
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"k\u03A9 \u00B5 \u00B0 \U0001F600", "\"k\u03A9 \u00B5 \u00B0 \U0001F600\""},
        {"a\xFF"
         "b",
         "\"a\uFFFDb\""},
        {"\xC3", "\"\uFFFD\""},                      // cut short
        {"\xC0\xAF", "\"\uFFFD\uFFFD\""},            // an overlong '/'
        {"\xED\xA0\x80", "\"\uFFFD\uFFFD\uFFFD\""},  // a surrogate
        {std::string("\0\x7F", 2), "\"\\u0000\\u007f\""},
    };
    for (const auto& c : cases) {
        std::string out;
        appendJsonString(out, c.in);
        EXPECT_EQ(out, c.out);
    }
}

TEST_F(JsonFormatTest, PythonReadsEveryPayloadWithTheValuesExact)
{
    std::string lines;
    for (const Case& c : kCases)
        lines += Payload(c, 1781132399850) + "\n";
    // Numbers are given back as their texts, so the check is exact.
    static const char kScript[] = R"(
import json, sys
out = []
for line in sys.stdin:
    pairs = json.loads(line, object_pairs_hook=lambda p: p, parse_float=str, parse_int=str)
    out.append([[k, v] for k, v in pairs])
print(json.dumps(out))
)";
    QProcess p;
    p.start("python3", {"-c", kScript});
    ASSERT_TRUE(p.waitForStarted());
    p.write(lines.data(), qint64(lines.size()));
    p.closeWriteChannel();
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QJsonArray objects = QJsonDocument::fromJson(p.readAllStandardOutput()).array();
    ASSERT_EQ(objects.size(), qsizetype(std::size(kCases)));
    const QStringList keys = {"ts", "no", "value", "unit", "display", "prefix_unit", "coupling", "range", "overload"};
    for (const QJsonValue& o : objects) {
        QStringList got;
        for (const QJsonValue& pair : o.toArray())
            got << pair.toArray()[0].toString();
        EXPECT_EQ(got, keys);
    }
    auto field = [&](int object, int key) { return objects[object].toArray()[key].toArray()[1]; };
    EXPECT_EQ(field(0, 0).toString(), "2026-06-11T00:59:59.850+02:00");
    EXPECT_EQ(field(0, 2).toString(), "0.0006");
    EXPECT_EQ(field(1, 2).toString(), "-1234");
    EXPECT_EQ(field(2, 5).toString(), "\u00B5A");
    EXPECT_TRUE(field(4, 2).isNull());
    EXPECT_TRUE(field(4, 8).toBool());
    EXPECT_EQ(field(6, 4).toString(), "12\"3\\");
    EXPECT_EQ(field(7, 1).toString(), "007");
}
