#pragma once
// The registration data of the library's filters: constant records, read by nothing in the
// library itself (the filter's IAMovieSetup offers none), kept for hosts' registration tools.

#include <windows.h>
#include <dshow.h>

struct FilterRegistration {
  const CLSID* classId;
  const wchar_t* name;
  DWORD merit;
  UINT pinCount;
  const REGFILTERPINS* pins;
};

extern const FilterRegistration DesktopSourceRegistration;
