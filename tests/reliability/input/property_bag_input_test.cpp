#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/reliability/support/desktop_source.h"
#include "tests/reliability/support/guarded_memory.h"
#include "tests/support/library.h"

namespace {

const wchar_t* const kKeys[] = {L"IncludeCursor", L"CaptureTransparentWindows", L"FrameRateMode", L"FrameRate",
                                L"CaptureArea",   L"CaptureValue",              L"OutputDimensions",
                                L"InterpolationMode", L"FramePacing"};
constexpr size_t kKeyCount = sizeof(kKeys) / sizeof(kKeys[0]);

// Bytes the value of a pointer key points at: a rectangle, a window region, a size.
#ifdef _WIN64
constexpr size_t kWindowRegionBytes = 24;
#else
constexpr size_t kWindowRegionBytes = 20;
#endif

const LONG kExtremes[] = {0, 1, -1, 2, 3, 4, 7, 30, INT_MIN, INT_MAX, INT_MIN + 1, 10000000, 10000001, -10000000,
                          -10000001, 0x7FFF, -0x8000, 0xFFFF};

// The key a name is taken as: the first whose whole text the name begins with.
const wchar_t* KeyOf(const std::wstring& name) {
  for (const wchar_t* key : kKeys) {
    if (name.compare(0, std::wcslen(key), key) == 0 && name.size() >= std::wcslen(key)) return key;
  }
  return nullptr;
}

// Names around the keys: cut short, continued, with a letter's case flipped, empty, long,
// and random text.
std::wstring GenerateName(std::mt19937& random) {
  std::wstring name = kKeys[random() % kKeyCount];
  switch (random() % 7) {
    case 0:
      break;
    case 1:
      name.resize(random() % name.size());
      break;
    case 2:
      name.append(random() % 40, static_cast<wchar_t>(L'A' + random() % 58));
      break;
    case 3: {
      wchar_t& letter = name[random() % name.size()];
      letter = static_cast<wchar_t>(iswupper(letter) ? towlower(letter) : towupper(letter));
      break;
    }
    case 4:
      name.clear();
      break;
    case 5:
      name.assign(1 + random() % 2000, static_cast<wchar_t>(1 + random() % 0xFFFE));
      break;
    default:
      for (wchar_t& c : name) c = static_cast<wchar_t>(1 + random() % 0x7F);
      break;
  }
  return name;
}

class PropertyBagInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.loaded());
    ASSERT_TRUE(source_.valid());
  }
  void TearDown() override {
    source_.Release();
    EXPECT_EQ(S_OK, library_.CanUnloadNow()) << "the test left objects alive";
  }

  ComApartment com_;
  LoadedLibrary library_;
  DesktopSource source_{library_};
  LONG lastArea_ = 0;
};

// Thousands of writes and reads with generated names, value types and values. Pointers are
// null or point at exactly the bytes their key reads, ending at an inaccessible page, so a
// read one byte too far faults.
TEST_F(PropertyBagInputTest, GeneratedWritesAndReadsAnswerDefinedResults) {
  std::mt19937 random(20261208);
  IPropertyBag* bag = source_.bag();
  for (int i = 0; i < 4000 && !HasFailure(); ++i) {
    const std::wstring text = GenerateName(random);
    const GuardedString name(text.c_str());
    const wchar_t* key = KeyOf(text);
    SCOPED_TRACE("case " + std::to_string(i));

    VARIANT value;
    std::memset(&value, 0xA5, sizeof(value));
    value.vt = static_cast<VARTYPE>(random() % 0x10000);
    value.lVal = kExtremes[random() % (sizeof(kExtremes) / sizeof(kExtremes[0]))];
    if (random() % 4 == 0) value.lVal = static_cast<LONG>(random());

    // What a pointer key reads, and whether this case passes a null pointer.
    size_t pointed = 0;
    if (key && std::wcscmp(key, L"OutputDimensions") == 0) pointed = 8;
    if (key && std::wcscmp(key, L"CaptureValue") == 0 && lastArea_ == 1) pointed = 16;
    if (key && std::wcscmp(key, L"CaptureValue") == 0 && lastArea_ == 3) pointed = kWindowRegionBytes;
    const bool nullPointer = pointed != 0 && random() % 4 == 0;
    const bool odd = random() % 2 == 0;
    GuardedBlock block(pointed + (odd ? 1 : 0));
    if (pointed != 0) {
      BYTE* data = block.data() + (odd ? 1 : 0);
      for (size_t b = 0; b < pointed; ++b) data[b] = static_cast<BYTE>(random());
      if (random() % 2 == 0) {
        // Plausible sizes as well as noise.
        LONG small[2] = {static_cast<LONG>(random() % 3000) - 100, static_cast<LONG>(random() % 3000) - 100};
        std::memcpy(data, small, sizeof(small));
      }
      value.byref = nullPointer ? nullptr : data;
    }

    const HRESULT written = bag->Write(name.get(), &value);
    if (!key) {
      EXPECT_EQ(S_FALSE, written);
    } else if (nullPointer) {
      EXPECT_EQ(E_POINTER, written);
    } else {
      EXPECT_TRUE(written == S_OK || written == E_INVALIDARG) << std::hex << written;
    }
    if (key && std::wcscmp(key, L"CaptureArea") == 0) {
      EXPECT_EQ(value.lVal >= 0 && value.lVal <= 3 ? S_OK : E_INVALIDARG, written);
      if (written == S_OK) lastArea_ = value.lVal;
    }

    VARIANT read;
    std::memset(&read, 0x5A, sizeof(read));
    VARIANT untouched = read;
    const HRESULT answered = bag->Read(name.get(), &read, nullptr);
    EXPECT_TRUE(answered == S_OK || answered == S_FALSE) << std::hex << answered;
    if (answered == S_FALSE) {
      EXPECT_EQ(0, std::memcmp(&read, &untouched, sizeof(read))) << "a refused Read changed the variant";
    } else {
      EXPECT_TRUE(read.vt == VT_BOOL || read.vt == VT_INT);
    }
  }
  VARIANT value;
  ::VariantInit(&value);
  EXPECT_EQ(E_POINTER, bag->Write(nullptr, &value));
  EXPECT_EQ(E_POINTER, bag->Write(L"FrameRate", nullptr));
  EXPECT_EQ(E_POINTER, bag->Read(nullptr, &value, nullptr));
  EXPECT_EQ(E_POINTER, bag->Read(L"FrameRate", nullptr, nullptr));
}

}  // namespace
