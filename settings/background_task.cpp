#include "settings/background_task.h"

#include <utility>

#include "hostkit/apartment.h"

namespace dorvantel {

BackgroundTask::~BackgroundTask() {
  if (thread_) ::WaitForSingleObject(thread_.get(), INFINITE);
}

HRESULT BackgroundTask::Start(HWND window, UINT message, std::function<void()> work, std::function<void()> done) {
  if (busy()) return E_PENDING;
  window_ = window;
  message_ = message;
  work_ = std::move(work);
  done_ = std::move(done);
  thread_.reset(::CreateThread(nullptr, 0, Run, this, 0, nullptr));
  if (!thread_) {
    const HRESULT hr = HRESULT_FROM_WIN32(::GetLastError());
    work_ = nullptr;
    done_ = nullptr;
    return hr;
  }
  return S_OK;
}

void BackgroundTask::Finish() {
  if (!thread_) return;
  // The worker posted its message as its last step: it is ending, not working.
  ::WaitForSingleObject(thread_.get(), INFINITE);
  thread_.reset();
  work_ = nullptr;
  std::function<void()> done = std::move(done_);
  done_ = nullptr;
  if (done) done();
}

DWORD WINAPI BackgroundTask::Run(void* self) {
  auto* task = static_cast<BackgroundTask*>(self);
  {
    // The registration's filter mapper is a COM object.
    ComApartment apartment;
    task->work_();
  }
  ::PostMessageW(task->window_, task->message_, 0, 0);
  return 0;
}

}  // namespace dorvantel
