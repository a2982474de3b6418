#pragma once
// Reads a CSV file back with an independent reader: Python's csv module
// (strict, UTF-8), started as a program of its own. Also says whether every
// line ends with CRLF and whether the file starts with a byte-order mark.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>

#include <map>
#include <string>
#include <vector>

struct PythonCsv {
    bool read = false;      // python3 read the whole file as strict CSV
    std::string error;      // what it said otherwise
    bool crlfOnly = false;  // every line, the last included, ends with CRLF
    bool bom = false;
    std::vector<std::string> header;
    std::vector<std::map<std::string, std::string>> rows;  // by header name

    const std::string& at(size_t row, const std::string& column) const { return rows.at(row).at(column); }
};

inline PythonCsv ReadCsvWithPython(const QString& path)
{
    static const char kScript[] = R"(
import csv, json, sys
raw = open(sys.argv[1], 'rb').read()
out = {'bom': raw.startswith(b'\xef\xbb\xbf'),
       'crlf': raw.endswith(b'\r\n') and raw.count(b'\n') == raw.count(b'\r\n')}
with open(sys.argv[1], newline='', encoding='utf-8') as f:
    rows = list(csv.reader(f, strict=True))
out['header'] = rows[0] if rows else []
out['rows'] = rows[1:]
if any(len(r) != len(out['header']) for r in out['rows']):
    sys.exit('a line has another number of fields than the header')
print(json.dumps(out))
)";
    PythonCsv result;
    QProcess p;
    p.start("python3", {"-c", kScript, path});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        result.error = (p.errorString() + ": " + QString::fromUtf8(p.readAllStandardError())).toStdString();
        return result;
    }
    const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    result.read = true;
    result.bom = o["bom"].toBool();
    result.crlfOnly = o["crlf"].toBool();
    for (const QJsonValue& h : o["header"].toArray())
        result.header.push_back(h.toString().toStdString());
    for (const QJsonValue& r : o["rows"].toArray()) {
        std::map<std::string, std::string> row;
        const QJsonArray fields = r.toArray();
        for (qsizetype i = 0; i < fields.size() && size_t(i) < result.header.size(); ++i)
            row[result.header[size_t(i)]] = fields[i].toString().toStdString();
        result.rows.push_back(std::move(row));
    }
    return result;
}
