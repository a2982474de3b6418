#pragma once
// The window's components as tests, benchmarks and fuzz targets see them: the
// one place that reaches past the window's own interface. Header-only, so it
// needs no test framework. Users include the window's generated ui header.
#include "app/TFCOMM.h"

struct WindowParts {
    explicit WindowParts(TFCOMM& w)
        : ui(w.ui),
          errors(w.errors),
          COMM2(w.COMM2),
          assembler(w.assembler),
          indicator(w.indicator),
          HidCtl(w.HidCtl),
          usbLink(w.usbLink),
          reading(w.reading),
          scale(w.scale),
          limits(w.limits),
          chart(w.chart),
          chartView(w.chartView),
          profile(w.profile),
          attachedRoutine(w.attachedRoutine),
          readingTable(w.readingTable),
          readingLog(w.readingLog),
          journal(w.journal),
          recorderState(w.recorderState),
          scaleView(w.scaleView),
          ConTimer(w.ConTimer),
          Trecord(w.Trecord),
          csvLog(w.csvLog_),
          dataFiles(w.dataFiles_),
          csvExport(w.csvExport_)
    {
    }

    Ui::TFCOMM* ui;
    ErrorReport& errors;
    TSerialPortDriver& COMM2;
    FrameAssembler& assembler;
    ConnectionIndicator& indicator;
    THidDeviceController& HidCtl;
    UsbCableLink& usbLink;
    Reading& reading;
    ScaleSet& scale;
    LimitState& limits;
    TrendChart& chart;
    TrendChartView* chartView;
    MeterProfile& profile;
    ReceiveRoutine& attachedRoutine;
    ReadingTable& readingTable;
    ReadingLog& readingLog;
    ReadingJournal& journal;
    RecorderState& recorderState;
    ScaleView* scaleView;
    QTimer& ConTimer;
    QTimer& Trecord;
    CsvLog& csvLog;
    DataFiles& dataFiles;
    CsvExport& csvExport;
};

// The parts of `w`; a const window's too, for tests that only look.
inline WindowParts Parts(TFCOMM& w) { return WindowParts(w); }
inline WindowParts Parts(const TFCOMM& w) { return WindowParts(const_cast<TFCOMM&>(w)); }
