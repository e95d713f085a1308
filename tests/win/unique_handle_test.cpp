#include "win/unique_handle.h"

#include <gtest/gtest.h>

#include "win/device_context.h"

namespace {

bool IsOpen(HANDLE handle) {
  DWORD flags = 0;
  return ::GetHandleInformation(handle, &flags) != FALSE;
}

TEST(UniqueHandle, ClosesOnResetAndOnMoveAssignment) {
  HANDLE first = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE second = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(first && second);
  {
    win::UniqueKernelHandle a(first);
    win::UniqueKernelHandle b(second);
    a = std::move(b);  // the old `first` is closed, `second` changes owner
    EXPECT_FALSE(IsOpen(first));
    EXPECT_TRUE(IsOpen(second));
    EXPECT_FALSE(b.valid());
    EXPECT_EQ(second, a.get());
  }
  EXPECT_FALSE(IsOpen(second));
}

TEST(UniqueHandle, ResetKeepsTheCallersLastError) {
  win::UniqueKernelHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  event.reset();
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());
}

TEST(UniqueHandle, FileHandlesUseInvalidHandleValueAsEmpty) {
  win::UniqueFile missing(::CreateFileW(L"C:\\no\\such\\file.zuno", GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_FALSE(missing.valid());
  EXPECT_EQ(INVALID_HANDLE_VALUE, missing.get());
  win::UniqueFile empty;
  EXPECT_FALSE(empty.valid());
  win::UniqueKernelHandle none;
  EXPECT_EQ(nullptr, none.get());
}

TEST(UniqueHandle, ReleaseGivesUpOwnershipWithoutClosing) {
  HANDLE raw = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  {
    win::UniqueKernelHandle owner(raw);
    EXPECT_EQ(raw, owner.release());
  }
  EXPECT_TRUE(IsOpen(raw));
  ::CloseHandle(raw);
}

// A bitmap selected for a scope is free again after it (a selected bitmap cannot be deleted),
// and the context holds the one it had before.
TEST(SelectedObject, GivesTheContextBackItsPreviousObject) {
  const win::WindowDc screen(nullptr);
  const win::UniqueMemoryDc memory(::CreateCompatibleDC(screen.get()));
  win::UniqueGdiObject bitmap(::CreateCompatibleBitmap(screen.get(), 4, 4));
  ASSERT_TRUE(memory && bitmap);
  const HGDIOBJ before = ::GetCurrentObject(memory.get(), OBJ_BITMAP);
  {
    const win::SelectedObject selected(memory.get(), bitmap.get());
    ASSERT_TRUE(selected.valid());
    EXPECT_EQ(::GetCurrentObject(memory.get(), OBJ_BITMAP), bitmap.get());
  }
  EXPECT_EQ(::GetCurrentObject(memory.get(), OBJ_BITMAP), before);
  EXPECT_TRUE(::DeleteObject(bitmap.release()));
}

}  // namespace
