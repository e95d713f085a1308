// Trace lines for a debugger (and the run's log): fixed texts, no levels, no time stamps.
#pragma once

// Capacity of one trace line in wide characters, terminator included.
constexpr int kTraceCapacity = 4096;

// printf-style: %s takes a wide string, %d a signed 32-bit integer. The line goes to the
// debugger output as one message; output longer than 4095 characters is cut. Safe from any
// thread: each call formats into its own buffer.
void DebugTrace(const wchar_t* format, ...);

// Receives each trace line as well, for tests. Null removes it. Returns the previous sink.
using TraceSink = void (*)(const wchar_t* line);
TraceSink SetTraceSinkForTesting(TraceSink sink);

// Receives each trace line as well: the run's log. Null removes it.
void SetTraceLog(TraceSink sink);
