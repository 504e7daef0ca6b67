#pragma once
// Writes uncompressed video into an AVI file that stays readable past 1 GB: a chain of
// RIFF segments ('AVI ' then 'AVIX'), each below the segment limit, every segment with
// its own standard index ('ix00'), one super index ('indx') in the header that points at
// them (OpenDML, AVI 2.0), and the old 'idx1' index over the first segment for readers
// that know only AVI 1.0.
//
// The file is written as <path>.part and takes its own name only when Finish has written
// the indexes and headers; Abandon, or destruction before Finish, deletes it. Not thread
// safe: one thread writes.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hostkit/frame_format.h"
#include "base/handles.h"

namespace dorvantel {

class AviWriter {
 public:
  static constexpr uint64_t kSegmentLimit = uint64_t{1} << 30;
  // Segments the super index has room for: 1 TB of video at the default limit.
  static constexpr DWORD kSuperIndexEntries = 1024;

  explicit AviWriter(uint64_t segmentLimit = kSegmentLimit) noexcept;
  ~AviWriter();
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  HRESULT Open(const std::wstring& path, const FrameFormat& format, int frameRate);
  // Appends one frame of format.imageSize bytes, a bottom-up DIB. Fails with
  // ERROR_FILE_TOO_LARGE once the super index is full; the file can still be finished.
  HRESULT WriteFrame(const void* frame);
  HRESULT Finish();
  void Abandon() noexcept;

  uint64_t frames() const noexcept { return totalFrames_; }
  uint64_t bytes() const noexcept { return position_; }
  size_t segments() const noexcept { return segments_.size(); }

 private:
  struct IndexEntry {
    uint64_t dataOffset;  // where the chunk's data begins, after its 8-byte header
    DWORD size;
  };
  struct Segment {
    uint64_t riffOffset = 0;  // the 'RIFF' fourcc
    uint64_t moviOffset = 0;  // the 'movi' fourcc of its LIST
    DWORD riffSize = 0;       // set when the segment is closed
    DWORD moviSize = 0;
    std::vector<IndexEntry> frames;
  };
  struct SuperIndexEntry {
    uint64_t offset;  // the 'ix00' chunk
    DWORD size;       // including its 8-byte header
    DWORD frames;
  };

  std::vector<BYTE> BuildHeader() const;
  uint64_t SegmentSizeWith(size_t frames, DWORD frameSize) const;
  HRESULT StartSegment();
  HRESULT CloseSegment();
  HRESULT Write(const void* data, size_t size);
  HRESULT WriteAt(uint64_t offset, const void* data, size_t size);

  const uint64_t segmentLimit_;
  std::wstring path_;
  std::wstring partPath_;
  FileHandle file_;
  FrameFormat format_;
  int frameRate_ = 0;
  uint64_t position_ = 0;
  uint64_t totalFrames_ = 0;
  size_t headerSize_ = 0;
  std::vector<Segment> segments_;
  std::vector<SuperIndexEntry> superIndex_;
};

}  // namespace dorvantel
