#include "recorder/avi_writer.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr DWORD FourCC(const char (&code)[5]) {
  return static_cast<DWORD>(static_cast<BYTE>(code[0])) |
         static_cast<DWORD>(static_cast<BYTE>(code[1])) << 8 |
         static_cast<DWORD>(static_cast<BYTE>(code[2])) << 16 |
         static_cast<DWORD>(static_cast<BYTE>(code[3])) << 24;
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

  // Starts a chunk (or a LIST when list_type is set); returns what End needs.
  size_t Begin(DWORD id, DWORD list_type = 0) {
    U32(id);
    size_t size_at = bytes_.size();
    U32(0);
    if (list_type) U32(list_type);
    return size_at;
  }
  void End(size_t size_at) {
    DWORD size = static_cast<DWORD>(bytes_.size() - size_at - 4);
    std::memcpy(&bytes_[size_at], &size, 4);
    if (size & 1) U8(0);
  }
  // Ends a chunk whose size was fixed beforehand (the first segment's RIFF and movi).
  void SetSize(size_t size_at, DWORD size) { std::memcpy(&bytes_[size_at], &size, 4); }

  std::vector<BYTE>& bytes() { return bytes_; }

 private:
  std::vector<BYTE> bytes_;
};

DWORD ClampToDword(uint64_t value) {
  return static_cast<DWORD>(std::min<uint64_t>(value, 0xFFFFFFFFu));
}

}  // namespace

AviWriter::AviWriter(uint64_t segment_limit) noexcept : segment_limit_(segment_limit) {}

AviWriter::~AviWriter() { Abandon(); }

HRESULT AviWriter::Open(const std::wstring& path, const FrameFormat& format, int frame_rate) {
  if (file_) return E_UNEXPECTED;
  if (frame_rate <= 0 || format.image_size == 0) return E_INVALIDARG;
  if (format.pixels == PixelFormat::Rgb8 && format.palette.size() != 256) return E_INVALIDARG;
  path_ = path;
  part_path_ = path + L".part";
  format_ = format;
  frame_rate_ = frame_rate;
  position_ = 0;
  total_frames_ = 0;
  segments_.clear();
  super_index_.clear();

  file_.reset(::CreateFileW(part_path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return HRESULT_FROM_WIN32(::GetLastError());

  // The header has the same size now as when Finish writes it for good.
  std::vector<BYTE> header = BuildHeader();
  header_size_ = header.size();
  Segment first;
  first.riff_offset = 0;
  first.movi_offset = header_size_ - 4;
  segments_.push_back(first);
  HRESULT hr = Write(header.data(), header.size());
  if (FAILED(hr)) Abandon();
  return hr;
}

std::vector<BYTE> AviWriter::BuildHeader() const {
  const Segment* first = segments_.empty() ? nullptr : &segments_.front();
  const DWORD first_frames = first ? static_cast<DWORD>(first->frames.size()) : 0;
  const DWORD total_frames = ClampToDword(total_frames_);
  const DWORD frame_bytes = format_.image_size;
  ChunkBuilder b;

  size_t riff = b.Begin(FourCC("RIFF"), FourCC("AVI "));
  size_t hdrl = b.Begin(FourCC("LIST"), FourCC("hdrl"));

  size_t avih = b.Begin(FourCC("avih"));
  b.U32(static_cast<DWORD>((1000000 + frame_rate_ / 2) / frame_rate_));  // microseconds a frame
  b.U32(ClampToDword(uint64_t{frame_bytes} * frame_rate_));              // max bytes per second
  b.U32(0);                                                               // padding granularity
  b.U32(kAvifHasIndex | kAvifTrustChunkType);
  b.U32(first_frames);  // frames of the first RIFF; dmlh holds the total
  b.U32(0);             // initial frames
  b.U32(1);             // streams
  b.U32(frame_bytes);   // suggested buffer size
  b.U32(static_cast<DWORD>(format_.width));
  b.U32(static_cast<DWORD>(format_.height));
  b.Zeros(16);
  b.End(avih);

  size_t strl = b.Begin(FourCC("LIST"), FourCC("strl"));
  size_t strh = b.Begin(FourCC("strh"));
  b.U32(FourCC("vids"));
  b.U32(FourCC("DIB "));
  b.U32(0);  // flags
  b.U16(0);  // priority
  b.U16(0);  // language
  b.U32(0);  // initial frames
  b.U32(1);  // scale
  b.U32(static_cast<DWORD>(frame_rate_));  // rate: frames per second = rate / scale
  b.U32(0);  // start
  b.U32(total_frames);
  b.U32(frame_bytes);
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
  bitmap.biSizeImage = frame_bytes;
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
  b.U32(static_cast<DWORD>(super_index_.size()));
  b.U32(kFrameChunk);
  b.Zeros(12);
  for (DWORD i = 0; i < kSuperIndexEntries; ++i) {
    if (i < super_index_.size()) {
      b.U64(super_index_[i].offset);
      b.U32(super_index_[i].size);
      b.U32(super_index_[i].frames);
    } else {
      b.Zeros(16);
    }
  }
  b.End(indx);
  b.End(strl);

  size_t odml = b.Begin(FourCC("LIST"), FourCC("odml"));
  size_t dmlh = b.Begin(FourCC("dmlh"));
  b.U32(total_frames);
  b.Zeros(kOdmlHeaderSize - 4);
  b.End(dmlh);
  b.End(odml);
  b.End(hdrl);

  size_t movi = b.Begin(FourCC("LIST"), FourCC("movi"));
  b.SetSize(riff, first ? first->riff_size : 0);
  b.SetSize(movi, first ? first->movi_size : 0);
  return std::move(b.bytes());
}

// Size of the current segment once it holds `frames` frames of frame_size bytes and its
// indexes.
uint64_t AviWriter::SegmentSizeWith(size_t frames, DWORD frame_size) const {
  const Segment& segment = segments_.back();
  uint64_t size = position_ - segment.riff_offset + 8 + frame_size + (frame_size & 1);
  size += kStdIndexOverhead + 8 * uint64_t{frames};
  if (segments_.size() == 1) size += 8 + 16 * uint64_t{frames};  // idx1
  return size;
}

HRESULT AviWriter::WriteFrame(const void* frame) {
  if (!file_) return E_UNEXPECTED;
  if (!frame) return E_POINTER;
  const DWORD size = format_.image_size;
  Segment* segment = &segments_.back();
  if (!segment->frames.empty() &&
      SegmentSizeWith(segment->frames.size() + 1, size) > segment_limit_) {
    if (segments_.size() >= kSuperIndexEntries) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    HRESULT hr = CloseSegment();
    if (SUCCEEDED(hr)) hr = StartSegment();
    if (FAILED(hr)) return hr;
    segment = &segments_.back();
  }

  const DWORD chunk[2] = {kFrameChunk, size};
  const uint64_t data_offset = position_ + 8;
  HRESULT hr = Write(chunk, sizeof(chunk));
  if (SUCCEEDED(hr)) hr = Write(frame, size);
  if (SUCCEEDED(hr) && (size & 1)) hr = Write("", 1);
  if (FAILED(hr)) return hr;
  segment->frames.push_back({data_offset, size});
  ++total_frames_;
  return S_OK;
}

HRESULT AviWriter::StartSegment() {
  Segment segment;
  segment.riff_offset = position_;
  segment.movi_offset = position_ + 20;
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
  index.U64(segment.riff_offset);  // base of the entries' offsets
  index.U32(0);
  for (const IndexEntry& entry : segment.frames) {
    index.U32(static_cast<DWORD>(entry.data_offset - segment.riff_offset));
    index.U32(entry.size);  // bit 31 clear: a key frame
  }
  index.End(ix);
  const uint64_t index_offset = position_;
  HRESULT hr = Write(index.bytes().data(), index.bytes().size());
  if (FAILED(hr)) return hr;
  super_index_.push_back({index_offset, static_cast<DWORD>(index.bytes().size()), count});
  segment.movi_size = static_cast<DWORD>(position_ - segment.movi_offset);

  if (segments_.size() == 1) {
    ChunkBuilder old_index;
    size_t idx1 = old_index.Begin(FourCC("idx1"));
    for (const IndexEntry& entry : segment.frames) {
      old_index.U32(kFrameChunk);
      old_index.U32(kAviifKeyframe);
      old_index.U32(static_cast<DWORD>(entry.data_offset - 8 - segment.movi_offset));
      old_index.U32(entry.size);
    }
    old_index.End(idx1);
    hr = Write(old_index.bytes().data(), old_index.bytes().size());
    if (FAILED(hr)) return hr;
  }
  segment.riff_size = static_cast<DWORD>(position_ - segment.riff_offset - 8);

  // The first segment's sizes go out with the header in Finish.
  if (segments_.size() > 1) {
    hr = WriteAt(segment.riff_offset + 4, &segment.riff_size, 4);
    if (SUCCEEDED(hr)) hr = WriteAt(segment.movi_offset - 4, &segment.movi_size, 4);
  }
  return hr;
}

HRESULT AviWriter::Finish() {
  if (!file_) return E_UNEXPECTED;
  HRESULT hr = CloseSegment();
  if (SUCCEEDED(hr)) {
    std::vector<BYTE> header = BuildHeader();
    hr = header.size() == header_size_ ? WriteAt(0, header.data(), header.size()) : E_UNEXPECTED;
  }
  if (SUCCEEDED(hr) && !::FlushFileBuffers(file_.get())) hr = HRESULT_FROM_WIN32(::GetLastError());
  if (FAILED(hr)) {
    Abandon();
    return hr;
  }
  file_.reset();
  if (!::MoveFileExW(part_path_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    hr = HRESULT_FROM_WIN32(::GetLastError());
    ::DeleteFileW(part_path_.c_str());
    return hr;
  }
  return S_OK;
}

void AviWriter::Abandon() noexcept {
  if (!file_) return;
  file_.reset();
  ::DeleteFileW(part_path_.c_str());
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
