#include "framework/worker_thread.h"

#include <objbase.h>

#include "base/dpi_awareness.h"

static HANDLE PlatformCreateEvent(bool manualReset) {
  return ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
}
CreateEventFn CreateWorkerEvent = PlatformCreateEvent;

// Waits for the worker's reply while answering what other threads send to this thread's
// windows: the worker may be printing one of them (PrintWindow sends to the window's thread)
// and would otherwise wait for a thread that waits for it. Posted messages stay queued.
// False when the worker ended without answering.
static bool WaitForReply(HANDLE reply, HANDLE worker) {
  const HANDLE handles[2] = {reply, worker};
  for (;;) {
    const DWORD woke = ::MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woke == WAIT_OBJECT_0) return true;
    // A worker that answered as it ended (CmdExit) has its reply counted.
    if (woke == WAIT_OBJECT_0 + 1) return ::WaitForSingleObject(reply, 0) == WAIT_OBJECT_0;
    if (woke != WAIT_OBJECT_0 + 2) break;
    MSG message;
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  return ::WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0;
}

CAMThread::CAMThread(HRESULT* result) noexcept
    : requestEvent_(CreateWorkerEvent(true)), replyEvent_(CreateWorkerEvent(false)) {
  if ((!requestEvent_ || !replyEvent_) && result && SUCCEEDED(*result)) *result = E_OUTOFMEMORY;
}

CAMThread::~CAMThread() { JoinWorker(); }

bool CAMThread::StartWorker() {
  SectionLockHolder holder(&accessLock_);
  // Without its channel a worker could neither wait for a request nor answer one.
  if (worker_.load() || !ChannelReady()) return false;
  worker_.store(::CreateThread(nullptr, 0, WorkerEntry, this, 0, nullptr));
  return worker_.load() != nullptr;
}

DWORD CAMThread::SendRequest(DWORD request) {
  SectionLockHolder holder(&accessLock_);
  const HANDLE worker = worker_.load();
  if (!worker || !ChannelReady()) return static_cast<DWORD>(E_FAIL);
  requestValue_.store(request);
  ::SetEvent(requestEvent_.get());
  if (!WaitForReply(replyEvent_.get(), worker)) {
    ::ResetEvent(requestEvent_.get());
    return static_cast<DWORD>(E_FAIL);
  }
  return replyValue_.load();
}

DWORD CAMThread::WaitRequest() {
  ::WaitForSingleObject(requestEvent_.get(), INFINITE);
  return requestValue_.load();
}

bool CAMThread::PeekRequest(DWORD* request) {
  if (::WaitForSingleObject(requestEvent_.get(), 0) != WAIT_OBJECT_0) return false;
  if (request) *request = requestValue_.load();
  return true;
}

CAMThread::Wake CAMThread::WaitRequestOr(HANDLE extra, DWORD timeoutMs) {
  const HANDLE handles[2] = {requestEvent_.get(), extra};
  const DWORD woke = ::WaitForMultipleObjects(extra ? 2 : 1, handles, FALSE, timeoutMs);
  if (woke == WAIT_OBJECT_0) return Wake::Request;
  if (woke == WAIT_OBJECT_0 + 1) return Wake::Extra;
  return Wake::Timeout;
}

void CAMThread::ReplyRequest(DWORD reply) {
  replyValue_.store(reply);
  ::ResetEvent(requestEvent_.get());
  ::SetEvent(replyEvent_.get());
}

void CAMThread::JoinWorker() {
  SectionLockHolder holder(&accessLock_);
  ThreadHandle worker(worker_.exchange(nullptr));
  if (worker) ::WaitForSingleObject(worker.get(), INFINITE);
}

DWORD WINAPI CAMThread::WorkerEntry(void* thread) {
  // The worker joins the process's multithreaded apartment when COM is already loaded; it
  // does not load COM itself and runs all the same when COM cannot be initialised.
  using CoInitializeExFn = HRESULT(WINAPI*)(LPVOID, DWORD);
  using CoUninitializeFn = void(WINAPI*)();
  HRESULT comResult = E_FAIL;
  CoUninitializeFn uninitialize = nullptr;
  if (HMODULE ole32 = ::GetModuleHandleW(L"ole32.dll")) {
    auto initialize = reinterpret_cast<CoInitializeExFn>(
        reinterpret_cast<void*>(::GetProcAddress(ole32, "CoInitializeEx")));
    uninitialize = reinterpret_cast<CoUninitializeFn>(
        reinterpret_cast<void*>(::GetProcAddress(ole32, "CoUninitialize")));
    if (initialize) comResult = initialize(nullptr, COINIT_DISABLE_OLE1DDE | COINIT_MULTITHREADED);
  }
  // The worker measures and grabs the screen in physical pixels for its whole life, whatever
  // DPI awareness its host declared.
  const PhysicalPixels physical;
  const DWORD exitCode = static_cast<CAMThread*>(thread)->WorkerMain();
  if (SUCCEEDED(comResult) && uninitialize) uninitialize();
  return exitCode;
}
