#include "win/registry_version.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/build_files.h"
#include "tests/support/registry.h"

namespace {

constexpr wchar_t kTestKey[] = L"SOFTWARE\\ZunoTest\\Readers";

// ---- ReadRegistryString -------------------------------------------------------------------

class ReadRegistryStringTest : public ::testing::Test {
 protected:
  int32_t Read(const wchar_t* name, int32_t capacity = 260) {
    buffer_.assign(capacity + 8, L'#');  // guard characters past the capacity
    return ReadRegistryString(kTestKey, name, buffer_.data(), capacity);
  }
  test::ScopedKey key_{kTestKey};
  std::wstring buffer_;
};

TEST_F(ReadRegistryStringTest, OnlyNonEmptyStringsThatFitAreRead) {
  const DWORD number = 5;
  key_.Set(L"dword", REG_DWORD, &number, sizeof(number));
  key_.SetString(L"expand", L"C:\\Zuno", REG_EXPAND_SZ);
  key_.SetString(L"empty", L"");
  key_.SetString(L"dir", L"C:\\Program Files\\Zuno");
  key_.SetString(L"long", std::wstring(300, L'x'));
  key_.SetString(L"259", std::wstring(259, L'y'));

  EXPECT_EQ(0, Read(L"missing"));
  EXPECT_EQ(0, Read(L"dword"));
  EXPECT_EQ(0, Read(L"expand"));
  EXPECT_EQ(0, Read(L"empty"));
  EXPECT_EQ(0, Read(L"long"));
  EXPECT_EQ(21, Read(L"dir"));
  EXPECT_STREQ(L"C:\\Program Files\\Zuno", buffer_.c_str());
  EXPECT_EQ(259, Read(L"259"));
  EXPECT_EQ(std::wstring(259, L'y'), std::wstring(buffer_.c_str()));
  EXPECT_EQ(0, ReadRegistryString(kTestKey, L"dir", nullptr, 260));
}

TEST_F(ReadRegistryStringTest, ExactlyCapacityCharactersWithoutTerminatorStayInsideTheBuffer) {
  const std::wstring full(260, L'z');
  key_.Set(L"unterminated", REG_SZ, full.data(), 260 * sizeof(wchar_t));
  // Windows delivers the 520 bytes and the reader cuts the last character; Wine refuses the
  // query for want of room for a terminator. Either way the string ends inside the buffer.
  const int32_t length = Read(L"unterminated");
  EXPECT_TRUE(length == 259 || length == 0) << length;
  EXPECT_EQ(static_cast<size_t>(length), wcsnlen(buffer_.c_str(), 260));
  EXPECT_EQ(std::wstring(8, L'#'), buffer_.substr(260));  // nothing written past the capacity

  // Shorter and stored without a terminator: still terminated where it ends.
  key_.Set(L"short", REG_SZ, L"abcdef", 3 * sizeof(wchar_t));
  EXPECT_EQ(3, Read(L"short"));
  EXPECT_STREQ(L"abc", buffer_.c_str());
}

TEST_F(ReadRegistryStringTest, AMissingKeyIsCreatedAndLeftEmpty) {
  ASSERT_FALSE(key_.Exists());
  EXPECT_EQ(0, Read(L"szZunoDir"));
  EXPECT_TRUE(key_.Exists());
  EXPECT_EQ(0u, key_.ValueCount());
}

// ---- ReadVersionStrings -------------------------------------------------------------------

TEST(ReadVersionStringsTest, AllFiveFieldsFromTheFirstTranslation) {
  FileVersionStrings strings;
  ASSERT_TRUE(ReadVersionStrings(test::Fixture(L"fixture_version_full.exe").c_str(), &strings));
  EXPECT_STREQ(L"Zuno Software", strings.companyName);
  EXPECT_STREQ(L"Zuno Office Guard", strings.fileDescription);
  EXPECT_STREQ(L"9.1.0.7", strings.fileVersion);
  EXPECT_STREQ(L"Copyright Zuno", strings.legalCopyright);
  EXPECT_STREQ(L"Zuno Office Guard", strings.productName);
}

TEST(ReadVersionStringsTest, AMissingKeyLeavesOnlyThatFieldEmpty) {
  FileVersionStrings strings;
  ASSERT_TRUE(ReadVersionStrings(test::Fixture(L"fixture_version_missing_key.exe").c_str(), &strings));
  EXPECT_STREQ(L"", strings.legalCopyright);
  EXPECT_STREQ(L"Zuno Software", strings.companyName);
  EXPECT_STREQ(L"Zuno Office Guard", strings.productName);
}

TEST(ReadVersionStringsTest, ValuesOf260CharactersOrMoreStayEmpty) {
  FileVersionStrings strings;
  ASSERT_TRUE(ReadVersionStrings(test::Fixture(L"fixture_version_long_value.exe").c_str(), &strings));
  EXPECT_STREQ(L"", strings.companyName);   // 300 characters
  EXPECT_STREQ(L"", strings.fileVersion);   // 260
  // 258 characters: the reported length counts the terminator, so 259 is below 260.
  EXPECT_EQ(std::wstring(258, L'D'), std::wstring(strings.fileDescription));
  EXPECT_STREQ(L"Copyright Zuno", strings.legalCopyright);
}

TEST(ReadVersionStringsTest, NoResourceNoFileOrNoArgumentsGiveFalse) {
  FileVersionStrings strings;
  strings.companyName[0] = L'x';
  EXPECT_FALSE(ReadVersionStrings(test::Fixture(L"fixture_no_version.exe").c_str(), &strings));
  EXPECT_STREQ(L"", strings.companyName);  // cleared all the same
  EXPECT_FALSE(ReadVersionStrings(test::Fixture(L"no_such_file.exe").c_str(), &strings));
  EXPECT_FALSE(ReadVersionStrings(nullptr, &strings));
  EXPECT_FALSE(ReadVersionStrings(test::Fixture(L"fixture_version_full.exe").c_str(), nullptr));
}

// ---- CombinePath ----------------------------------------------------------------------------

TEST(CombinePathTest, ExactlyOneBackslashBetweenTheParts) {
  struct Case {
    const wchar_t* directory;
    const wchar_t* name;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"C:\\Zuno", L"Zuno.exe", L"C:\\Zuno\\Zuno.exe"},
      {L"C:\\Zuno\\", L"Zuno.exe", L"C:\\Zuno\\Zuno.exe"},
      {L"C:\\", L"a", L"C:\\a"},
      {L"C:/Zuno", L"x", L"C:/Zuno\\x"},            // forward slashes taken as they are
      {L"C:\\Zuno", L"\\x", L"C:\\Zuno\\\\x"},       // so is a leading backslash
      {L"", L"Zuno.exe", L""},
      {L"C:\\Zuno", L"", L""},
      {nullptr, L"Zuno.exe", L""},
      {L"C:\\Zuno", nullptr, L""},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(c.expected, CombinePath(c.directory, c.name).c_str())
        << (c.directory ? c.directory : L"(null)") << " + " << (c.name ? c.name : L"(null)");
  }
}

TEST(CombinePathTest, PartsUpTo1022CharactersAreAccepted) {
  const std::wstring d1022 = L"C:\\" + std::wstring(1019, L'd');
  const std::wstring d1023 = d1022 + L"d";
  const std::wstring n1022(1022, L'n');
  const std::wstring n1023(1023, L'n');
  EXPECT_EQ(d1022 + L"\\" + n1022, CombinePath(d1022.c_str(), n1022.c_str()).c_str());
  EXPECT_TRUE(CombinePath(d1023.c_str(), L"x").empty());
  EXPECT_TRUE(CombinePath(L"C:\\", n1023.c_str()).empty());
}

}  // namespace
