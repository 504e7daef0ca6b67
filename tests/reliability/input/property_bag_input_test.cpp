#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>

#include <climits>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "hostkit/pins.h"
#include "tests/reliability/support/desktop_source.h"
#include "tests/reliability/support/downstream_double.h"
#include "tests/reliability/support/guarded_memory.h"
#include "tests/support/test_graph.h"
#include "tests/support/library.h"

using namespace dorvantel;

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
      EXPECT_EQ(value.lVal >= kAreaDisplay && value.lVal <= kAreaDesktop ? S_OK : E_INVALIDARG, written);
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

// The keys a stored preset holds, in the forms the filter stores them.
enum class Form { Number, Text };
struct PresetKey {
  const wchar_t* name;
  Form form;
};
const PresetKey kPresetKeys[] = {
    {L"IncludeCursor", Form::Number},    {L"CaptureTransparentWindows", Form::Number}, {L"FrameRateMode", Form::Number},
    {L"FrameRate", Form::Number},        {L"CaptureArea", Form::Number},               {L"WindowTitle", Form::Text},
    {L"CaptureValue", Form::Text},       {L"OutputDimensions", Form::Text},            {L"InterpolationMode", Form::Number},
    {L"FramePacing", Form::Number},      {L"OutputFormat", Form::Text},
};

// What a bag's Read of one key does.
struct ScriptedRead {
  HRESULT answer = E_INVALIDARG;  // the key is not there
  VARIANT value = {};             // given with S_OK (and sometimes with a failure as well)
};

// A bag that answers each key's Read as scripted (copies of the values, so the reader owns
// what it gets), or, without a script, records what is written to it as text.
class ScriptedBag : public IPropertyBag {
 public:
  ~ScriptedBag() {
    for (auto& entry : script_) ::VariantClear(&entry.second.value);
  }
  void Script(const wchar_t* key, HRESULT answer, const VARIANT& value) {
    ScriptedRead& read = script_[key];
    ::VariantClear(&read.value);
    read.answer = answer;
    ::VariantCopy(&read.value, const_cast<VARIANT*>(&value));
  }
  const std::map<std::wstring, std::wstring>& written() const { return written_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR key, VARIANT* value, IErrorLog*) override {
    if (!key || !value) return E_POINTER;
    auto found = script_.find(key);
    if (found == script_.end()) return E_INVALIDARG;
    // A failing bag may have filled the value all the same; the reader clears it.
    if (found->second.value.vt != VT_EMPTY) ::VariantCopy(value, &found->second.value);
    return found->second.answer;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR key, VARIANT* value) override {
    VARIANT text;
    ::VariantInit(&text);
    if (FAILED(::VariantChangeType(&text, value, 0, VT_BSTR))) return E_FAIL;
    written_[key] = text.bstrVal ? text.bstrVal : L"";
    ::VariantClear(&text);
    return S_OK;
  }

 private:
  std::map<std::wstring, ScriptedRead> script_;
  std::map<std::wstring, std::wstring> written_;
};

// What the filter would store now (Save) and the format its pin gives: the whole state a
// refused Load must leave as it was.
struct FilterState {
  std::map<std::wstring, std::wstring> saved;
  std::vector<BYTE> format;
  bool operator==(const FilterState& other) const { return saved == other.saved && format == other.format; }
};

FilterState StateOf(IPersistPropertyBag* persist, IPin* pin) {
  FilterState state;
  ScriptedBag bag;
  EXPECT_EQ(S_OK, persist->Save(&bag, FALSE, TRUE));
  state.saved = bag.written();
  TaskMediaType type;
  if (SUCCEEDED(OfferedType(pin, 0, &type))) {
    const AM_MEDIA_TYPE& offered = *type.get();
    const GUID* guids[] = {&offered.majortype, &offered.subtype, &offered.formattype};
    for (const GUID* guid : guids) {
      state.format.insert(state.format.end(), reinterpret_cast<const BYTE*>(guid), reinterpret_cast<const BYTE*>(guid + 1));
    }
    state.format.push_back(static_cast<BYTE>(offered.bFixedSizeSamples));
    state.format.push_back(static_cast<BYTE>(offered.lSampleSize));
    if (offered.pbFormat) state.format.insert(state.format.end(), offered.pbFormat, offered.pbFormat + offered.cbFormat);
  }
  return state;
}

VARIANT Variant(VARTYPE vt, LONG number) {
  VARIANT value;
  ::VariantInit(&value);
  value.vt = vt;
  value.lVal = number;
  return value;
}

// Loads from bags that give good values, values the filter refuses, values of the wrong
// type (empty, null, floating, 64-bit, text for numbers, numbers for text, an interface, a
// pointer, an array), huge strings, and Read failures, E_OUTOFMEMORY among them. Load answers
// S_OK only when every value given was good, and a refused Load leaves the filter's settings
// and its pin's format as they were.
TEST_F(PropertyBagInputTest, LoadFromGeneratedBagsTakesAllOrNothing) {
  ComPtr<IPersistPropertyBag> persist;
  ASSERT_EQ(S_OK, source_.filter()->QueryInterface(IID_IPersistPropertyBag, persist.put_void()));
  std::mt19937 random(1508);
  CountedUnknown unknown;
  const std::wstring hugeDigits(1 << 20, L'7');
  const std::wstring hugeCorners = L"1,2,3," + hugeDigits;
  const wchar_t* const kGoodText[] = {L"", L"no window has this title", L"rgb24", L"RGB8"};
  const wchar_t* const kBadText[] = {L"1,2,3", L"640X360", L" 1,2,3,4", L"rgb48", L"0x0", L"-1x5", L"1,2,3,4,"};
  int loaded = 0, refused = 0;
  for (int i = 0; i < 1500 && !HasFailure(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    ScriptedBag bag;
    bool allGood = true;  // every key given holds a value the filter takes whatever came before
    bool failedRead = false;
    // Clean bags, bags with a fault here and there, and bags full of them.
    const unsigned faultsIn33 = (random() % 3) * (random() % 2 ? 3 : 11);
    for (const PresetKey& key : kPresetKeys) {
      const std::wstring name = key.name;
      VARIANT value;
      ::VariantInit(&value);
      HRESULT answer = S_OK;
      bool good = false;
      const bool faulty = random() % 33 < faultsIn33;
      switch (faulty ? 4 + random() % 8 : random() % 4) {
        case 0:
        case 1:
        case 2:
          continue;  // not in the bag
        case 3: {  // a good value
          good = true;
          if (name == L"CaptureArea") {
            value = Variant(VT_I4, random() % 2);
          } else if (name == L"FrameRate") {
            value = Variant(random() % 2 ? VT_I4 : VT_UI2, 1 + random() % 60);
          } else if (name == L"CaptureValue") {
            // Areas 0 and 1 only come about here: a rectangle of the display is always taken.
            value.vt = VT_BSTR;
            value.bstrVal = ::SysAllocString(L"10,20,330,260");
          } else if (name == L"OutputDimensions") {
            value.vt = VT_BSTR;
            value.bstrVal = ::SysAllocString(L"160x120");
          } else if (name == L"WindowTitle") {
            value.vt = VT_BSTR;
            value.bstrVal = ::SysAllocString(kGoodText[random() % 2]);
          } else if (name == L"OutputFormat") {
            value.vt = VT_BSTR;
            value.bstrVal = ::SysAllocString(kGoodText[random() % 2 ? 0 : 2 + random() % 2]);
          } else {
            value = Variant(random() % 2 ? VT_I4 : VT_BOOL, random() % 2);
            if (value.vt == VT_BOOL) value.boolVal = value.lVal ? VARIANT_TRUE : VARIANT_FALSE;
          }
          break;
        }
        case 4:  // a value of the right form that the filter refuses
          if (key.form == Form::Number) {
            value = Variant(VT_I4, name == L"CaptureArea" ? kAreaDesktop + 1 + random() % 100 : (name == L"FrameRate" ? 0 : 1));
            good = name != L"CaptureArea" && name != L"FrameRate";
          } else {
            value.vt = VT_BSTR;
            value.bstrVal = ::SysAllocString(kBadText[random() % (sizeof(kBadText) / sizeof(kBadText[0]))]);
            good = name == L"WindowTitle";
            if (name == L"CaptureValue") good = false;
          }
          break;
        case 5:  // huge text
          value.vt = VT_BSTR;
          value.bstrVal = ::SysAllocStringLen((random() % 2 ? hugeDigits : hugeCorners).c_str(),
                                              static_cast<UINT>(random() % 2 ? hugeDigits.size() : hugeCorners.size()));
          break;
        case 6: {  // a value of another type
          static const VARTYPE kTypes[] = {VT_EMPTY, VT_NULL, VT_R8, VT_I8, VT_DATE, VT_ERROR, VT_CY, VT_R4};
          value = Variant(kTypes[random() % (sizeof(kTypes) / sizeof(kTypes[0]))], 25);
          if (value.vt == VT_EMPTY) value.vt = VT_NULL;  // VT_EMPTY would mean "no value" to the script
          if (key.form == Form::Text && random() % 2) value = Variant(VT_I4, 25);
          if (key.form == Form::Number && random() % 2) {
            value.vt = VT_BSTR;
            value.bstrVal = ::SysAllocString(L"25");
          }
          break;
        }
        case 7:  // an interface
          value.vt = VT_UNKNOWN;
          value.punkVal = &unknown;
          unknown.AddRef();
          break;
        case 8: {  // an array of bytes
          SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, 16);
          value.vt = VT_ARRAY | VT_UI1;
          value.parray = array;
          break;
        }
        case 9:  // a null text
          value.vt = VT_BSTR;
          value.bstrVal = nullptr;
          good = name == L"WindowTitle" || name == L"OutputFormat";
          break;
        case 10: {  // a failure, sometimes with a value filled in all the same
          static const HRESULT kFailures[] = {E_FAIL, E_OUTOFMEMORY, E_INVALIDARG,
                                              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), S_FALSE};
          answer = kFailures[random() % (sizeof(kFailures) / sizeof(kFailures[0]))];
          if (random() % 2) {
            value.vt = VT_BSTR;
            value.bstrVal = ::SysAllocString(L"filled by a failing Read");
          }
          good = answer != E_OUTOFMEMORY;
          failedRead = failedRead || answer == E_OUTOFMEMORY;
          break;
        }
        default:
          answer = E_OUTOFMEMORY;
          failedRead = true;
          break;
      }
      if (value.vt == VT_EMPTY && answer == S_OK) continue;
      allGood = allGood && good;
      bag.Script(key.name, answer, value);
      ::VariantClear(&value);
    }

    const FilterState before = StateOf(persist.get(), source_.pin());
    const HRESULT hr = persist->Load(&bag, nullptr);
    const FilterState after = StateOf(persist.get(), source_.pin());
    EXPECT_TRUE(hr == S_OK || hr == DISP_E_TYPEMISMATCH || hr == E_INVALIDARG || hr == E_OUTOFMEMORY)
        << std::hex << hr;
    if (allGood) {
      EXPECT_EQ(S_OK, hr) << "a bag of good values was refused";
    }
    if (failedRead) {
      EXPECT_NE(S_OK, hr) << "a Read that ran out of memory was taken for a missing key";
    }
    if (hr == S_OK) {
      ++loaded;
    } else {
      ++refused;
      EXPECT_TRUE(before == after) << "a refused Load changed the filter";
    }
    if (random() % 10 == 0) {
      ASSERT_EQ(S_OK, persist->InitNew());
    }
  }
  std::printf("[input] Load: %d loaded, %d refused\n", loaded, refused);
  EXPECT_GT(loaded, 50);
  EXPECT_GT(refused, 50);
  EXPECT_EQ(1, unknown.refs) << "references to a value's interface";
  EXPECT_EQ(E_POINTER, persist->Load(nullptr, nullptr));
}

}  // namespace
