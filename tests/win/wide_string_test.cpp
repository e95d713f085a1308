#include "win/wide_string.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

size_t FormatIntoArgs(wchar_t* buffer, size_t capacity, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const size_t written = FormatInto(buffer, capacity, format, args);
  va_end(args);
  return written;
}

TEST(WideFormat, PercentSTakesAWideStringAndPercentDASigned32BitInteger) {
  WideString text = WideString::Format(L"%s has %d items, %s", L"Zuno Office Guard", -42,
                                       L"Tiếng Việt");
  EXPECT_STREQ(L"Zuno Office Guard has -42 items, Tiếng Việt", text.c_str());
  EXPECT_EQ(std::wcslen(text.c_str()), text.size());
}

TEST(WideFormat, LaunchFormQuotesThePathAndKeepsTheArgumentVerbatim) {
  WideString line = WideString::Format(L"\"%s\" %s /Vietnamese", L"C:\\Tmp\\0a\\SetupB.exe",
                                       L"two words");
  EXPECT_STREQ(L"\"C:\\Tmp\\0a\\SetupB.exe\" two words /Vietnamese", line.c_str());
}

TEST(WideFormat, FormatIsNeverCutHoweverLongTheOutput) {
  std::wstring long_path(5000, L'x');
  WideString line = WideString::Format(L"\"%s\" %s", long_path.c_str(), L"arg");
  ASSERT_EQ(5000u + 6u, line.size());
  EXPECT_EQ(L'"', line.c_str()[5001]);
  EXPECT_STREQ(L" arg", line.c_str() + 5002);
}

TEST(WideFormat, FormatIntoCutsAtCapacityAndAlwaysTerminates) {
  wchar_t buffer[8];
  std::wmemset(buffer, L'#', 8);
  EXPECT_EQ(7u, FormatIntoArgs(buffer, 8, L"%s", L"0123456789"));
  EXPECT_STREQ(L"0123456", buffer);

  // Exactly capacity - 1 characters fit whole.
  EXPECT_EQ(7u, FormatIntoArgs(buffer, 8, L"%d", 1234567));
  EXPECT_STREQ(L"1234567", buffer);

  // Capacity 1 holds only the terminator; 0 writes nothing at all.
  buffer[0] = L'#';
  EXPECT_EQ(0u, FormatIntoArgs(buffer, 1, L"abc"));
  EXPECT_EQ(L'\0', buffer[0]);
  buffer[0] = L'#';
  EXPECT_EQ(0u, FormatIntoArgs(buffer, 0, L"abc"));
  EXPECT_EQ(L'#', buffer[0]);
}

TEST(WideStringTest, CopiesAreOwnedAndNullGivesEmpty) {
  wchar_t source[] = L"abc";
  WideString copy = WideString::Copy(source);
  source[0] = L'z';
  EXPECT_STREQ(L"abc", copy.c_str());

  WideString none = WideString::Copy(nullptr);
  EXPECT_TRUE(none.empty());
  EXPECT_STREQ(L"", none.c_str());

  WideString moved = std::move(copy);
  EXPECT_STREQ(L"abc", moved.c_str());
  EXPECT_TRUE(copy.empty());  // NOLINT(bugprone-use-after-move): moved-from is empty by contract
}

}  // namespace
