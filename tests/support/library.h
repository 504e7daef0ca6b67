#pragma once
// The built library loaded by its path, as a host loads it (hostkit/source_library.h): the
// test programs live in tests/ below the library's folder.

#include "hostkit/apartment.h"
#include "hostkit/source_library.h"
#include "module/dorvantel.h"

class LoadedLibrary : public dorvantel::SourceLibrary {
 public:
  LoadedLibrary() { Load(dorvantel::ProgramFolder() + L"..\\" DORVANTEL_DLL_NAME); }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;
};
