// What the download engine works out without the network, built natively.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "download/failure_cause.h"
#include "download/http_text.h"

namespace {

TEST(NormalizeUrlTest, SchemeAndLength) {
  wchar_t out[kUrlCapacity];
  NormalizeUrl(L"host/file.exe", out);
  EXPECT_STREQ(L"http://host/file.exe", out);
  NormalizeUrl(L"HtTpS://host/x", out);
  EXPECT_STREQ(L"HtTpS://host/x", out);
  NormalizeUrl(L"ftp://host/x", out);
  EXPECT_STREQ(L"http://ftp://host/x", out);
  const std::wstring long_url = L"http://" + std::wstring(1500, L'h');
  NormalizeUrl(long_url.c_str(), out);
  EXPECT_EQ(long_url.substr(0, 1000), out);
  const std::wstring bare(1500, L'h');
  NormalizeUrl(bare.c_str(), out);
  EXPECT_EQ(L"http://" + bare.substr(0, 1000), out);
}

TEST(ChooseAuthSchemeTest, StrongestOfferedElseBasic) {
  EXPECT_EQ(kAuthNegotiate, ChooseAuthScheme(0x1F));
  EXPECT_EQ(kAuthNtlm, ChooseAuthScheme(0x0F));
  EXPECT_EQ(kAuthPassport, ChooseAuthScheme(0x0D));
  EXPECT_EQ(kAuthDigest, ChooseAuthScheme(0x09));
  EXPECT_EQ(kAuthBasic, ChooseAuthScheme(0x01));
  EXPECT_EQ(kAuthBasic, ChooseAuthScheme(0));
}

TEST(ProgressPositionTest, BothFormulasAndTheCap) {
  EXPECT_EQ(50, ProgressPosition(50000, 100000));    // r*100/t
  EXPECT_EQ(75, ProgressPosition(150000, 200000));   // r/(t/100)
  EXPECT_EQ(100, ProgressPosition(3000000, 2000000));
  EXPECT_EQ(99, ProgressPosition(2147000000u, 2147483647u));  // no overflow near 2^31
  EXPECT_EQ(-1, ProgressPosition(5, 0));
  // Sizes the engine never accepts still give a position, not a division by zero.
  EXPECT_EQ(50, ProgressPosition(2147483648u, 4294967295u));
  EXPECT_EQ(100, ProgressPosition(4294967295u, 4294967295u));
  EXPECT_EQ(0, ProgressPosition(1, 2147483648u));
}

// When the modes failed differently, the user is told the cause they can act on.
TEST(DownloadFailure, TheCauseTheUserCanActOnIsTold) {
  using C = FailureCause;
  const std::pair<std::vector<C>, C> rows[] = {
      {{C::kNotFound, C::kNotFound, C::kNoConnection}, C::kNotFound},  // no IE proxy set
      {{C::kNotFound, C::kOther, C::kNotFound}, C::kOther},
      {{C::kOther, C::kProxyRefused, C::kNotFound}, C::kProxyRefused},  // direct refused (403)
      {{C::kNoConnection, C::kProxyRefused, C::kSignInPage}, C::kSignInPage},
      {{C::kSignInPage, C::kDiskFull}, C::kDiskFull},
      {{C::kNoConnection, C::kNoConnection}, C::kNoConnection},
      {{}, C::kOther},
  };
  for (const auto& row : rows) EXPECT_EQ(DecisiveCause(row.first.data(), row.first.size()), row.second);
}

}  // namespace
