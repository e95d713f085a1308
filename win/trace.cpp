#include "win/trace.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>

#include "win/wide_string.h"

namespace {
std::atomic<TraceSink> g_sink{nullptr};
std::atomic<TraceSink> g_log{nullptr};
}

void DebugTrace(const wchar_t* format, ...) {
  wchar_t line[kTraceCapacity];
  va_list args;
  va_start(args, format);
  FormatInto(line, kTraceCapacity, format, args);
  va_end(args);
  ::OutputDebugStringW(line);
  if (TraceSink sink = g_sink.load()) sink(line);
  if (TraceSink log = g_log.load()) log(line);
}

TraceSink SetTraceSinkForTesting(TraceSink sink) { return g_sink.exchange(sink); }
void SetTraceLog(TraceSink sink) { g_log.store(sink); }
