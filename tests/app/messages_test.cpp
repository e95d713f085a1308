#include "app/messages.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>

#include "tests/support/language_scope.h"
#include "win/unique_handle.h"

namespace {

// ---- The catalogue --------------------------------------------------------------------------

TEST(Catalogue, TextsLetterForLetterInBothLanguages) {
  struct Case {
    int32_t number;
    const wchar_t* vietnamese;
    const wchar_t* english;
  };
  // Written with escapes, independently of the catalogue's source, so that an edit there
  // (a normalised letter, a lost blank) shows up here.
  const Case cases[] = {
      {0, L"Hu\x1EF7 b\x1ECF", L"Cancel"},
      {7, L"B\x1EA1n c\xF3 mu\x1ED1n d\x1EEBng qu\xE1 tr\xECnh c\xE0i \x111\x1EB7t Zuno kh\xF4ng?",
       L"Are you sure you want to stop Zuno installation?"},
      {8, L"T\x1EA3i qua proxy m\x1EB7" L"c \x111\x1ECBnh:  ", L"Download via default proxy: "},
      {9, L"T\x1EA3i qua c\x1EA5u h\xECnh IE proxy: ", L"Download via IE proxy configuration: "},
      {15, L"\x110\x61ng kh\x1EDFi t\x1EA1o y\xEAu c\x1EA7u t\x1EDBi server", L"Initializing request to sever"},
      {22,
       L"M\xE1y t\xEDnh c\x1EE7" L"a b\x1EA1n \x111\xE3 \x111\x1B0\x1EE3" L"c c\xE0i s\x1EB5n %s.\n\x110\x1EC3 c\xF3 th\x1EC3 c\xE0i \x111\x1EB7t phi\xEAn b\x1EA3n m\x1EDBi, b\x1EA1n c\x1EA7n ph\x1EA3i g\x1EE1 b\x1ECF phi\xEAn b\x1EA3n hi\x1EC7n th\x1EDDi.",
       L"%s has already been installed on your computer.\nTo install the new version, you should uninstall the current version."},
      {25, nullptr,
       L"Zuno has already been installed on your computer.\nTo install the Zuno Office Guard version, you should uninstall the current version."},
      {1, nullptr, L"Errors occur when downloading. Please try again latter!"},
      {18, L"Kh\xF4ng \x111\x1EE7 b\x1ED9 nh\x1EDB \x111\x1EC3 nh\x1EADn d\x1EEF li\x1EC7u", L"Not enough space for the download"},
  };
  for (const Case& c : cases) {
    if (c.vietnamese != nullptr) {
      test::LanguageScope vi(kLanguageVietnamese);
      EXPECT_STREQ(c.vietnamese, GetMessageText(c.number).c_str()) << "message " << c.number;
    }
    test::LanguageScope en(kLanguageEnglish);
    EXPECT_STREQ(c.english, GetMessageText(c.number).c_str()) << "message " << c.number;
  }
}

TEST(Catalogue, EveryNumberHasBothTextsAndNothingBeyond) {
  for (int32_t language : {kLanguageVietnamese, kLanguageEnglish}) {
    test::LanguageScope scope(language);
    for (int32_t n = 0; n < kMessageCount; ++n) EXPECT_FALSE(GetMessageText(n).empty()) << n;
    EXPECT_TRUE(GetMessageText(kMessageCount).empty());
    EXPECT_TRUE(GetMessageText(-1).empty());
    EXPECT_TRUE(GetMessageText(INT32_MIN).empty());
  }
}

TEST(Catalogue, Messages6And23AreTheSamePairAndMessage8EndsInItsBlanks) {
  {
    test::LanguageScope vi(kLanguageVietnamese);
    EXPECT_STREQ(GetMessageText(6).c_str(), GetMessageText(23).c_str());
    WideString prefix = GetMessageText(8);
    ASSERT_GE(prefix.size(), 3u);
    EXPECT_STREQ(L":  ", prefix.c_str() + prefix.size() - 3);
  }
  test::LanguageScope en(kLanguageEnglish);
  EXPECT_STREQ(L"Please run Zuno setup with admin permission!", GetMessageText(6).c_str());
  EXPECT_STREQ(GetMessageText(6).c_str(), GetMessageText(23).c_str());
  WideString prefix = GetMessageText(8);
  EXPECT_STREQ(L": ", prefix.c_str() + prefix.size() - 2);
}

TEST(Catalogue, LookupsReturnIndependentCopies) {
  test::LanguageScope en(kLanguageEnglish);
  WideString a = GetMessageText(0);
  WideString b = GetMessageText(0);
  EXPECT_NE(a.c_str(), b.c_str());
  EXPECT_STREQ(a.c_str(), b.c_str());
}

TEST(Catalogue, ALanguageOtherThan0Or1SelectsNoText) {
  test::LanguageScope other(2);
  EXPECT_TRUE(GetMessageText(7).empty());
}

// ---- ReadUiLanguage against the real registry ---------------------------------------------
// This test program is 32-bit like the installer, so HKLM\SOFTWARE\Zuno opened here without a
// view flag is the same 32-bit view the installer reads. The key belongs to the build's own
// Wine prefix; each test leaves it removed.

constexpr wchar_t kZunoKey[] = L"SOFTWARE\\Zuno";

class ReadUiLanguageTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveKey(0); }
  void TearDown() override {
    RemoveKey(0);
    RemoveKey(KEY_WOW64_64KEY);
  }

  static void RemoveKey(REGSAM view) {
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kZunoKey, view, 0);
  }

  static void Store(DWORD type, const void* data, DWORD size, REGSAM view = 0) {
    win::UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kZunoKey, 0, nullptr, 0,
                                               KEY_SET_VALUE | view, nullptr, key.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), L"fGiaodien", 0, type,
                                              static_cast<const BYTE*>(data), size));
  }

  static bool KeyExists() {
    win::UniqueRegKey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kZunoKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
  }
};

TEST_F(ReadUiLanguageTest, MissingKeyIsCreatedAndReadsAsNothing) {
  ASSERT_FALSE(KeyExists());
  int32_t value = 77;
  EXPECT_FALSE(ReadUiLanguage(&value));
  EXPECT_EQ(77, value);
  EXPECT_TRUE(KeyExists());
  EXPECT_FALSE(ReadUiLanguage(nullptr));
}

TEST_F(ReadUiLanguageTest, OnlyA4ByteDwordOf0Or1IsTakenOver) {
  struct Case {
    const char* what;
    DWORD type;
    BYTE data[8];
    DWORD size;
    bool read;
    int32_t value;
  };
  const Case cases[] = {
      {"dword 1", REG_DWORD, {1, 0, 0, 0}, 4, true, 1},
      {"dword 0", REG_DWORD, {0, 0, 0, 0}, 4, true, 0},
      {"dword 2 (no such language)", REG_DWORD, {2, 0, 0, 0}, 4, false, 0},
      {"dword -1", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, 4, false, 0},
      {"string \"1\"", REG_SZ, {'1', 0, 0, 0}, 4, false, 0},
      {"8-byte binary", REG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0}, 8, false, 0},
      {"8-byte qword", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, 8, false, 0},
      {"2-byte dword", REG_DWORD, {1, 0}, 2, false, 0},
      {"4-byte binary", REG_BINARY, {1, 0, 0, 0}, 4, false, 0},
  };
  for (const Case& c : cases) {
    Store(c.type, c.data, c.size);
    int32_t value = 55;
    EXPECT_EQ(c.read, ReadUiLanguage(&value)) << c.what;
    EXPECT_EQ(c.read ? c.value : 55, value) << c.what;
  }
}

TEST_F(ReadUiLanguageTest, MissingValueReadsAsNothing) {
  Store(REG_DWORD, "\1\0\0\0", 4);
  win::UniqueRegKey key;
  ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kZunoKey, 0, KEY_SET_VALUE, key.put()));
  ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteValueW(key.get(), L"fGiaodien"));
  int32_t value = 9;
  EXPECT_FALSE(ReadUiLanguage(&value));
  EXPECT_EQ(9, value);
}

TEST_F(ReadUiLanguageTest, TheValueIsReadFromThe32BitView) {
  // Stored only in the 64-bit view: a 32-bit program does not see it.
  Store(REG_DWORD, "\1\0\0\0", 4, KEY_WOW64_64KEY);
  int32_t value = 0;
  EXPECT_FALSE(ReadUiLanguage(&value));
  // Stored explicitly in the 32-bit view: read.
  Store(REG_DWORD, "\1\0\0\0", 4, KEY_WOW64_32KEY);
  EXPECT_TRUE(ReadUiLanguage(&value));
  EXPECT_EQ(1, value);
}

}  // namespace
