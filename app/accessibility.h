// What assistive technology learns of the dialog: the names of the controls that have no label,
// the status line's changes, told once each; and the system's colours when high contrast is on.
#pragma once

#include <windows.h>
#include <oleacc.h>

#include <cstdint>

#include "win/unique_handle.h"
#include "win/wide_string.h"

// The annotation calls of the system's accessibility service (IAccPropServices), for one
// control's own object (OBJID_CLIENT, CHILDID_SELF). Tests record them where the service does
// not answer.
class ControlAnnotations {
 public:
  virtual ~ControlAnnotations() = default;
  virtual bool SetText(HWND control, const MSAAPROPID& property, const wchar_t* text) = 0;
  virtual bool SetNumber(HWND control, const MSAAPROPID& property, int32_t value) = 0;
};
void SetAnnotationsForTesting(ControlAnnotations* annotations);

// The status line's live setting (a UI Automation property; "polite": told when the reader is
// free, without interrupting it).
extern const GUID kLiveSettingProperty;
constexpr int32_t kLivePolite = 1;

// The dialog's annotations, made and kept on the dialog's thread.
class DialogAnnotations {
 public:
  DialogAnnotations() noexcept = default;
  ~DialogAnnotations();
  DialogAnnotations(const DialogAnnotations&) = delete;
  DialogAnnotations& operator=(const DialogAnnotations&) = delete;

  // The progress bar's name (message 47), the banner's (the product's), the status line a
  // polite live region.
  void Annotate(HWND dialog) noexcept;
  // The progress bar's description: the progress line's text as it is now.
  void DescribeProgress(HWND dialog) noexcept;

 private:
  // The test's recorder, or the system's service (made at the first use); null when neither.
  [[nodiscard]] ControlAnnotations* Service() noexcept;

  static void Release(ControlAnnotations* service) noexcept;
  using UniqueService = win::UniqueHandle<win::HandleTraits<ControlAnnotations*, nullptr, Release>>;

  bool com_started_ = false;
  bool tried_ = false;
  UniqueService service_;  // released before COM ends
};

// Tells assistive technology the status line's new text when its message changed: the text
// without its running dots differs from the last one told.
class StatusAnnouncer {
 public:
  void TextSet(HWND status, const wchar_t* text) noexcept;

 private:
  WideString told_;
};

// Whether the user has high contrast on (forced by tests: 0 off, 1 on, -1 the system's).
[[nodiscard]] bool HighContrastOn() noexcept;
void SetHighContrastForTesting(int on);
