// A text control drawn over its parent's background: the parent's pixels under it are kept
// once and painted back before every redraw, so a shorter text leaves no trace of a longer one.
#pragma once

#include <windows.h>

#include "app/accessibility.h"
#include "win/subclassed_window.h"
#include "win/unique_handle.h"

class CTransparentStatic2 : public win::SubclassedWindow {
 public:
  CTransparentStatic2() noexcept = default;
  ~CTransparentStatic2() override = default;

  // Whether the parent's background has been captured yet.
  [[nodiscard]] bool HasBackground() const noexcept { return m_background.valid(); }
  // Drops the saved background, so that the next erase takes it again from the parent (after
  // the parent's look changed: a new scale). A change of the control's size does so itself.
  void RetakeBackground() noexcept;
  // From now on each new message it shows (not its running dots) is told to assistive
  // technology.
  void AnnounceChanges() noexcept { announce_ = true; }

 protected:
  bool HandleMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) noexcept override;

 private:
  LRESULT OnSetText(WPARAM wparam, LPARAM lparam) noexcept;
  HBRUSH CtlColor(HDC dc) noexcept;
  BOOL OnEraseBkgnd(HDC dc) noexcept;
  void CaptureBackground() noexcept;

  win::UniqueGdiObject m_background;
  bool announce_ = false;
  StatusAnnouncer announcer_;
};
