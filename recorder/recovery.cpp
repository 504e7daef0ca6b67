#include "recorder/recovery.h"

#include "hostkit/result_text.h"

namespace dorvantel {

namespace {

bool EndsWithNoCase(const std::wstring& text, const wchar_t* suffix) {
  const size_t length = wcslen(suffix);
  return text.size() >= length && _wcsicmp(text.c_str() + text.size() - length, suffix) == 0;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

std::wstring RecoveryPath(const std::wstring& partPath, bool ownName) {
  if (!EndsWithNoCase(partPath, L".part")) return L"";
  std::wstring base = partPath.substr(0, partPath.size() - 5);
  if (EndsWithNoCase(base, L".avi")) base.resize(base.size() - 4);
  if (base.empty()) return L"";
  if (ownName && !Exists(base + L".avi")) return base + L".avi";
  for (int n = 1; n < 1000; ++n) {
    std::wstring candidate = base + L"-recovered" + (n > 1 ? L"-" + std::to_wstring(n) : L"") + L".avi";
    if (!Exists(candidate)) return candidate;
  }
  return L"";
}

HRESULT RecoverRecording(const std::wstring& partPath, bool ownName, AviWriter* writer, std::wstring* path,
                         std::wstring* error) {
  *path = RecoveryPath(partPath, ownName);
  if (path->empty()) {
    *error = EndsWithNoCase(partPath, L".part") ? L"every name for the recovered recording is taken"
                                                : L"only a .part file that a recording left can be recovered";
    return E_INVALIDARG;
  }
  const HRESULT hr = writer->Recover(partPath, *path);
  if (hr == AviWriter::kNoFrames) {
    *error = L"it holds no complete frame";
  } else if (hr == HRESULT_FROM_WIN32(ERROR_BAD_FORMAT)) {
    *error = L"it is not a recording of dorvantel-record";
  } else if (hr == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)) {
    *error = L"a recording is still writing it";
  } else if (FAILED(hr)) {
    *error = ResultText(hr);
  }
  return hr;
}

}  // namespace dorvantel
