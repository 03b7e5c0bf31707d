#include "localconnection/BoxQueue.h"

#include "localconnection/Trace.h"

#include <windows.h>

#include <atomic>

namespace lc {

namespace {

void showBox(const char* caption, const char* text)
{
    traceBox(caption, text);
    MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONERROR);
}

std::atomic<ReportSink> g_sink{showBox};

} // namespace

void setReportSink(ReportSink sink)
{
    g_sink.store(sink ? sink : showBox);
}

void report(const char* caption, const char* text)
{
    g_sink.load()(caption, text);
}

void BoxQueue::showAll()
{
    for (const auto& [text, caption] : boxes_)
        report(caption, text.c_str());
    boxes_.clear();
}

} // namespace lc
