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

void AviWriter::Reset(const std::wstring& path, const std::wstring& partPath) {
  path_ = path;
  partPath_ = partPath;
  position_ = 0;
  fileEnd_ = 0;
  filePointer_ = 0;
  totalFrames_ = 0;
  headerSize_ = 0;
  segments_.clear();
  superIndex_.clear();
}

HRESULT AviWriter::Open(const std::wstring& path, const FrameFormat& format, int frameRate) {
  if (file_) return E_UNEXPECTED;
  if (frameRate <= 0 || format.imageSize == 0) return E_INVALIDARG;
  if (format.pixels == PixelFormat::Rgb8 && format.palette.size() != 256) return E_INVALIDARG;
  Reset(path, path + L".part");
  replaceExisting_ = true;
  format_ = format;
  frameRate_ = frameRate;

  // Others may read the file while it grows, not write it.
  file_.reset(::CreateFileW(partPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return HRESULT_FROM_WIN32(::GetLastError());

  // The header has the same size now as when Finish writes it for good.
  std::vector<BYTE> header = BuildHeader();
  headerSize_ = header.size();
  Segment first;
  first.riffOffset = 0;
  first.moviOffset = headerSize_ - 4;
  segments_.push_back(first);
  HRESULT hr = Append(header.data(), header.size());
  if (SUCCEEDED(hr)) hr = Reserve(position_ + ClosingBytes(0));
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
  b.U32(format_.yuv() ? YuvFourCC(format_.pixels) : FourCC("DIB "));
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
  bitmap.biCompression = format_.yuv() ? YuvFourCC(format_.pixels) : masks[0] ? BI_BITFIELDS : BI_RGB;
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

uint64_t AviWriter::ClosingBytes(size_t frames) const {
  uint64_t size = kStdIndexOverhead + 8 * uint64_t{frames};
  if (segments_.size() == 1) size += 8 + 16 * uint64_t{frames};  // idx1
  return size;
}

// Size of the current segment once it holds `frames` frames of frameSize bytes and its
// indexes.
uint64_t AviWriter::SegmentSizeWith(size_t frames, DWORD frameSize) const {
  return position_ - segments_.back().riffOffset + 8 + frameSize + (frameSize & 1) + ClosingBytes(frames);
}

HRESULT AviWriter::WriteFrame(const void* frame) {
  if (!file_) return E_UNEXPECTED;
  if (!frame) return E_POINTER;
  const DWORD size = format_.imageSize;
  const uint64_t chunkBytes = 8 + uint64_t{size} + (size & 1);
  const size_t inSegment = segments_.back().frames.size();
  if (inSegment > 0 && SegmentSizeWith(inSegment + 1, size) > segmentLimit_) {
    if (segments_.size() >= kSuperIndexEntries) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    // Room to close this segment, start the next and close that with this frame in it.
    HRESULT hr = Reserve(position_ + ClosingBytes(inSegment) + kSegmentHeaderSize + chunkBytes + kStdIndexOverhead + 8);
    if (SUCCEEDED(hr)) hr = CloseSegment();
    if (SUCCEEDED(hr)) hr = StartSegment();
    if (FAILED(hr)) return hr;
  }

  Segment& segment = segments_.back();
  const uint64_t start = position_;
  const DWORD chunk[2] = {kFrameChunk, size};
  HRESULT hr = Append(chunk, sizeof(chunk));
  if (SUCCEEDED(hr)) hr = Append(frame, size);
  if (SUCCEEDED(hr) && (size & 1)) hr = Append("", 1);
  // The room to close the file with this frame, before the frame counts.
  if (SUCCEEDED(hr)) hr = Reserve(position_ + ClosingBytes(segment.frames.size() + 1));
  if (FAILED(hr)) {
    // Whatever was written of it lies in the room kept for closing: the indexes overwrite it.
    position_ = start;
    return hr;
  }
  segment.frames.push_back({start + 8, size});
  ++totalFrames_;
  return S_OK;
}

HRESULT AviWriter::StartSegment() {
  Segment segment;
  segment.riffOffset = position_;
  segment.moviOffset = position_ + 20;
  const DWORD headers[6] = {FourCC("RIFF"), 0, FourCC("AVIX"), FourCC("LIST"), 0, FourCC("movi")};
  HRESULT hr = Append(headers, sizeof(headers));
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
  HRESULT hr = Append(index.bytes().data(), index.bytes().size());
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
    hr = Append(oldIndex.bytes().data(), oldIndex.bytes().size());
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
  // A segment that was started but holds no frame is left out.
  if (segments_.size() > 1 && segments_.back().frames.empty()) {
    position_ = segments_.back().riffOffset;
    segments_.pop_back();
  }
  HRESULT hr = superIndex_.size() < segments_.size() ? CloseSegment() : S_OK;
  if (SUCCEEDED(hr)) {
    std::vector<BYTE> header = BuildHeader();
    hr = header.size() == headerSize_ ? WriteAt(0, header.data(), header.size()) : E_UNEXPECTED;
  }
  // The room kept for closing that the indexes did not take goes.
  if (SUCCEEDED(hr)) hr = Seek(position_);
  if (SUCCEEDED(hr) && !::SetEndOfFile(file_.get())) hr = HRESULT_FROM_WIN32(::GetLastError());
  if (SUCCEEDED(hr) && !::FlushFileBuffers(file_.get())) hr = HRESULT_FROM_WIN32(::GetLastError());
  if (FAILED(hr)) {
    // The frames stay in the .part file, for Recover.
    if (totalFrames_ == 0) Abandon();
    file_.reset();
    return hr;
  }
  file_.reset();
  if (!::MoveFileExW(partPath_.c_str(), path_.c_str(), replaceExisting_ ? MOVEFILE_REPLACE_EXISTING : 0)) {
    return HRESULT_FROM_WIN32(::GetLastError());
  }
  return S_OK;
}

void AviWriter::Abandon() noexcept {
  if (!file_) return;
  file_.reset();
  ::DeleteFileW(partPath_.c_str());
}

HRESULT AviWriter::Recover(const std::wstring& partPath, const std::wstring& path) {
  if (file_) return E_UNEXPECTED;
  Reset(path, partPath);
  replaceExisting_ = false;
  file_.reset(::CreateFileW(partPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return HRESULT_FROM_WIN32(::GetLastError());
  HRESULT hr = ReadHeader();
  if (SUCCEEDED(hr)) {
    ScanChunks();
    if (totalFrames_ == 0) hr = kNoFrames;
  }
  if (FAILED(hr)) {
    file_.reset();  // nothing was written
    return hr;
  }
  return Finish();
}

// The stream's format and rate from the header this writer wrote; the header must have
// the size that BuildHeader gives them.
HRESULT AviWriter::ReadHeader() {
  const HRESULT bad = HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
  LARGE_INTEGER length;
  if (!::GetFileSizeEx(file_.get(), &length)) return HRESULT_FROM_WIN32(::GetLastError());
  fileEnd_ = static_cast<uint64_t>(length.QuadPart);
  DWORD top[6];
  if (fileEnd_ < sizeof(top) || FAILED(ReadAt(0, top, sizeof(top)))) return bad;
  if (top[0] != FourCC("RIFF") || top[2] != FourCC("AVI ") || top[3] != FourCC("LIST") || top[5] != FourCC("hdrl") ||
      top[4] < 4 || top[4] > (1u << 20)) {
    return bad;
  }
  std::vector<BYTE> hdrl(top[4] - 4);
  if (FAILED(ReadAt(24, hdrl.data(), hdrl.size()))) return bad;
  auto u32 = [&hdrl](uint64_t at) {
    DWORD v = 0;
    if (at + 4 <= hdrl.size()) std::memcpy(&v, &hdrl[static_cast<size_t>(at)], 4);
    return v;
  };
  size_t strh = 0, strf = 0, strfSize = 0;
  for (uint64_t at = 0; at + 8 <= hdrl.size();) {
    const DWORD id = u32(at), size = u32(at + 4);
    if (id == FourCC("LIST")) {
      at += 12;  // into the list
      continue;
    }
    if (id == FourCC("strh") && !strh) strh = static_cast<size_t>(at + 8);
    if (id == FourCC("strf") && !strf) strf = static_cast<size_t>(at + 8), strfSize = size;
    at += 8 + uint64_t{size} + (size & 1);
  }
  if (!strh || !strf || strfSize < sizeof(BITMAPINFOHEADER) || uint64_t{strf} + strfSize > hdrl.size()) return bad;
  if (u32(strh) != FourCC("vids") || u32(strh + 20) != 1 || u32(strh + 24) == 0 || u32(strh + 24) > 0x7FFFFFFF) {
    return bad;
  }
  BITMAPINFOHEADER bitmap;
  std::memcpy(&bitmap, &hdrl[strf], sizeof(bitmap));
  PixelFormat pixels;
  if (YuvFormatOf(bitmap.biCompression, &pixels)) {
    if (bitmap.biBitCount != DescribePixelFormat(pixels).bits) return bad;
  } else {
    switch (bitmap.biBitCount) {
      case 32: pixels = PixelFormat::Rgb32; break;
      case 24: pixels = PixelFormat::Rgb24; break;
      case 16: pixels = bitmap.biCompression == BI_BITFIELDS ? PixelFormat::Rgb565 : PixelFormat::Rgb555; break;
      case 8: pixels = PixelFormat::Rgb8; break;
      default: return bad;
    }
  }
  if (bitmap.biWidth <= 0 || bitmap.biHeight <= 0 || bitmap.biWidth > 0xFFFF || bitmap.biHeight > 0xFFFF) return bad;
  format_ = MakeFrameFormat(pixels, bitmap.biWidth, bitmap.biHeight);
  if (pixels == PixelFormat::Rgb8) {
    if (strfSize < sizeof(bitmap) + 256 * sizeof(RGBQUAD)) return bad;
    format_.palette.resize(256);
    std::memcpy(format_.palette.data(), &hdrl[strf + sizeof(bitmap)], 256 * sizeof(RGBQUAD));
  }
  if (format_.imageSize != bitmap.biSizeImage) return bad;
  frameRate_ = static_cast<int>(u32(strh + 24));

  headerSize_ = 24 + hdrl.size() + (hdrl.size() & 1) + 12;
  DWORD movi[3];
  if (FAILED(ReadAt(headerSize_ - 12, movi, sizeof(movi))) || movi[0] != FourCC("LIST") || movi[2] != FourCC("movi") ||
      BuildHeader().size() != headerSize_) {
    return bad;
  }
  Segment first;
  first.moviOffset = headerSize_ - 4;
  segments_.push_back(first);
  position_ = headerSize_;
  return S_OK;
}

// Walks the chunks after the header: frames, the indexes of closed segments and the
// segments' headers, up to the first chunk that is not whole or not this writer's (the
// zeros of the room kept for closing, a frame cut short). The last segment is left open,
// its indexes dropped, so that Finish writes them anew after its last frame.
void AviWriter::ScanChunks() {
  uint64_t at = headerSize_;
  uint64_t indexEnd = 0;  // of the current segment's chunk index, once seen
  for (;;) {
    DWORD head[6];
    if (at + 8 > fileEnd_ || FAILED(ReadAt(at, head, 8))) break;
    Segment& segment = segments_.back();
    if (head[0] == FourCC("RIFF")) {
      // The next segment: it follows a closed one (its chunk index written).
      if (!indexEnd || segments_.size() >= kSuperIndexEntries || at + 24 > fileEnd_ || FAILED(ReadAt(at, head, 24)) ||
          head[2] != FourCC("AVIX") || head[3] != FourCC("LIST") || head[5] != FourCC("movi")) {
        break;
      }
      segment.moviSize = static_cast<DWORD>(indexEnd - segment.moviOffset);
      segment.riffSize = static_cast<DWORD>(at - segment.riffOffset - 8);
      Segment next;
      next.riffOffset = at;
      next.moviOffset = at + 20;
      segments_.push_back(std::move(next));
      indexEnd = 0;
      at += 24;
      continue;
    }
    const uint64_t end = at + 8 + head[1] + (head[1] & 1);
    if (end > fileEnd_) break;  // cut short
    if (head[0] == kFrameChunk && head[1] == format_.imageSize && !indexEnd) {
      segment.frames.push_back({at + 8, head[1]});
      ++totalFrames_;
    } else if (head[0] == FourCC("ix00") && !indexEnd) {
      superIndex_.push_back({at, static_cast<DWORD>(end - at), static_cast<DWORD>(segment.frames.size())});
      indexEnd = end;
    } else if (head[0] != FourCC("idx1") || !indexEnd || segments_.size() > 1) {
      break;  // not this writer's; the first segment's old index, after its movi list, is passed
    }
    at = end;
  }
  // Trailing segments without frames go; the last one is reopened.
  while (segments_.size() > 1 && segments_.back().frames.empty()) segments_.pop_back();
  superIndex_.resize(segments_.size() - 1);
  const Segment& last = segments_.back();
  position_ = last.frames.empty()
                  ? headerSize_
                  : last.frames.back().dataOffset + last.frames.back().size + (last.frames.back().size & 1);
}

HRESULT AviWriter::Reserve(uint64_t end) {
  static const BYTE zeros[64 * 1024] = {};
  while (fileEnd_ < end) {
    HRESULT hr = WriteAt(fileEnd_, zeros, static_cast<size_t>(std::min<uint64_t>(end - fileEnd_, sizeof(zeros))));
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT AviWriter::Append(const void* data, size_t size) {
  HRESULT hr = WriteAt(position_, data, size);
  if (SUCCEEDED(hr)) position_ += size;
  return hr;
}

// Moves the file's position only when it is not there already: a seek and a write cost
// less than a write at an offset of its own under Wine, which takes that to its server.
HRESULT AviWriter::Seek(uint64_t offset) {
  if (offset == filePointer_) return S_OK;
  LARGE_INTEGER target;
  target.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(file_.get(), target, nullptr, FILE_BEGIN)) {
    filePointer_ = kUnknownPointer;
    return HRESULT_FROM_WIN32(::GetLastError());
  }
  filePointer_ = offset;
  return S_OK;
}

// fileEnd_ follows what reached the file, even when the write fails part-way.
HRESULT AviWriter::WriteAt(uint64_t offset, const void* data, size_t size) {
  HRESULT hr = Seek(offset);
  if (FAILED(hr)) return hr;
  const BYTE* p = static_cast<const BYTE*>(data);
  while (size > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file_.get(), p, chunk, &written, nullptr);
    const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    p += written;
    size -= written;
    filePointer_ += written;
    fileEnd_ = std::max(fileEnd_, filePointer_);
    if (!ok || written == 0) {
      filePointer_ = kUnknownPointer;
      return HRESULT_FROM_WIN32(ok ? ERROR_WRITE_FAULT : error);
    }
  }
  return S_OK;
}

HRESULT AviWriter::ReadAt(uint64_t offset, void* data, size_t size) {
  HRESULT hr = Seek(offset);
  if (FAILED(hr)) return hr;
  BYTE* p = static_cast<BYTE*>(data);
  while (size > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    DWORD read = 0;
    const BOOL ok = ::ReadFile(file_.get(), p, chunk, &read, nullptr);
    const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    p += read;
    size -= read;
    filePointer_ += read;
    if (!ok || read == 0) {
      filePointer_ = kUnknownPointer;
      return HRESULT_FROM_WIN32(ok ? ERROR_HANDLE_EOF : error);
    }
  }
  return S_OK;
}

}  // namespace dorvantel
