// Sets the interface language for one test and puts the previous one back.
#pragma once

#include <cstdint>

#include "app/messages.h"

namespace test {

class LanguageScope {
 public:
  explicit LanguageScope(int32_t language) : previous_(UiLanguage.exchange(language)) {}
  ~LanguageScope() { UiLanguage.store(previous_); }
  LanguageScope(const LanguageScope&) = delete;
  LanguageScope& operator=(const LanguageScope&) = delete;

 private:
  int32_t previous_;
};

}  // namespace test
