#include "base/frame_ring.h"

#include <sddl.h>

#include <cstring>

// The section: the header, then kSlots slots of slotBytes each (a Slot, then the pixels).
// The creator fills the header and writes the magic last, so an opener that finds the magic
// finds the layout too. newest and heartbeat are written by the writer alone.
struct FrameRing::Header {
  volatile LONG magic;
  uint32_t version;
  uint32_t slots;
  uint32_t frameCapacity;
  uint64_t slotBytes;
  uint64_t firstSlot;
  volatile LONG64 newest;
  volatile LONG64 heartbeat;
};

// One frame. sequence is the seqlock: odd while the writer fills the slot.
struct FrameRing::Slot {
  volatile LONG sequence;
  uint32_t reserved;
  uint64_t number;
  int64_t time;
  RingFrameFormat format;
};

namespace {

constexpr uint64_t kAlignment = 64;
constexpr int kReadRetries = 8;
constexpr DWORD kLayoutWaitMs = 200;

uint64_t AlignUp(uint64_t value) { return (value + kAlignment - 1) & ~(kAlignment - 1); }

// 64-bit loads that are single reads on the 32-bit build too.
int64_t Load64(volatile LONG64* value) { return ::InterlockedCompareExchange64(value, 0, 0); }

struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type memory) noexcept { ::LocalFree(memory); }
};
using LocalMemory = UniqueResource<LocalMemoryTraits>;

HRESULT LastError() {
  DWORD error = ::GetLastError();
  return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// The calling process's user as an SDDL account ("S-1-5-21-..."), or the interactive users
// ("IU") for a service's account.
std::wstring RingUserAccount() {
  UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return L"IU";
  BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD length = 0;
  if (!::GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &length)) return L"IU";
  PSID user = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
  if (::IsWellKnownSid(user, WinLocalServiceSid) || ::IsWellKnownSid(user, WinLocalSystemSid)) return L"IU";
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(user, &text)) return L"IU";
  LocalMemory owner(text);
  return text;
}

}  // namespace

PSECURITY_DESCRIPTOR MakeRingSecurity() noexcept {
  // Protected DACL: full access for SYSTEM, LOCAL SERVICE and the user.
  std::wstring sddl = L"D:P(A;;GA;;;SY)(A;;GA;;;LS)(A;;GA;;;" + RingUserAccount() + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return nullptr;
  return descriptor;
}

HRESULT FrameRing::Attach(const std::wstring& name, uint32_t frameCapacity, bool* created) {
  if (created) *created = false;
  Close();
  if (frameCapacity == 0) return E_INVALIDARG;
  LocalMemory descriptor(MakeRingSecurity());
  if (!descriptor) return LastError();
  SECURITY_ATTRIBUTES security = {sizeof security, descriptor.get(), FALSE};
  uint64_t slotBytes = AlignUp(sizeof(Slot)) + AlignUp(frameCapacity);
  uint64_t total = AlignUp(sizeof(Header)) + kSlots * slotBytes;
  ::SetLastError(0);
  section_.reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, &security, PAGE_READWRITE | SEC_COMMIT,
                                      static_cast<DWORD>(total >> 32), static_cast<DWORD>(total), name.c_str()));
  if (!section_) return LastError();
  bool made = ::GetLastError() != ERROR_ALREADY_EXISTS;
  HRESULT hr = Map(frameCapacity, made);
  if (FAILED(hr)) {
    Close();
    return hr;
  }
  if (created) *created = made;
  return S_OK;
}

HRESULT FrameRing::Open(const std::wstring& name) {
  Close();
  section_.reset(::OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name.c_str()));
  if (!section_) return LastError();
  HRESULT hr = Map(0, false);
  if (FAILED(hr)) Close();
  return hr;
}

HRESULT FrameRing::Map(uint32_t frameCapacity, bool create) {
  view_.reset(::MapViewOfFile(section_.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
  if (!view_) return LastError();
  MEMORY_BASIC_INFORMATION region = {};
  if (!::VirtualQuery(view_.get(), &region, sizeof region)) return LastError();
  viewBytes_ = region.RegionSize;
  Header* h = header();
  if (create) {
    h->version = kVersion;
    h->slots = kSlots;
    h->frameCapacity = frameCapacity;
    h->slotBytes = AlignUp(sizeof(Slot)) + AlignUp(frameCapacity);
    h->firstSlot = AlignUp(sizeof(Header));
    ::InterlockedExchange64(&h->newest, 0);
    ::InterlockedExchange64(&h->heartbeat, 0);
    ::InterlockedExchange(&h->magic, static_cast<LONG>(kMagic));
    return S_OK;
  }
  // The creator may be filling the header right now.
  for (DWORD waited = 0; h->magic != static_cast<LONG>(kMagic) && waited < kLayoutWaitMs; waited += 5) ::Sleep(5);
  MemoryBarrier();
  if (h->magic != static_cast<LONG>(kMagic) || h->version != kVersion || h->slots == 0 ||
      h->firstSlot < sizeof(Header) || h->slotBytes < sizeof(Slot) + uint64_t{h->frameCapacity} ||
      h->firstSlot + h->slots * h->slotBytes > viewBytes_)
    return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  return S_OK;
}

void FrameRing::Close() noexcept {
  view_.reset();
  section_.reset();
  viewBytes_ = 0;
}

uint32_t FrameRing::frameCapacity() const noexcept { return attached() ? header()->frameCapacity : 0; }

FrameRing::Slot* FrameRing::slot(uint64_t number) const noexcept {
  Header* h = header();
  auto* base = static_cast<BYTE*>(view_.get()) + h->firstSlot;
  return reinterpret_cast<Slot*>(base + (number % h->slots) * h->slotBytes);
}

HRESULT FrameRing::Write(const RingFrameFormat& format, const BYTE* pixels) {
  if (!attached()) return E_UNEXPECTED;
  if (!pixels || format.bytes > header()->frameCapacity) return E_INVALIDARG;
  Header* h = header();
  uint64_t number = static_cast<uint64_t>(Load64(&h->newest)) + 1;
  Slot* s = slot(number);
  ::InterlockedIncrement(&s->sequence);  // odd: readers leave the slot alone
  s->number = number;
  s->time = Now();
  s->format = format;
  std::memcpy(reinterpret_cast<BYTE*>(s) + AlignUp(sizeof(Slot)), pixels, format.bytes);
  ::InterlockedIncrement(&s->sequence);  // even: complete (the interlocked calls are full barriers)
  ::InterlockedExchange64(&h->newest, static_cast<LONG64>(number));
  ::InterlockedExchange64(&h->heartbeat, s->time);
  return S_OK;
}

void FrameRing::Beat() noexcept {
  if (attached()) ::InterlockedExchange64(&header()->heartbeat, Now());
}

HRESULT FrameRing::ReadNewest(uint64_t after, BYTE* destination, size_t destinationBytes, RingFrameInfo* info) {
  if (!info || !destination) return E_POINTER;
  *info = RingFrameInfo{};
  if (!attached()) return E_UNEXPECTED;
  for (int attempt = 0; attempt < kReadRetries; ++attempt) {
    uint64_t number = NewestNumber();
    if (number == 0 || number <= after) return S_FALSE;
    Slot* s = slot(number);
    LONG before = s->sequence;
    MemoryBarrier();
    if (before & 1) {
      ::Sleep(0);
      continue;
    }
    RingFrameInfo copy;
    copy.number = s->number;
    copy.time = s->time;
    copy.format = s->format;
    if (copy.number != number || copy.format.bytes > header()->frameCapacity) continue;
    if (copy.format.bytes > destinationBytes) return E_INVALIDARG;
    std::memcpy(destination, reinterpret_cast<BYTE*>(s) + AlignUp(sizeof(Slot)), copy.format.bytes);
    MemoryBarrier();
    if (s->sequence != before) continue;  // the writer came back to this slot meanwhile
    *info = copy;
    return S_OK;
  }
  return S_FALSE;
}

uint64_t FrameRing::NewestNumber() const noexcept {
  return attached() ? static_cast<uint64_t>(Load64(&header()->newest)) : 0;
}

int64_t FrameRing::Heartbeat() const noexcept { return attached() ? Load64(&header()->heartbeat) : 0; }

int64_t FrameRing::Now() noexcept {
  LARGE_INTEGER counter, frequency;
  ::QueryPerformanceCounter(&counter);
  ::QueryPerformanceFrequency(&frequency);
  // Whole seconds and the rest apart, so that the product cannot overflow.
  int64_t seconds = counter.QuadPart / frequency.QuadPart;
  int64_t rest = counter.QuadPart % frequency.QuadPart;
  return seconds * 10000000 + rest * 10000000 / frequency.QuadPart;
}
