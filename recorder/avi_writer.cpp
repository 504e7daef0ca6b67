#include "recorder/avi_writer.h"

#include <algorithm>
#include <cstring>

namespace dorvantel {

namespace {

constexpr DWORD FourCC(const char (&code)[5]) {
  return static_cast<DWORD>(static_cast<BYTE>(code[0])) | static_cast<DWORD>(static_cast<BYTE>(code[1])) << 8 |
         static_cast<DWORD>(static_cast<BYTE>(code[2])) << 16 | static_cast<DWORD>(static_cast<BYTE>(code[3])) << 24;
}

constexpr DWORD kFrameChunk = FourCC("00db");
constexpr DWORD kAvifHasIndex = 0x10;
constexpr DWORD kAvifTrustChunkType = 0x800;
constexpr DWORD kAviifKeyframe = 0x10;
constexpr BYTE kIndexOfIndexes = 0x00;
constexpr BYTE kIndexOfChunks = 0x01;
constexpr DWORD kOdmlHeaderSize = 248;
// Bytes of a standard index besides its entries: chunk header and the fields up to them.
constexpr uint64_t kStdIndexOverhead = 8 + 24;
// Bytes of a segment's RIFF and movi LIST headers.
constexpr uint64_t kSegmentHeaderSize = 24;

// Little-endian RIFF data in memory, with chunks whose sizes are filled in on closing.
class ChunkBuilder {
 public:
  void U8(BYTE v) { bytes_.push_back(v); }
  void U16(WORD v) { Raw(&v, 2); }
  void U32(DWORD v) { Raw(&v, 4); }
  void U64(uint64_t v) { Raw(&v, 8); }
  void Raw(const void* data, size_t size) {
    const BYTE* p = static_cast<const BYTE*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
  }
  void Zeros(size_t count) { bytes_.insert(bytes_.end(), count, 0); }

  // Starts a chunk (or a LIST when listType is set); returns what End needs.
  size_t Begin(DWORD id, DWORD listType = 0) {
    U32(id);
    size_t sizeAt = bytes_.size();
    U32(0);
    if (listType) U32(listType);
    return sizeAt;
  }
  void End(size_t sizeAt) {
    DWORD size = static_cast<DWORD>(bytes_.size() - sizeAt - 4);
    std::memcpy(&bytes_[sizeAt], &size, 4);
    if (size & 1) U8(0);
  }
  // Ends a chunk whose size was fixed beforehand (the first segment's RIFF and movi).
  void SetSize(size_t sizeAt, DWORD size) { std::memcpy(&bytes_[sizeAt], &size, 4); }

  std::vector<BYTE>& bytes() { return bytes_; }

 private:
  std::vector<BYTE> bytes_;
};

DWORD ClampToDword(uint64_t value) { return static_cast<DWORD>(std::min<uint64_t>(value, 0xFFFFFFFFu)); }

}  // namespace

AviWriter::AviWriter(uint64_t segmentLimit) noexcept : segmentLimit_(segmentLimit) {}

AviWriter::~AviWriter() { Abandon(); }

HRESULT AviWriter::Open(const std::wstring& path, const FrameFormat& format, int frameRate) {
  if (file_) return E_UNEXPECTED;
  if (frameRate <= 0 || format.imageSize == 0) return E_INVALIDARG;
  if (format.pixels == PixelFormat::Rgb8 && format.palette.size() != 256) return E_INVALIDARG;
  path_ = path;
  partPath_ = path + L".part";
  format_ = format;
  frameRate_ = frameRate;
  position_ = 0;
  totalFrames_ = 0;
  segments_.clear();
  superIndex_.clear();

  file_.reset(
      ::CreateFileW(partPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return HRESULT_FROM_WIN32(::GetLastError());

  // The header has the same size now as when Finish writes it for good.
  std::vector<BYTE> header = BuildHeader();
  headerSize_ = header.size();
  Segment first;
  first.riffOffset = 0;
  first.moviOffset = headerSize_ - 4;
  segments_.push_back(first);
  HRESULT hr = Write(header.data(), header.size());
  if (FAILED(hr)) Abandon();
  return hr;
}

std::vector<BYTE> AviWriter::BuildHeader() const {
  const Segment* first = segments_.empty() ? nullptr : &segments_.front();
  const DWORD firstFrames = first ? static_cast<DWORD>(first->frames.size()) : 0;
  const DWORD totalFrames = ClampToDword(totalFrames_);
  const DWORD frameBytes = format_.imageSize;
  ChunkBuilder b;

  size_t riff = b.Begin(FourCC("RIFF"), FourCC("AVI "));
  size_t hdrl = b.Begin(FourCC("LIST"), FourCC("hdrl"));

  size_t avih = b.Begin(FourCC("avih"));
  b.U32(static_cast<DWORD>((1000000 + frameRate_ / 2) / frameRate_));  // microseconds a frame
  b.U32(ClampToDword(uint64_t{frameBytes} * frameRate_));              // max bytes per second
  b.U32(0);                                                            // padding granularity
  b.U32(kAvifHasIndex | kAvifTrustChunkType);
  b.U32(firstFrames);  // frames of the first RIFF; dmlh holds the total
  b.U32(0);            // initial frames
  b.U32(1);            // streams
  b.U32(frameBytes);   // suggested buffer size
  b.U32(static_cast<DWORD>(format_.width));
  b.U32(static_cast<DWORD>(format_.height));
  b.Zeros(16);
  b.End(avih);

  size_t strl = b.Begin(FourCC("LIST"), FourCC("strl"));
  size_t strh = b.Begin(FourCC("strh"));
  b.U32(FourCC("vids"));
  b.U32(FourCC("DIB "));
  b.U32(0);                               // flags
  b.U16(0);                               // priority
  b.U16(0);                               // language
  b.U32(0);                               // initial frames
  b.U32(1);                               // scale
  b.U32(static_cast<DWORD>(frameRate_));  // rate: frames per second = rate / scale
  b.U32(0);                               // start
  b.U32(totalFrames);
  b.U32(frameBytes);
  b.U32(0xFFFFFFFFu);  // quality: default
  b.U32(0);            // sample size: varies
  b.U16(0);
  b.U16(0);
  b.U16(static_cast<WORD>(format_.width));
  b.U16(static_cast<WORD>(format_.height));
  b.End(strh);

  size_t strf = b.Begin(FourCC("strf"));
  BITMAPINFOHEADER bitmap{};
  bitmap.biSize = sizeof(BITMAPINFOHEADER);
  bitmap.biWidth = format_.width;
  bitmap.biHeight = format_.height;
  bitmap.biPlanes = 1;
  bitmap.biBitCount = static_cast<WORD>(format_.bits);
  bitmap.biSizeImage = frameBytes;
  // 16 bits with BI_RGB mean 5-5-5 to every reader; 5-6-5 needs its masks.
  DWORD masks[3] = {};
  if (format_.pixels == PixelFormat::Rgb565) format_.BitMasks(masks);
  bitmap.biCompression = masks[0] ? BI_BITFIELDS : BI_RGB;
  bitmap.biClrUsed = format_.pixels == PixelFormat::Rgb8 ? 256 : 0;
  b.Raw(&bitmap, sizeof(bitmap));
  if (masks[0]) b.Raw(masks, sizeof(masks));
  if (format_.pixels == PixelFormat::Rgb8) b.Raw(format_.palette.data(), 256 * sizeof(RGBQUAD));
  b.End(strf);

  size_t indx = b.Begin(FourCC("indx"));
  b.U16(4);  // longs per entry
  b.U8(0);   // index sub-type
  b.U8(kIndexOfIndexes);
  b.U32(static_cast<DWORD>(superIndex_.size()));
  b.U32(kFrameChunk);
  b.Zeros(12);
  for (DWORD i = 0; i < kSuperIndexEntries; ++i) {
    if (i < superIndex_.size()) {
      b.U64(superIndex_[i].offset);
      b.U32(superIndex_[i].size);
      b.U32(superIndex_[i].frames);
    } else {
      b.Zeros(16);
    }
  }
  b.End(indx);
  b.End(strl);

  size_t odml = b.Begin(FourCC("LIST"), FourCC("odml"));
  size_t dmlh = b.Begin(FourCC("dmlh"));
  b.U32(totalFrames);
  b.Zeros(kOdmlHeaderSize - 4);
  b.End(dmlh);
  b.End(odml);
  b.End(hdrl);

  size_t movi = b.Begin(FourCC("LIST"), FourCC("movi"));
  b.SetSize(riff, first ? first->riffSize : 0);
  b.SetSize(movi, first ? first->moviSize : 0);
  return std::move(b.bytes());
}

// Size of the current segment once it holds `frames` frames of frameSize bytes and its
// indexes.
uint64_t AviWriter::SegmentSizeWith(size_t frames, DWORD frameSize) const {
  const Segment& segment = segments_.back();
  uint64_t size = position_ - segment.riffOffset + 8 + frameSize + (frameSize & 1);
  size += kStdIndexOverhead + 8 * uint64_t{frames};
  if (segments_.size() == 1) size += 8 + 16 * uint64_t{frames};  // idx1
  return size;
}

HRESULT AviWriter::WriteFrame(const void* frame) {
  if (!file_) return E_UNEXPECTED;
  if (!frame) return E_POINTER;
  const DWORD size = format_.imageSize;
  Segment* segment = &segments_.back();
  if (!segment->frames.empty() && SegmentSizeWith(segment->frames.size() + 1, size) > segmentLimit_) {
    if (segments_.size() >= kSuperIndexEntries) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    HRESULT hr = CloseSegment();
    if (SUCCEEDED(hr)) hr = StartSegment();
    if (FAILED(hr)) return hr;
    segment = &segments_.back();
  }

  const DWORD chunk[2] = {kFrameChunk, size};
  const uint64_t dataOffset = position_ + 8;
  HRESULT hr = Write(chunk, sizeof(chunk));
  if (SUCCEEDED(hr)) hr = Write(frame, size);
  if (SUCCEEDED(hr) && (size & 1)) hr = Write("", 1);
  if (FAILED(hr)) return hr;
  segment->frames.push_back({dataOffset, size});
  ++totalFrames_;
  return S_OK;
}

HRESULT AviWriter::StartSegment() {
  Segment segment;
  segment.riffOffset = position_;
  segment.moviOffset = position_ + 20;
  const DWORD headers[6] = {FourCC("RIFF"), 0, FourCC("AVIX"), FourCC("LIST"), 0, FourCC("movi")};
  HRESULT hr = Write(headers, sizeof(headers));
  if (FAILED(hr)) return hr;
  segments_.push_back(std::move(segment));
  return S_OK;
}

HRESULT AviWriter::CloseSegment() {
  Segment& segment = segments_.back();
  const DWORD count = static_cast<DWORD>(segment.frames.size());

  ChunkBuilder index;
  size_t ix = index.Begin(FourCC("ix00"));
  index.U16(2);  // longs per entry
  index.U8(0);   // index sub-type
  index.U8(kIndexOfChunks);
  index.U32(count);
  index.U32(kFrameChunk);
  index.U64(segment.riffOffset);  // base of the entries' offsets
  index.U32(0);
  for (const IndexEntry& entry : segment.frames) {
    index.U32(static_cast<DWORD>(entry.dataOffset - segment.riffOffset));
    index.U32(entry.size);  // bit 31 clear: a key frame
  }
  index.End(ix);
  const uint64_t indexOffset = position_;
  HRESULT hr = Write(index.bytes().data(), index.bytes().size());
  if (FAILED(hr)) return hr;
  superIndex_.push_back({indexOffset, static_cast<DWORD>(index.bytes().size()), count});
  segment.moviSize = static_cast<DWORD>(position_ - segment.moviOffset);

  if (segments_.size() == 1) {
    ChunkBuilder oldIndex;
    size_t idx1 = oldIndex.Begin(FourCC("idx1"));
    for (const IndexEntry& entry : segment.frames) {
      oldIndex.U32(kFrameChunk);
      oldIndex.U32(kAviifKeyframe);
      oldIndex.U32(static_cast<DWORD>(entry.dataOffset - 8 - segment.moviOffset));
      oldIndex.U32(entry.size);
    }
    oldIndex.End(idx1);
    hr = Write(oldIndex.bytes().data(), oldIndex.bytes().size());
    if (FAILED(hr)) return hr;
  }
  segment.riffSize = static_cast<DWORD>(position_ - segment.riffOffset - 8);

  // The first segment's sizes go out with the header in Finish.
  if (segments_.size() > 1) {
    hr = WriteAt(segment.riffOffset + 4, &segment.riffSize, 4);
    if (SUCCEEDED(hr)) hr = WriteAt(segment.moviOffset - 4, &segment.moviSize, 4);
  }
  return hr;
}

HRESULT AviWriter::Finish() {
  if (!file_) return E_UNEXPECTED;
  HRESULT hr = CloseSegment();
  if (SUCCEEDED(hr)) {
    std::vector<BYTE> header = BuildHeader();
    hr = header.size() == headerSize_ ? WriteAt(0, header.data(), header.size()) : E_UNEXPECTED;
  }
  if (SUCCEEDED(hr) && !::FlushFileBuffers(file_.get())) hr = HRESULT_FROM_WIN32(::GetLastError());
  if (FAILED(hr)) {
    Abandon();
    return hr;
  }
  file_.reset();
  if (!::MoveFileExW(partPath_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    hr = HRESULT_FROM_WIN32(::GetLastError());
    ::DeleteFileW(partPath_.c_str());
    return hr;
  }
  return S_OK;
}

void AviWriter::Abandon() noexcept {
  if (!file_) return;
  file_.reset();
  ::DeleteFileW(partPath_.c_str());
}

HRESULT AviWriter::Write(const void* data, size_t size) {
  const BYTE* p = static_cast<const BYTE*>(data);
  while (size > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file_.get(), p, chunk, &written, nullptr)) {
      return HRESULT_FROM_WIN32(::GetLastError());
    }
    if (written == 0) return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    p += written;
    size -= written;
    position_ += written;
  }
  return S_OK;
}

HRESULT AviWriter::WriteAt(uint64_t offset, const void* data, size_t size) {
  LARGE_INTEGER target;
  target.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(file_.get(), target, nullptr, FILE_BEGIN)) {
    return HRESULT_FROM_WIN32(::GetLastError());
  }
  const uint64_t end = position_;
  position_ = offset;
  HRESULT hr = Write(data, size);
  position_ = end;
  target.QuadPart = static_cast<LONGLONG>(end);
  if (!::SetFilePointerEx(file_.get(), target, nullptr, FILE_BEGIN) && SUCCEEDED(hr)) {
    hr = HRESULT_FROM_WIN32(::GetLastError());
  }
  return hr;
}

}  // namespace dorvantel
