// The program's own activation context, which gives its windows Common Controls 6 (the themed
// controls). The process manifest names no dependent assembly: Windows resolves those as the
// process is created, before the program's first instruction, and looks for them in the
// program's folder first (`<exe>.local`, a private assembly beside the exe). The installer runs
// elevated from a folder its user can write to, so this context is made from a manifest of its
// own instead, with the application's name and the assembly directory in the system directory:
// nothing is looked for where a user can write.
#pragma once

#include <windows.h>

namespace win {

// Makes the program's context from the manifest resource `resource_id` of `module`, once per
// process (a later call keeps the first), on the main thread before the first window. It is
// kept until the process ends. False when it cannot be made: the windows then get the
// system's default controls.
[[nodiscard]] bool MakeProgramContext(HMODULE module, WORD resource_id) noexcept;

// The program's context, or null when none was made.
[[nodiscard]] HANDLE ProgramContext() noexcept;

// Activates the program's context on the calling thread while it lives (nothing when there is
// none). Every thread that makes windows or message boxes holds one.
class ProgramContextScope {
 public:
  ProgramContextScope() noexcept;
  ProgramContextScope(const ProgramContextScope&) = delete;
  ProgramContextScope& operator=(const ProgramContextScope&) = delete;
  ~ProgramContextScope();

 private:
  ULONG_PTR cookie_ = 0;
  bool active_ = false;
};

}  // namespace win
