// Security descriptors for tests, from their SDDL text.
#pragma once

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include "win/unique_handle.h"

namespace test {

inline win::UniqueLocalMemory Descriptor(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
  return win::UniqueLocalMemory(descriptor);
}

// What the installer makes its log folder with: Administrators' and SYSTEM's, everyone reading.
constexpr wchar_t kProtectedFolder[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;RC;;;OW)(A;OICI;FRFX;;;WD)";

}  // namespace test
