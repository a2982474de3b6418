#pragma once
// A reading log with records for the report tests, and what poppler's tools
// read back from a PDF file.
#include "report/ReadingReport.h"
#include "report/ReportPrintJob.h"
#include "record/Recorder.h"
#include "support/RunUntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTime>
#include <QXmlStreamReader>

#include <memory>
#include <vector>

// An open log table in a folder of its own.
struct LogTable {
    QTemporaryDir dir;
    ReadingTable table;

    explicit LogTable(int records = 0)
    {
        const std::string path = QDir(dir.path()).filePath("Queltdb.DB").toStdString();
        paradox::writeTableFile(path, ReadingLogSchema(), paradox::RowStore(ReadingLogSchema().recordSize));
        table.setTableName(path);
        table.open();
        for (int i = 1; i <= records; ++i)
            add(i);
    }

    // Record i: No i, 12:00:00 plus i seconds, "DC", "1.234", "k*", "MANU".
    void add(int i, const char* value = "1.234")
    {
        table.append();
        table.setFieldInteger("No", i);
        table.setFieldTime("Time", QTime(12, 0).addSecs(i));
        table.setFieldString("DC/AC", "DC");
        table.setFieldString("Value", value);
        table.setFieldString("Unit", "k*");
        table.setFieldString("AUTO", "MANU");
        table.setFieldFloat("Nval", 1234);
        table.post();
    }

    QString path(const char* name) const { return QDir(dir.path()).filePath(QString::fromLatin1(name)); }
};

// Writes every page of a report into a PDF file and waits for the job.
inline ReportPrintJob::Outcome SaveReportPdf(std::shared_ptr<const ReadingReport> report, const QString& path,
                                             QString* error = nullptr)
{
    const int pages = report->pageCount();
    std::unique_ptr<ReportPrintJob> job(ReportPrintJob::toPdfFile(std::move(report), path, ReportPrintJob::allPages(pages)));
    bool over = false;
    ReportPrintJob::Outcome outcome{};
    QObject::connect(job.get(), &ReportPrintJob::finished, [&](ReportPrintJob::Outcome o, const QString& e) {
        over = true;
        outcome = o;
        if (error)
            *error = e;
    });
    job->start();
    EXPECT_TRUE(RunUntil([&] { return over; }, 60000));
    return outcome;
}

inline QString RunTool(const QString& tool, const QStringList& args)
{
    QProcess p;
    p.start(tool, args);
    EXPECT_TRUE(p.waitForFinished(60000)) << tool.toStdString();
    EXPECT_EQ(p.exitCode(), 0) << tool.toStdString() << ": " << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

inline int PdfPages(const QString& pdf)
{
    for (const QString& line : RunTool("pdfinfo", {pdf}).split('\n'))
        if (line.startsWith("Pages:"))
            return line.mid(6).trimmed().toInt();
    return -1;
}

// A word as pdftotext places it, in millimetres from the paper's top-left corner.
struct PdfWord {
    int page;  // from 1
    double left, top, right, bottom;
    QString text;
};

inline std::vector<PdfWord> PdfWords(const QString& pdf)
{
    std::vector<PdfWord> words;
    QXmlStreamReader xml(RunTool("pdftotext", {"-bbox", pdf, "-"}));
    int page = 0;
    auto mm = [&](const char* name) { return xml.attributes().value(QString::fromLatin1(name)).toDouble() * 25.4 / 72; };
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"page")
            ++page;
        else if (xml.name() == u"word") {
            PdfWord w{page, mm("xMin"), mm("yMin"), mm("xMax"), mm("yMax"), {}};
            w.text = xml.readElementText();
            words.push_back(w);
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return words;
}
