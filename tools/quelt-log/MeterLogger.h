#pragma once
// What the logger does with the meter's frames: decodes each by the program's
// one path (FrameAssembler, then DecodeFrame, the scale set carried from frame
// to frame), counts them from 1, dates them with their arrival, and hands each
// reading on as a CSV line (standard output, flushed per line, or the daily
// files) and as a JSON message to the broker. It keeps the broker's status:
// online while readings come, no-meter after 3 s without one.
#include "Teller.h"

#include "meter/FrameAssembler.h"
#include "meter/ScaleSet.h"
#include "mqtt/MqttPublisher.h"
#include "record/CsvFormat.h"
#include "record/DailyCsvFiles.h"
#include "record/FrameCsvRecords.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <string>

struct Reading;

class MeterLogger : public QObject {
public:
    static constexpr int kSilenceMs = 3000;

    struct Outputs {
        bool csvStdout = false;
        std::unique_ptr<DailyCsvFiles> csvFiles;
        std::unique_ptr<MqttPublisher> mqtt;
    };

    MeterLogger(Outputs outputs, const Teller& teller, QObject* parent = nullptr);
    ~MeterLogger() override;

    // Starts the broker's connection and the silence watch.
    void start();

    // Bytes from a serial port, and frame texts from the USB cable.
    void feedBytes(const uint8_t* data, size_t size);
    void feedFrame(const std::string& frameText);
    // The port or cable was opened or lost: silence is counted from here.
    void sourceChanged(bool open);

    // Writes and syncs the CSV lines, sends what is queued to the broker for
    // at most `brokerMs` and says "offline" there.
    void finish(int brokerMs);

    uint64_t frames() const { return records_.count(); }

private:
    void frame(const std::string& frameText);
    void record(const Reading& r);

    Outputs out_;
    const Teller& teller_;
    FrameAssembler assembler_;
    ScaleSet scale_ = ScaleSet::Set6();
    FrameCsvRecords records_;
    bool toldBadFrame_ = false;
    std::string line_;
    QTimer silence_;
    bool finished_ = false;
};
