// The frame ring (base/frame_ring.h) in one process and across two: layout and sharing,
// refusals, the heartbeat, the section's DACL, and readers that never get a torn frame while a
// writer runs flat out, in another thread and in another process that is then killed.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/camera_link.h"
#include "base/frame_ring.h"
#include "tests/feed/ring_pattern.h"

namespace {

std::wstring UniqueName() {
  static int counter = 0;
  return L"Local\\DorvantelRingTest." + std::to_wstring(::GetCurrentProcessId()) + L"." + std::to_wstring(++counter);
}

RingFrameFormat Rgb32(uint32_t width, uint32_t height) {
  return {width, height, FrameRing::kRgb32, width * 4, width * height * 4};
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

}  // namespace

TEST(FrameRing, NamesOfAPresetAndTheDefault) {
  EXPECT_EQ(camera_link::FrameSectionName(L"Dorvantel rect"), L"Global\\Dorvantel.Frames.Dorvantel rect");
  EXPECT_EQ(camera_link::FrameSectionName(L"", camera_link::Namespace::Local), L"Local\\Dorvantel.Frames.Dorvantel");
  EXPECT_EQ(camera_link::FeedMutexName(L"a"), L"Local\\Dorvantel.Feed.a");
}

TEST(FrameRing, ANewRingHasNoFrameAndNoHeartbeat) {
  FrameRing ring;
  bool created = false;
  ASSERT_EQ(ring.Attach(UniqueName(), 4096, &created), S_OK);
  EXPECT_TRUE(created);
  EXPECT_EQ(ring.frameCapacity(), 4096u);
  EXPECT_EQ(ring.NewestNumber(), 0u);
  EXPECT_EQ(ring.Heartbeat(), 0);
  BYTE buffer[16];
  RingFrameInfo info;
  info.number = 99;
  EXPECT_EQ(ring.ReadNewest(0, buffer, sizeof buffer, &info), S_FALSE);
  EXPECT_EQ(info.number, 0u);
}

TEST(FrameRing, ASecondAttachSharesTheFramesAndKeepsTheCreatorsLayout) {
  std::wstring name = UniqueName();
  FrameRing writer, reader, opener;
  ASSERT_EQ(writer.Attach(name, 64 * 64 * 4), S_OK);
  bool created = true;
  ASSERT_EQ(reader.Attach(name, 16, &created), S_OK);
  EXPECT_FALSE(created);
  EXPECT_EQ(reader.frameCapacity(), 64u * 64u * 4u);
  ASSERT_EQ(opener.Open(name), S_OK);

  std::vector<BYTE> frame(64 * 64 * 4), copy(frame.size());
  for (uint64_t n = 1; n <= 5; ++n) {
    FillPattern(n, frame.data(), frame.size());
    ASSERT_EQ(writer.Write(Rgb32(64, 64), frame.data()), S_OK);
  }
  RingFrameInfo info;
  ASSERT_EQ(reader.ReadNewest(0, copy.data(), copy.size(), &info), S_OK);
  EXPECT_EQ(info.number, 5u);
  EXPECT_EQ(info.format.width, 64u);
  EXPECT_EQ(info.format.height, 64u);
  EXPECT_EQ(info.format.subtype, FrameRing::kRgb32);
  EXPECT_EQ(info.format.stride, 256u);
  EXPECT_EQ(info.format.bytes, frame.size());
  EXPECT_EQ(FirstStrayWord(5, copy.data(), copy.size()), copy.size() / 4);
  EXPECT_GT(info.time, 0);
  EXPECT_EQ(reader.ReadNewest(5, copy.data(), copy.size(), &info), S_FALSE);
  EXPECT_EQ(opener.ReadNewest(4, copy.data(), copy.size(), &info), S_OK);
  EXPECT_EQ(info.number, 5u);

  // A frame of another size and format in the same slots.
  RingFrameFormat nv12{32, 16, FrameRing::kNv12, 32, 32 * 16 * 3 / 2};
  FillPattern(6, frame.data(), nv12.bytes);
  ASSERT_EQ(writer.Write(nv12, frame.data()), S_OK);
  ASSERT_EQ(opener.ReadNewest(5, copy.data(), copy.size(), &info), S_OK);
  EXPECT_EQ(info.number, 6u);
  EXPECT_EQ(info.format.subtype, FrameRing::kNv12);
  EXPECT_EQ(info.format.bytes, 768u);
  EXPECT_EQ(FirstStrayWord(6, copy.data(), nv12.bytes), nv12.bytes / 4);
}

TEST(FrameRing, RefusesWhatDoesNotFitAndWhatIsNoRing) {
  std::wstring name = UniqueName();
  FrameRing ring;
  ASSERT_EQ(ring.Attach(name, 1024), S_OK);
  std::vector<BYTE> frame(2048);
  EXPECT_EQ(ring.Write(Rgb32(16, 32), frame.data()), E_INVALIDARG);
  EXPECT_EQ(ring.NewestNumber(), 0u);
  EXPECT_EQ(ring.Heartbeat(), 0);
  ASSERT_EQ(ring.Write(Rgb32(16, 16), frame.data()), S_OK);
  RingFrameInfo info;
  EXPECT_EQ(ring.ReadNewest(0, frame.data(), 1023, &info), E_INVALIDARG);
  EXPECT_EQ(ring.ReadNewest(0, frame.data(), 1024, nullptr), E_POINTER);

  FrameRing absent;
  EXPECT_EQ(absent.Open(UniqueName()), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(absent.attached());
  EXPECT_EQ(absent.Write(Rgb32(1, 1), frame.data()), E_UNEXPECTED);

  // A section of the name that holds no ring.
  std::wstring other = UniqueName();
  UniqueHandle plain(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 65536, other.c_str()));
  ASSERT_TRUE(plain);
  FrameRing stranger;
  EXPECT_EQ(stranger.Open(other), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
  EXPECT_EQ(stranger.Attach(other, 1024), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
  EXPECT_FALSE(stranger.attached());
}

TEST(FrameRing, TheHeartbeatFollowsWritesAndBeats) {
  FrameRing ring;
  ASSERT_EQ(ring.Attach(UniqueName(), 64), S_OK);
  BYTE frame[64] = {};
  int64_t before = FrameRing::Now();
  ASSERT_EQ(ring.Write(Rgb32(4, 4), frame), S_OK);
  int64_t written = ring.Heartbeat();
  EXPECT_GE(written, before);
  EXPECT_LE(written, FrameRing::Now());
  ::Sleep(20);
  ring.Beat();
  EXPECT_GE(ring.Heartbeat() - written, 150000);  // 15 ms at least, in 100 ns units
  EXPECT_EQ(ring.NewestNumber(), 1u);
}

TEST(FrameRing, TheSectionAdmitsSystemLocalServiceAndTheUserAlone) {
  std::wstring name = UniqueName();
  FrameRing ring;
  ASSERT_EQ(ring.Attach(name, 64), S_OK);
  UniqueHandle section(::OpenFileMappingW(READ_CONTROL, FALSE, name.c_str()));
  ASSERT_TRUE(section);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(::GetSecurityInfo(section.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr);
  std::vector<std::wstring> accounts;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    wchar_t* text = nullptr;
    ASSERT_TRUE(::ConvertSidToStringSidW(&ace->SidStart, &text));
    accounts.push_back(text);
    ::LocalFree(text);
  }
  ::LocalFree(descriptor);

  UniqueHandle token;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()));
  BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD length = 0;
  ASSERT_TRUE(::GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &length));
  wchar_t* user = nullptr;
  ASSERT_TRUE(::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &user));
  std::wstring expectedUser = user;
  ::LocalFree(user);
  if (expectedUser == L"S-1-5-18" || expectedUser == L"S-1-5-19") expectedUser = L"S-1-5-4";
  std::vector<std::wstring> expected = {L"S-1-5-18", L"S-1-5-19", expectedUser};
  EXPECT_EQ(accounts, expected);
}

TEST(FrameRingThreaded, AReaderNeverGetsATornFrameFromAWriterRunningFlatOut) {
  std::wstring name = UniqueName();
  constexpr uint32_t kWidth = 320, kHeight = 240;
  FrameRing writerRing, readerRing;
  ASSERT_EQ(writerRing.Attach(name, kWidth * kHeight * 4), S_OK);
  ASSERT_EQ(readerRing.Open(name), S_OK);
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> written{0};
  std::thread writer([&] {
    std::vector<BYTE> frame(kWidth * kHeight * 4);
    for (uint64_t n = 1; !stop; ++n) {
      FillPattern(n, frame.data(), frame.size());
      if (FAILED(writerRing.Write(Rgb32(kWidth, kHeight), frame.data()))) break;
      written = n;
    }
  });
  std::vector<BYTE> copy(kWidth * kHeight * 4);
  uint64_t last = 0, frames = 0, torn = 0, backwards = 0;
  ULONGLONG end = ::GetTickCount64() + 1500;
  while (::GetTickCount64() < end) {
    RingFrameInfo info;
    HRESULT hr = readerRing.ReadNewest(last, copy.data(), copy.size(), &info);
    ASSERT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
    if (hr != S_OK) continue;
    ++frames;
    if (info.number <= last) ++backwards;
    if (FirstStrayWord(info.number, copy.data(), copy.size()) != copy.size() / 4) ++torn;
    last = info.number;
  }
  stop = true;
  writer.join();
  EXPECT_EQ(torn, 0u);
  EXPECT_EQ(backwards, 0u);
  EXPECT_GT(frames, 10u);
  EXPECT_GT(written.load(), frames / 2);
  std::printf("threads: %llu frames written, %llu read, %llu torn\n",
              static_cast<unsigned long long>(written.load()), static_cast<unsigned long long>(frames),
              static_cast<unsigned long long>(torn));
}

// The writer in a process of its own (ring_writer.exe beside the tests), killed at the end:
// every frame read is whole, then the heartbeat stops and the last frame stays readable.
TEST(FrameRingThreaded, AWriterInAnotherProcessThenKilled) {
  std::wstring name = UniqueName();
  constexpr uint32_t kWidth = 640, kHeight = 360;
  FrameRing ring;
  ASSERT_EQ(ring.Attach(name, kWidth * kHeight * 4), S_OK);
  std::wstring command = L"\"" + ProgramFolder() + L"ring_writer.exe\" " + name + L" 60 " + std::to_wstring(kWidth) +
                         L" " + std::to_wstring(kHeight);
  STARTUPINFOW startup = {sizeof startup};
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
      << ::GetLastError();
  UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);

  std::vector<BYTE> copy(kWidth * kHeight * 4);
  uint64_t last = 0, frames = 0, torn = 0;
  ULONGLONG end = ::GetTickCount64() + 2500;
  while (::GetTickCount64() < end) {
    RingFrameInfo info;
    HRESULT hr = ring.ReadNewest(last, copy.data(), copy.size(), &info);
    ASSERT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
    if (hr != S_OK) continue;
    ++frames;
    if (FirstStrayWord(info.number, copy.data(), copy.size()) != copy.size() / 4) ++torn;
    last = info.number;
  }
  DWORD exitCode = 0;
  ASSERT_TRUE(::GetExitCodeProcess(processHandle.get(), &exitCode));
  ASSERT_EQ(exitCode, STILL_ACTIVE) << "the writer ended early";
  ASSERT_TRUE(::TerminateProcess(processHandle.get(), 9));
  ASSERT_EQ(::WaitForSingleObject(processHandle.get(), 5000), WAIT_OBJECT_0);
  EXPECT_EQ(torn, 0u);
  EXPECT_GT(frames, 5u);

  int64_t heartbeat = ring.Heartbeat();
  ::Sleep(300);
  EXPECT_EQ(ring.Heartbeat(), heartbeat);
  EXPECT_GE(FrameRing::Now() - heartbeat, 3000000);  // 300 ms and more without a frame
  uint64_t newest = ring.NewestNumber();
  RingFrameInfo info;
  EXPECT_EQ(ring.ReadNewest(newest, copy.data(), copy.size(), &info), S_FALSE);
  // The last frame the writer finished is still there and whole (it may have died inside the
  // next one: that slot stays odd and is never handed out).
  ASSERT_EQ(ring.ReadNewest(0, copy.data(), copy.size(), &info), S_OK);
  EXPECT_EQ(info.number, newest);
  EXPECT_EQ(FirstStrayWord(newest, copy.data(), copy.size()), copy.size() / 4);
  std::printf("processes: %llu frames read, %llu torn; the writer's last frame %llu\n",
              static_cast<unsigned long long>(frames), static_cast<unsigned long long>(torn),
              static_cast<unsigned long long>(newest));

  // A writer started again (the feed restarted while a reader holds the ring): its frames go
  // on from the last number, whole, and the reader takes them without an error.
  ASSERT_TRUE(::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
      << ::GetLastError();
  UniqueHandle again(process.hProcess), againThread(process.hThread);
  uint64_t after = 0;
  torn = 0;
  last = newest;
  end = ::GetTickCount64() + 2500;
  while (::GetTickCount64() < end) {
    HRESULT hr = ring.ReadNewest(last, copy.data(), copy.size(), &info);
    ASSERT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
    if (hr != S_OK) continue;
    EXPECT_GT(info.number, newest);
    ++after;
    if (FirstStrayWord(info.number, copy.data(), copy.size()) != copy.size() / 4) ++torn;
    last = info.number;
  }
  ASSERT_TRUE(::TerminateProcess(again.get(), 9));
  ASSERT_EQ(::WaitForSingleObject(again.get(), 5000), WAIT_OBJECT_0);
  EXPECT_EQ(torn, 0u);
  EXPECT_GT(after, 5u) << "no frame of the restarted writer";
}
