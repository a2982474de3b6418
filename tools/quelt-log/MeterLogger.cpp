#include "MeterLogger.h"

#include "meter/FrameDecoder.h"
#include "meter/Reading.h"
#include "record/JsonFormat.h"

#include <QDateTime>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string_view>

MeterLogger::MeterLogger(Outputs outputs, const Teller& teller, QObject* parent)
    : QObject(parent),
      out_(std::move(outputs)),
      teller_(teller)
{
    assembler_.onFrame = [this](const std::string& frameText) { frame(frameText); };
    silence_.setSingleShot(true);
    silence_.setInterval(kSilenceMs);
    silence_.callOnTimeout(this, [this] {
        if (out_.mqtt)
            out_.mqtt->setStatus(MqttPublisher::Status::NoMeter);
    });
    if (out_.csvFiles)
        out_.csvFiles->onFailure = [this](const std::string& path, int error) {
            teller_.problem("cannot write the CSV file " + path + ": " + std::strerror(error) +
                            "; its lines are kept and written when it works again");
        };
    if (out_.mqtt)
        out_.mqtt->onNotice = [this](const std::string& line) { teller_.problem(line); };
}

MeterLogger::~MeterLogger() = default;

void MeterLogger::start()
{
    if (out_.csvStdout) {
        const std::string_view header = csvHeader();
        std::fwrite(header.data(), 1, header.size(), stdout);
        std::fflush(stdout);
    }
    if (out_.mqtt)
        out_.mqtt->start();
    silence_.start();
}

void MeterLogger::feedBytes(const uint8_t* data, size_t size)
{
    // Byte by byte, so a frame that fails to decode costs no more than it
    // does in the window (the run after it).
    for (size_t i = 0; i < size; ++i)
        assembler_.RECEIVE_COM_Data(data + i, 1);
}

void MeterLogger::feedFrame(const std::string& frameText)
{
    frame(frameText);
}

void MeterLogger::sourceChanged(bool)
{
    silence_.start();
}

void MeterLogger::frame(const std::string& frameText)
{
    const DecodedFrame d = DecodeFrame(frameText, scale_);
    if (d.failure != FrameFailure::None) {
        // Told once, and again only after a good frame came between.
        if (!toldBadFrame_) {
            try {
                d.ThrowIfFailed();
            } catch (const std::exception& e) {
                teller_.problem(std::string("a frame cannot be decoded: ") + e.what());
            }
            toldBadFrame_ = true;
        }
        return;
    }
    toldBadFrame_ = false;
    scale_ = d.scale;
    record(d.reading);
}

void MeterLogger::record(const Reading& r)
{
    const CsvReading& line = records_.next(r, QDateTime::currentMSecsSinceEpoch());
    if (out_.csvStdout || out_.csvFiles) {
        line_.clear();
        appendCsvLine(line_, line, records_.stamps());
        if (out_.csvStdout) {
            std::fwrite(line_.data(), 1, line_.size(), stdout);
            std::fflush(stdout);
        }
        if (out_.csvFiles)
            out_.csvFiles->addDatedLine(line_);
    }
    if (out_.mqtt) {
        out_.mqtt->setStatus(MqttPublisher::Status::Online);
        std::string payload;
        appendJsonReading(payload, line, records_.stamps());
        out_.mqtt->publishReading(std::move(payload));
    }
    silence_.start();
}

void MeterLogger::finish(int brokerMs)
{
    if (finished_)
        return;
    finished_ = true;
    silence_.stop();
    std::fflush(stdout);
    if (out_.csvFiles) {
        const size_t lost = out_.csvFiles->stop();
        if (lost > 0)
            teller_.problem(std::to_string(lost) + " bytes of CSV lines could not be written to " +
                            out_.csvFiles->folder());
    }
    if (out_.mqtt) {
        const size_t undelivered = out_.mqtt->finish(brokerMs);
        if (undelivered > 0)
            teller_.problem(std::to_string(undelivered) + " readings could not be delivered to the broker");
    }
}
