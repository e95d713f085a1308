// One owner template for every kind of handle the installer opens. Each kind is a
// one-line alias naming its closer and its invalid value.
#pragma once

#include <windows.h>

#include <new>

#include <utility>

namespace win {

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Type handle) noexcept : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  [[nodiscard]] Type get() const noexcept { return handle_; }
  [[nodiscard]] bool valid() const noexcept { return handle_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // Gives up ownership without closing.
  [[nodiscard]] Type release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

  // Closes the current handle, if any, and takes `handle`. The caller's last error survives,
  // so a failed call can be cleaned up before its error is read.
  void reset(Type handle = Traits::Invalid()) noexcept {
    const Type old = std::exchange(handle_, handle);
    if (old != Traits::Invalid()) {
      const DWORD error = ::GetLastError();
      Traits::Close(old);
      ::SetLastError(error);
    }
  }

  // For out-parameters: closes what is held and hands out the slot.
  [[nodiscard]] Type* put() noexcept {
    reset();
    return &handle_;
  }

 private:
  Type handle_ = Traits::Invalid();
};

template <typename T, T kInvalid, auto kClose>
struct HandleTraits {
  using Type = T;
  static Type Invalid() noexcept { return kInvalid; }
  static void Close(Type handle) noexcept { kClose(handle); }
};

struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type handle) noexcept { ::CloseHandle(handle); }
};

inline void CloseRegKey(HKEY key) noexcept { ::RegCloseKey(key); }
inline void CloseKernelHandle(HANDLE handle) noexcept { ::CloseHandle(handle); }
inline void FreeLocal(HLOCAL memory) noexcept { ::LocalFree(memory); }
inline void FreeGlobal(HGLOBAL memory) noexcept { ::GlobalFree(memory); }
inline void FreeSidHandle(PSID sid) noexcept { ::FreeSid(sid); }
inline void DeleteGdiObject(HGDIOBJ object) noexcept { ::DeleteObject(object); }
inline void FreeProcessHeap(void* memory) noexcept { ::HeapFree(::GetProcessHeap(), 0, memory); }
// A block of the process heap, or null (FreeProcessHeap, or a UniqueHeapMemory, gives it back).
inline void* AllocateFromProcessHeap(size_t size) noexcept { return ::HeapAlloc(::GetProcessHeap(), 0, size); }

// An object made on the process heap, or null when memory fails: the library's operator new
// (nothrow or not) would bring the C++ exception runtime into the exe for its bad_alloc.
template <typename Object, typename... Arguments>
Object* NewOnProcessHeap(Arguments... arguments) noexcept {
  void* memory = AllocateFromProcessHeap(sizeof(Object));
  return memory != nullptr ? new (memory) Object(arguments...) : nullptr;
}
// Ends and gives back an object of NewOnProcessHeap.
template <typename Object>
void DeleteOnProcessHeap(Object* object) noexcept {
  if (object == nullptr) return;
  object->~Object();
  FreeProcessHeap(object);
}

// Kernel objects whose failure value is null: threads, processes, events, mutexes, tokens.
using UniqueKernelHandle = UniqueHandle<HandleTraits<HANDLE, nullptr, CloseKernelHandle>>;
// Files, whose failure value is INVALID_HANDLE_VALUE.
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueRegKey = UniqueHandle<HandleTraits<HKEY, nullptr, CloseRegKey>>;
using UniqueLocalMemory = UniqueHandle<HandleTraits<HLOCAL, nullptr, FreeLocal>>;
using UniqueGlobalMemory = UniqueHandle<HandleTraits<HGLOBAL, nullptr, FreeGlobal>>;
using UniqueSid = UniqueHandle<HandleTraits<PSID, nullptr, FreeSidHandle>>;
using UniqueGdiObject = UniqueHandle<HandleTraits<HGDIOBJ, nullptr, DeleteGdiObject>>;
// A block of the process heap (HeapAlloc on GetProcessHeap()).
using UniqueHeapMemory = UniqueHandle<HandleTraits<void*, nullptr, FreeProcessHeap>>;

}  // namespace win
