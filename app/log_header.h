// What the head of the run's log says for an administrator: how the installer was started,
// by whom, with what rights, in which session, and what it will ask the network for.
#pragma once

#include "win/wide_string.h"

// The command line as the log shows it: the program, then each argument only as its length
// (the first is passed on to the setup and may carry a key; the log is readable by every
// user). E.g. "Z:\dl\ZunoOnlineSetup.exe" [16 characters].
[[nodiscard]] WideString CommandLineForLog(const wchar_t* command_line);

// Traces those lines; the run's log holds them right after its own head.
void TraceRunHeader();
