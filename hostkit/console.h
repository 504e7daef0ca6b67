#pragma once
// Messages on standard error (standard output may carry raw frames), reports into files, and
// Ctrl-C.

#include <windows.h>

#include <string>

namespace dorvantel {

// Writes text to standard error: to the console as it is, elsewhere as UTF-8.
void WriteError(const std::wstring& text);
// Writes text to standard output as UTF-8, for scripts (lists, not frames).
void WriteOutput(const std::wstring& text);
// Writes text into the file path as UTF-8 (a file there is replaced).
HRESULT WriteTextFile(const std::wstring& path, const std::wstring& text);
// "<program>: error: <message>" on one line.
void ReportError(const wchar_t* program, const std::wstring& message);

// An event that Ctrl-C, Ctrl-Break or closing the console sets; the process then stays
// alive so that the caller can finish its file. Valid from the first call on.
HANDLE InterruptEvent();

// One line on standard error that is rewritten in place; Finish ends it with a line break.
class ProgressLine {
 public:
  explicit ProgressLine(bool enabled) noexcept : enabled_(enabled) {}
  void Show(const std::wstring& text);
  void Finish();

 private:
  bool enabled_;
  size_t shown_ = 0;
};

}  // namespace dorvantel
