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
//
// The file can always be closed: past the last frame it keeps, written as zeros, the room
// that closing needs (the current segment's indexes; the headers are rewritten in place).
// A frame for which that room cannot be had is refused (the disk is full) and the file
// still finishes with the frames before it. A file whose writer never finished (the
// process was killed) holds the same room, and Recover closes it in place.

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

  // Recover's result for a file without one complete frame: HRESULT_FROM_WIN32(ERROR_EMPTY).
  static constexpr HRESULT kNoFrames = static_cast<HRESULT>(0x80070000u | ERROR_EMPTY);

  HRESULT Open(const std::wstring& path, const FrameFormat& format, int frameRate);
  // Takes over an unfinished file (partPath) of this writer, keeps every complete frame in
  // it and finishes it as `path`, which must not exist yet. Fails with kNoFrames, or
  // ERROR_BAD_FORMAT for a file this writer did not start, without changing the file.
  HRESULT Recover(const std::wstring& partPath, const std::wstring& path);
  // Appends one frame of format.imageSize bytes: RGB a bottom-up DIB, YUV its layout top row
  // first (the stream format names it by its FOURCC). Fails with ERROR_FILE_TOO_LARGE once
  // the super index is full, and with the system's error (disk full) when the frame and the
  // room to close the file after it cannot be written; the file can still be finished with
  // the frames before it.
  HRESULT WriteFrame(const void* frame);
  // Writes the indexes and headers and gives the file its name. When that fails, the
  // frames stay in the .part file (for Recover) unless there are none.
  HRESULT Finish();
  void Abandon() noexcept;

  uint64_t frames() const noexcept { return totalFrames_; }
  uint64_t bytes() const noexcept { return position_; }
  size_t segments() const noexcept { return segments_.size(); }
  const FrameFormat& format() const noexcept { return format_; }
  int frameRate() const noexcept { return frameRate_; }

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

  void Reset(const std::wstring& path, const std::wstring& partPath);
  std::vector<BYTE> BuildHeader() const;
  // Bytes of the current segment's indexes once it holds `frames` frames.
  uint64_t ClosingBytes(size_t frames) const;
  uint64_t SegmentSizeWith(size_t frames, DWORD frameSize) const;
  HRESULT StartSegment();
  HRESULT CloseSegment();
  HRESULT ReadHeader();
  void ScanChunks();
  // Makes the file at least `end` bytes long, with zeros.
  HRESULT Reserve(uint64_t end);
  HRESULT Append(const void* data, size_t size);
  HRESULT Seek(uint64_t offset);
  HRESULT WriteAt(uint64_t offset, const void* data, size_t size);
  HRESULT ReadAt(uint64_t offset, void* data, size_t size);

  const uint64_t segmentLimit_;
  std::wstring path_;
  std::wstring partPath_;
  bool replaceExisting_ = true;  // Finish may replace a file of the final name
  FileHandle file_;
  FrameFormat format_;
  int frameRate_ = 0;
  uint64_t position_ = 0;  // end of the last frame (or index) kept
  uint64_t fileEnd_ = 0;   // the file's length: past position_, the room kept for closing
  static constexpr uint64_t kUnknownPointer = ~uint64_t{0};
  uint64_t filePointer_ = 0;  // the file's own position, kUnknownPointer after a failed call
  uint64_t totalFrames_ = 0;
  size_t headerSize_ = 0;
  std::vector<Segment> segments_;
  std::vector<SuperIndexEntry> superIndex_;
};

}  // namespace dorvantel
