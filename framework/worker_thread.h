#pragma once
// CAMThread: one worker thread with a one-slot request/reply channel. A client thread posts a
// 32-bit request and blocks until the worker answers it with a 32-bit reply.
//
// Owns the two events, the access lock and the worker's thread handle. The access lock
// serialises client threads in StartWorker, SendRequest and JoinWorker; the worker never
// takes it. A pending request stays pending until it is answered; one reply wakes one sender.
// The worker uses what the class that derives from this one holds, so that class ends the
// worker before its own members go (a pin: StreamingPin in framework/source_stream.h); the
// join in this destructor is for a thread class that holds nothing of its own.

#include <windows.h>

#include <atomic>

#include "base/handles.h"
#include "base/section_lock.h"

// Creates the channel's events. Tests replace it to make creation fail.
using CreateEventFn = HANDLE (*)(bool manualReset);
extern CreateEventFn CreateWorkerEvent;

class CAMThread {
 public:
  // When an event cannot be created and result holds a success code, E_OUTOFMEMORY is stored.
  explicit CAMThread(HRESULT* result = nullptr) noexcept;
  // The body of the thread.
  virtual DWORD WorkerMain() = 0;
  virtual ~CAMThread();

  CAMThread(const CAMThread&) = delete;
  CAMThread& operator=(const CAMThread&) = delete;

  // True when this call created the worker; there is never a second one, and none without
  // the channel's events.
  bool StartWorker();
  // Client side: the worker's reply, or E_FAIL when there is no worker or it ended without
  // answering (the request is then taken back).
  DWORD SendRequest(DWORD request);
  // Worker side: blocks until a request is pending and returns it (it stays pending).
  DWORD WaitRequest();
  // Worker side: whether a request is pending, without blocking.
  bool PeekRequest(DWORD* request);
  // Worker side: blocks until a request is pending, extra (when not null) is signalled or
  // timeoutMs (INFINITE for none) has passed, and says which came first. A pending request
  // stays pending; an auto-reset extra event is consumed.
  enum class Wake { Request, Extra, Timeout };
  Wake WaitRequestOr(HANDLE extra, DWORD timeoutMs);
  // Worker side: answers and so consumes the pending request.
  void ReplyRequest(DWORD reply);
  // Waits for the worker to end and forgets it.
  void JoinWorker();
  bool WorkerExists() const noexcept { return worker_.load() != nullptr; }
  // False when an event of the channel could not be created.
  bool ChannelReady() const noexcept { return requestEvent_.valid() && replyEvent_.valid(); }

  static DWORD WINAPI WorkerEntry(void* thread);

 private:
  EventHandle requestEvent_;  // manual-reset: signalled while a request is pending
  EventHandle replyEvent_;    // auto-reset: signalled when the worker has answered
  // Written before the request event is signalled, read after it was seen signalled.
  std::atomic<DWORD> requestValue_{0};
  // Written by the worker before the reply event is signalled, read after the wake-up.
  std::atomic<DWORD> replyValue_{0};
  // Owned. Set by StartWorker and exchanged for null by JoinWorker (which takes over its
  // release), both under the access lock; WorkerExists reads it on any thread.
  std::atomic<HANDLE> worker_{nullptr};
  SectionLock accessLock_;
};
