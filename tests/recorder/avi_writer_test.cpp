#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "recorder/avi_writer.h"
#include "recorder/recovery.h"

using namespace dorvantel;

namespace {

DWORD Id(const char (&code)[5]) {
  DWORD value;
  std::memcpy(&value, code, 4);
  return value;
}

std::wstring TempPath(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  ::GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + name;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<BYTE> ReadFile(const std::wstring& path) {
  std::vector<BYTE> bytes;
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  LARGE_INTEGER size;
  ::GetFileSizeEx(file, &size);
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  ::CloseHandle(file);
  return bytes;
}

void WriteBytes(const std::wstring& path, const std::vector<BYTE>& bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
}

// A frame whose every byte says which frame it is.
std::vector<BYTE> Frame(const FrameFormat& format, int number) {
  std::vector<BYTE> frame(format.imageSize);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<BYTE>(number * 7 + i);
  return frame;
}

// Reads a finished file the way an AVI 2.0 reader does and checks what it finds.
class AviReader {
 public:
  explicit AviReader(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}

  DWORD U32(uint64_t at) const {
    DWORD v = 0;
    if (at + 4 <= bytes_.size()) std::memcpy(&v, &bytes_[at], 4);
    return v;
  }
  uint64_t U64(uint64_t at) const { return U32(at) | uint64_t{U32(at + 4)} << 32; }

  // Offset of the first chunk with this id inside [begin, end), descending into LISTs.
  uint64_t Find(DWORD id, uint64_t begin, uint64_t end) const {
    for (uint64_t at = begin; at + 8 <= end;) {
      DWORD chunk = U32(at), size = U32(at + 4);
      if (chunk == id) return at;
      if (chunk == Id("LIST")) {
        uint64_t inner = Find(id, at + 12, at + 8 + size);
        if (inner) return inner;
      }
      at += 8 + size + (size & 1);
    }
    return 0;
  }

  // The RIFF segments: offset and size of each, walking the file from its start.
  std::vector<std::pair<uint64_t, DWORD>> Segments() const {
    std::vector<std::pair<uint64_t, DWORD>> segments;
    for (uint64_t at = 0; at + 12 <= bytes_.size();) {
      if (U32(at) != Id("RIFF")) break;
      segments.emplace_back(at, U32(at + 4));
      at += 8 + U32(at + 4);
    }
    return segments;
  }

  const std::vector<BYTE>& bytes() const { return bytes_; }

 private:
  std::vector<BYTE> bytes_;
};

// Follows the super index to the standard indexes and on to the frame chunks: `count`
// frames, in order, each with its own data. Returns the frames of the first segment.
DWORD ExpectFramesThroughTheIndexes(const AviReader& avi, const FrameFormat& format, int count) {
  const uint64_t size = avi.bytes().size();
  const uint64_t indx = avi.Find(Id("indx"), 12, size);
  EXPECT_NE(0u, indx);
  if (!indx) return 0;
  const DWORD entries = avi.U32(indx + 12);
  int next = 0;
  DWORD firstSegmentFrames = 0;
  for (DWORD e = 0; e < entries; ++e) {
    const uint64_t entry = indx + 8 + 24 + 16 * uint64_t{e};
    const uint64_t ix = avi.U64(entry);
    EXPECT_EQ(Id("ix00"), avi.U32(ix));
    EXPECT_EQ(avi.U32(ix + 4) + 8, avi.U32(entry + 8));
    const DWORD inUse = avi.U32(ix + 12);
    EXPECT_EQ(inUse, avi.U32(entry + 12));
    if (e == 0) firstSegmentFrames = inUse;
    const uint64_t base = avi.U64(ix + 20);
    for (DWORD k = 0; k < inUse; ++k, ++next) {
      const uint64_t data = base + avi.U32(ix + 32 + 8 * uint64_t{k});
      const DWORD length = avi.U32(ix + 36 + 8 * uint64_t{k});
      EXPECT_EQ(Id("00db"), avi.U32(data - 8));
      EXPECT_EQ(format.imageSize, length);
      if (data + length > size) return firstSegmentFrames;
      std::vector<BYTE> expected = Frame(format, next);
      EXPECT_EQ(0, std::memcmp(expected.data(), &avi.bytes()[data], length)) << "frame " << next;
    }
  }
  EXPECT_EQ(count, next);
  return firstSegmentFrames;
}

class AviWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = TempPath(L"dorvantel-avi-writer-test.avi");
    TearDown();
  }
  void TearDown() override {
    for (const std::wstring& path : {path_, path_ + L".part", recovered_, recovered_ + L".part"}) {
      ::DeleteFileW(path.c_str());
    }
  }
  std::wstring path_;
  std::wstring recovered_ = TempPath(L"dorvantel-avi-writer-test-recovered.avi");
};

TEST_F(AviWriterTest, EveryFrameIsFoundThroughTheSuperIndexAcrossSegments) {
  // 60 frames of 1,200 bytes in segments of 24 KB (the first holds the 16 KB header).
  const uint64_t limit = 24 * 1024;
  const FrameFormat format = MakeFrameFormat(PixelFormat::Rgb24, 20, 20);
  AviWriter writer(limit);
  ASSERT_EQ(S_OK, writer.Open(path_, format, 25));
  EXPECT_TRUE(Exists(path_ + L".part"));
  EXPECT_FALSE(Exists(path_));
  const int count = 60;
  for (int n = 0; n < count; ++n) ASSERT_EQ(S_OK, writer.WriteFrame(Frame(format, n).data()));
  ASSERT_EQ(S_OK, writer.Finish());
  EXPECT_FALSE(Exists(path_ + L".part"));
  ASSERT_GT(writer.segments(), 2u);

  AviReader avi(ReadFile(path_));
  const uint64_t size = avi.bytes().size();
  ASSERT_EQ(writer.bytes(), size);

  // The RIFF chain covers the file exactly; each segment stays within the limit.
  auto segments = avi.Segments();
  ASSERT_EQ(writer.segments(), segments.size());
  EXPECT_EQ(Id("AVI "), avi.U32(8));
  uint64_t covered = 0;
  for (size_t i = 0; i < segments.size(); ++i) {
    EXPECT_EQ(covered, segments[i].first);
    EXPECT_LE(segments[i].second + 8u, limit) << "segment " << i;
    if (i > 0) {
      EXPECT_EQ(Id("AVIX"), avi.U32(segments[i].first + 8));
    }
    covered += 8 + segments[i].second;
  }
  EXPECT_EQ(size, covered);

  // Headers: frame counts, rate, format.
  const uint64_t avih = avi.Find(Id("avih"), 12, size);
  const uint64_t strh = avi.Find(Id("strh"), 12, size);
  const uint64_t strf = avi.Find(Id("strf"), 12, size);
  const uint64_t dmlh = avi.Find(Id("dmlh"), 12, size);
  ASSERT_TRUE(avih && strh && strf && dmlh);
  EXPECT_EQ(40000u, avi.U32(avih + 8));                       // microseconds a frame
  EXPECT_EQ(20u, avi.U32(avih + 8 + 32));                      // width
  EXPECT_EQ(Id("vids"), avi.U32(strh + 8));
  EXPECT_EQ(1u, avi.U32(strh + 8 + 20));                       // scale
  EXPECT_EQ(25u, avi.U32(strh + 8 + 24));                      // rate
  EXPECT_EQ(DWORD(count), avi.U32(strh + 8 + 32));             // length
  EXPECT_EQ(DWORD(count), avi.U32(dmlh + 8));
  EXPECT_EQ(24u, avi.U32(strf + 8 + 12) >> 16);                // biBitCount
  EXPECT_EQ(20u, avi.U32(strf + 8 + 8));                       // biHeight, bottom-up

  const DWORD firstSegmentFrames = ExpectFramesThroughTheIndexes(avi, format, count);
  EXPECT_EQ(segments.size(), avi.U32(avi.Find(Id("indx"), 12, size) + 12));
  EXPECT_EQ(firstSegmentFrames, avi.U32(avih + 8 + 16));  // avih counts the first segment

  // The old index covers the first segment.
  const uint64_t idx1 = avi.Find(Id("idx1"), 12, segments[0].second + 8);
  ASSERT_NE(0u, idx1);
  ASSERT_EQ(firstSegmentFrames * 16, avi.U32(idx1 + 4));
}

TEST_F(AviWriterTest, PaletteAndMasksTravelInTheStreamFormat) {
  FrameFormat format = MakeFrameFormat(PixelFormat::Rgb8, 8, 2);
  AviWriter writer;
  EXPECT_EQ(E_INVALIDARG, writer.Open(path_, format, 10)) << "8-bit needs its palette";
  format.palette.assign(256, RGBQUAD{1, 2, 3, 0});
  ASSERT_EQ(S_OK, writer.Open(path_, format, 10));
  ASSERT_EQ(S_OK, writer.WriteFrame(Frame(format, 0).data()));
  ASSERT_EQ(S_OK, writer.Finish());
  AviReader avi(ReadFile(path_));
  uint64_t strf = avi.Find(Id("strf"), 12, avi.bytes().size());
  EXPECT_EQ(40u + 1024u, avi.U32(strf + 4));
  EXPECT_EQ(256u, avi.U32(strf + 8 + 32));  // biClrUsed
  EXPECT_EQ(0x00030201u, avi.U32(strf + 8 + 40 + 4 * 255));

  AviWriter second;
  ASSERT_EQ(S_OK, second.Open(path_, MakeFrameFormat(PixelFormat::Rgb565, 4, 2), 10));
  ASSERT_EQ(S_OK, second.Finish());
  AviReader avi565(ReadFile(path_));
  strf = avi565.Find(Id("strf"), 12, avi565.bytes().size());
  EXPECT_EQ(DWORD(BI_BITFIELDS), avi565.U32(strf + 8 + 16));
  EXPECT_EQ(0xF800u, avi565.U32(strf + 8 + 40));
  EXPECT_EQ(0x07E0u, avi565.U32(strf + 8 + 44));
  EXPECT_EQ(0x001Fu, avi565.U32(strf + 8 + 48));

  AviWriter third;
  ASSERT_EQ(S_OK, third.Open(path_, MakeFrameFormat(PixelFormat::Rgb555, 4, 2), 10));
  ASSERT_EQ(S_OK, third.Finish());
  AviReader avi555(ReadFile(path_));
  strf = avi555.Find(Id("strf"), 12, avi555.bytes().size());
  EXPECT_EQ(40u, avi555.U32(strf + 4));
  EXPECT_EQ(DWORD(BI_RGB), avi555.U32(strf + 8 + 16));
}

// A YUV stream is described by its FOURCC (ffmpeg reads I420, NV12 and YUY2 so), its frames
// of the layout's own size at odd sides too; its unfinished file recovers like any other.
TEST_F(AviWriterTest, YuvStreamsAreNamedByTheirFourCCAndRecover) {
  const struct {
    PixelFormat pixels;
    DWORD code;
    WORD bits;
  } cases[] = {{PixelFormat::I420, Id("I420"), 12}, {PixelFormat::Nv12, Id("NV12"), 12}, {PixelFormat::Yuy2, Id("YUY2"), 16}};
  for (const auto& c : cases) {
    const FrameFormat format = MakeFrameFormat(c.pixels, 321, 181);
    {
      AviWriter writer;
      ASSERT_EQ(S_OK, writer.Open(path_, format, 30));
      for (int n = 0; n < 3; ++n) ASSERT_EQ(S_OK, writer.WriteFrame(Frame(format, n).data()));
      ASSERT_EQ(S_OK, writer.Finish());
    }
    AviReader avi(ReadFile(path_));
    const uint64_t strh = avi.Find(Id("strh"), 12, avi.bytes().size());
    const uint64_t strf = avi.Find(Id("strf"), 12, avi.bytes().size());
    EXPECT_EQ(c.code, avi.U32(strh + 8 + 4)) << "the handler";
    EXPECT_EQ(40u, avi.U32(strf + 4)) << c.bits;
    EXPECT_EQ(181u, avi.U32(strf + 8 + 8)) << "a positive height: the top row first, as YUV has it";
    EXPECT_EQ(DWORD{c.bits}, avi.U32(strf + 8 + 12) >> 16) << c.bits;
    EXPECT_EQ(c.code, avi.U32(strf + 8 + 16));
    EXPECT_EQ(YuvFrameBytes(c.pixels, 321, 181), avi.U32(strf + 8 + 20)) << "biSizeImage";
    ExpectFramesThroughTheIndexes(avi, format, 3);

    // Killed after two frames: the .part closes with both, in the same format.
    const std::wstring part = recovered_ + L".part";
    {
      AviWriter writer;
      ASSERT_EQ(S_OK, writer.Open(path_, format, 30));
      for (int n = 0; n < 2; ++n) ASSERT_EQ(S_OK, writer.WriteFrame(Frame(format, n).data()));
      WriteBytes(part, ReadFile(path_ + L".part"));
    }
    ::DeleteFileW(recovered_.c_str());
    AviWriter recovery;
    ASSERT_EQ(S_OK, recovery.Recover(part, recovered_)) << c.bits;
    EXPECT_EQ(c.pixels, recovery.format().pixels);
    AviReader recovered(ReadFile(recovered_));
    ExpectFramesThroughTheIndexes(recovered, format, 2);
    EXPECT_EQ(c.code, recovered.U32(recovered.Find(Id("strf"), 12, recovered.bytes().size()) + 8 + 16));
    ::DeleteFileW(recovered_.c_str());
  }
}

TEST_F(AviWriterTest, AnUnfinishedFileIsRemoved) {
  const FrameFormat format = MakeFrameFormat(PixelFormat::Rgb32, 4, 4);
  {
    AviWriter writer;
    ASSERT_EQ(S_OK, writer.Open(path_, format, 10));
    ASSERT_EQ(S_OK, writer.WriteFrame(Frame(format, 0).data()));
  }
  EXPECT_FALSE(Exists(path_ + L".part"));
  EXPECT_FALSE(Exists(path_));

  AviWriter writer;
  ASSERT_EQ(S_OK, writer.Open(path_, format, 10));
  writer.Abandon();
  EXPECT_FALSE(Exists(path_ + L".part"));
  EXPECT_EQ(E_UNEXPECTED, writer.WriteFrame(Frame(format, 0).data()));
}

TEST_F(AviWriterTest, APathThatCannotBeWrittenFailsAtOpen) {
  AviWriter writer;
  HRESULT hr = writer.Open(TempPath(L"no-such-folder\\x.avi"), MakeFrameFormat(PixelFormat::Rgb32, 4, 4), 10);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), hr);
}

TEST_F(AviWriterTest, AFullSuperIndexRefusesFramesButTheFileStillFinishes) {
  // One frame per segment: the super index fills after kSuperIndexEntries frames.
  const FrameFormat format = MakeFrameFormat(PixelFormat::Rgb32, 4, 4);
  AviWriter writer(64);
  ASSERT_EQ(S_OK, writer.Open(path_, format, 10));
  std::vector<BYTE> frame = Frame(format, 1);
  for (DWORD n = 0; n < AviWriter::kSuperIndexEntries; ++n) ASSERT_EQ(S_OK, writer.WriteFrame(frame.data()));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), writer.WriteFrame(frame.data()));
  ASSERT_EQ(S_OK, writer.Finish());
  AviReader avi(ReadFile(path_));
  EXPECT_EQ(size_t{AviWriter::kSuperIndexEntries}, avi.Segments().size());
  const uint64_t dmlh = avi.Find(Id("dmlh"), 12, avi.bytes().size());
  EXPECT_EQ(AviWriter::kSuperIndexEntries, avi.U32(dmlh + 8));
}

// A recorder that is killed leaves its .part as it was after its last write, with the room
// its indexes need kept past the last frame: it closes in place without growing (so even on
// a full disk), every complete frame kept and a frame cut short left out.
TEST_F(AviWriterTest, AnUnfinishedFileClosesInPlaceWithEveryCompleteFrame) {
  const FrameFormat format = MakeFrameFormat(PixelFormat::Rgb24, 20, 20);
  const std::wstring copy = recovered_ + L".part";
  AviWriter writer(24 * 1024);
  ASSERT_EQ(S_OK, writer.Open(path_, format, 25));
  auto expectRecovered = [&](int frames) {
    for (bool cut : {false, true}) {
      std::vector<BYTE> bytes = ReadFile(path_ + L".part");
      if (cut) bytes.resize(writer.bytes() - 100);  // inside the last frame
      const int kept = cut ? frames - 1 : frames;
      WriteBytes(copy, bytes);
      ::DeleteFileW(recovered_.c_str());
      AviWriter recovery;
      if (kept == 0) {
        EXPECT_EQ(AviWriter::kNoFrames, recovery.Recover(copy, recovered_));
        EXPECT_EQ(bytes, ReadFile(copy)) << "a file without frames is left as it was";
        continue;
      }
      ASSERT_EQ(S_OK, recovery.Recover(copy, recovered_)) << frames << (cut ? " frames, the last cut" : " frames");
      EXPECT_FALSE(Exists(copy));
      AviReader avi(ReadFile(recovered_));
      EXPECT_EQ(recovery.bytes(), avi.bytes().size());
      if (!cut) {
        EXPECT_LE(avi.bytes().size(), bytes.size()) << "closing took room the file did not hold";
      }
      ExpectFramesThroughTheIndexes(avi, format, kept);
      EXPECT_EQ(DWORD(kept), avi.U32(avi.Find(Id("dmlh"), 12, avi.bytes().size()) + 8));
      EXPECT_EQ(25u, avi.U32(avi.Find(Id("strh"), 12, avi.bytes().size()) + 8 + 24));
    }
  };
  // The first frame, each first frame of a new segment (a cut one drops the segment and
  // reopens the one before), and one in the middle of a segment.
  for (int n = 1; n <= 50; ++n) {
    const size_t segments = writer.segments();
    ASSERT_EQ(S_OK, writer.WriteFrame(Frame(format, n - 1).data()));
    if (n == 1 || writer.segments() != segments || n == 50) expectRecovered(n);
  }
  EXPECT_GE(writer.segments(), 3u);
  ASSERT_EQ(S_OK, writer.Finish());
}

TEST_F(AviWriterTest, RecoveryTakesAFreeNameAndLeavesWhatItCannotCloseAlone) {
  const std::wstring part = path_ + L".part";
  const std::wstring stem = path_.substr(0, path_.size() - 4);
  EXPECT_EQ(path_, RecoveryPath(part, true));
  EXPECT_EQ(stem + L"-recovered.avi", RecoveryPath(part, false)) << "the next recording takes the own name";
  EXPECT_EQ(L"", RecoveryPath(path_, true)) << "only a .part file";

  const FrameFormat format = MakeFrameFormat(PixelFormat::Rgb32, 4, 4);
  AviWriter writer;
  ASSERT_EQ(S_OK, writer.Open(path_, format, 10));
  ASSERT_EQ(S_OK, writer.WriteFrame(Frame(format, 0).data()));
  AviWriter recovery;
  std::wstring target, error;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), RecoverRecording(part, true, &recovery, &target, &error))
      << "a recording still writing its file";
  ASSERT_EQ(S_OK, writer.Finish());
  EXPECT_EQ(stem + L"-recovered.avi", RecoveryPath(part, true)) << "an existing file keeps its name";

  // Not a recording, and recordings whose header lies about its sizes: refused, untouched.
  const std::vector<BYTE> recorded = ReadFile(path_);
  std::vector<std::vector<BYTE>> foreign = {std::vector<BYTE>(20000, 'x'), recorded, recorded};
  const uint64_t strf = AviReader(recorded).Find(Id("strf"), 12, recorded.size());
  const DWORD huge = 0xFFFFFFF0u, tiny = 2;
  std::memcpy(&foreign[1][strf + 4], &huge, 4);
  std::memcpy(&foreign[2][16], &tiny, 4);  // the hdrl list
  for (const std::vector<BYTE>& bytes : foreign) {
    WriteBytes(part, bytes);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BAD_FORMAT), RecoverRecording(part, true, &recovery, &target, &error));
    EXPECT_EQ(bytes, ReadFile(part));
    EXPECT_FALSE(Exists(stem + L"-recovered.avi"));
  }
  ::DeleteFileW(part.c_str());
}

}  // namespace
