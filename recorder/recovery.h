#pragma once
// Recordings that did not finish: the NAME.avi.part file that a recording leaves when its
// process is killed or crashes, closed into a playable AVI under a name of its own.

#include <windows.h>

#include <string>

#include "recorder/avi_writer.h"

namespace dorvantel {

// Where the recording in partPath goes: NAME.avi for NAME.avi.part when ownName allows it
// and nothing has that name, else the first free name of NAME-recovered.avi,
// NAME-recovered-2.avi, ... Empty when partPath does not end in .part or no name is free.
std::wstring RecoveryPath(const std::wstring& partPath, bool ownName);

// Closes the unfinished recording in partPath into *path (RecoveryPath's), through writer,
// which then describes what it holds. Nothing is overwritten. Fails with AviWriter's codes
// or the file's own; error: one line for the user that says why.
HRESULT RecoverRecording(const std::wstring& partPath, bool ownName, AviWriter* writer, std::wstring* path,
                         std::wstring* error);

}  // namespace dorvantel
