#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>
#include <ocidl.h>

#include "base/com_ptr.h"
#include "tests/module/module_test.h"
#include "tests/support/library.h"

namespace {

// Single-threaded: also run where 32-bit code is emulated.
using ClassFactoryTest = ModuleThreadedTest;

// An outer object for aggregation that only counts its references.
class Outer : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  ULONG refs = 1;
};

TEST_F(ClassFactoryTest, GetClassObjectRules) {
  const CLSID unknownClass = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, library_.GetClassObject(unknownClass, IID_IClassFactory, &out));
  EXPECT_EQ(nullptr, out);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, library_.GetClassObject(unknownClass, IID_IBaseFilter, &out))
      << "the interface is checked before the class";
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(E_POINTER, library_.GetClassObject(CLSID_DesktopSource, IID_IClassFactory, nullptr));

  IClassFactory* first = nullptr;
  IClassFactory* second = nullptr;
  ASSERT_EQ(S_OK, library_.GetClassObject(CLSID_DesktopSource, IID_IClassFactory, reinterpret_cast<void**>(&first)));
  ASSERT_EQ(S_OK, library_.GetClassObject(CLSID_DesktopSource, IID_IUnknown, reinterpret_cast<void**>(&second)));
  EXPECT_NE(first, second) << "every call makes a new factory";
  EXPECT_EQ(S_FALSE, library_.CanUnloadNow());

  IUnknown* same = nullptr;
  ASSERT_EQ(S_OK, first->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&same)));
  EXPECT_EQ(static_cast<IUnknown*>(first), same);
  EXPECT_EQ(1u, same->Release());
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, first->QueryInterface(IID_IBaseFilter, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(E_POINTER, first->QueryInterface(IID_IUnknown, nullptr));
  EXPECT_EQ(0u, first->Release());
  EXPECT_EQ(0u, second->Release());
}

TEST_F(ClassFactoryTest, LockServerCountsAndMayGoBelowZero) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, library_.GetClassObject(CLSID_DesktopSource, IID_IClassFactory, factory.put_void()));
  IClassFactory* raw = factory.get();
  raw->AddRef();
  factory.reset();
  EXPECT_EQ(S_OK, raw->LockServer(TRUE));
  EXPECT_EQ(0u, raw->Release());
  EXPECT_EQ(S_FALSE, library_.CanUnloadNow()) << "a lock holds the library with no objects alive";

  ASSERT_EQ(S_OK, library_.GetClassObject(CLSID_DesktopSource, IID_IClassFactory, factory.put_void()));
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  factory.reset();
  EXPECT_EQ(S_OK, library_.CanUnloadNow()) << "a negative count is no lock";
  // Back to zero for the tests that follow.
  ASSERT_EQ(S_OK, library_.GetClassObject(CLSID_DesktopSource, IID_IClassFactory, factory.put_void()));
  factory->LockServer(TRUE);
  factory->LockServer(TRUE);
}

TEST_F(ClassFactoryTest, CreateInstanceRules) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, library_.GetClassObject(CLSID_DesktopSource, IID_IClassFactory, factory.put_void()));

  EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IBaseFilter, nullptr));
  Outer outer;
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(&outer, IID_IBaseFilter, &out));
  EXPECT_EQ(nullptr, out);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &out))
      << "an interface the filter lacks creates nothing";
  EXPECT_EQ(nullptr, out);

  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IBaseFilter, filter.put_void()));
  filter->AddRef();
  EXPECT_EQ(1u, filter->Release()) << "the caller holds the only reference";

  CLSID id{};
  EXPECT_EQ(S_OK, filter->GetClassID(&id));
  EXPECT_TRUE(IsEqualCLSID(CLSID_DesktopSource, id));

  ComPtr<IPropertyBag> bag;
  ASSERT_EQ(S_OK, filter.query(&bag));
  bag->AddRef();
  EXPECT_EQ(2u, bag->Release()) << "the bag's reference is the filter's";

  ComPtr<IAMovieSetup> setup;
  ASSERT_EQ(S_OK, filter.query(&setup));
  EXPECT_EQ(S_FALSE, setup->Register());
  EXPECT_EQ(S_FALSE, setup->Unregister());
  EXPECT_EQ(S_FALSE, setup->Unregister());
  EXPECT_EQ(S_FALSE, setup->Register());

  ComPtr<IEnumPins> pins;
  ASSERT_EQ(S_OK, filter->EnumPins(pins.put()));
  IPin* pin[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(S_FALSE, pins->Next(2, pin, &fetched));
  ASSERT_EQ(1u, fetched);
  PIN_INFO info{};
  EXPECT_EQ(S_OK, pin[0]->QueryPinInfo(&info));
  EXPECT_STREQ(L"Out", info.achName);
  EXPECT_EQ(PINDIR_OUTPUT, info.dir);
  info.pFilter->Release();
  pin[0]->Release();
}

TEST_F(ClassFactoryTest, AggregatedFilterForwardsToItsOuter) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, library_.GetClassObject(CLSID_DesktopSource, IID_IClassFactory, factory.put_void()));
  Outer outer;
  IUnknown* inner = nullptr;
  ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)));
  EXPECT_EQ(1u, outer.refs);
  IPropertyBag* bag = nullptr;
  ASSERT_EQ(S_OK, inner->QueryInterface(IID_IPropertyBag, reinterpret_cast<void**>(&bag)));
  EXPECT_EQ(2u, outer.refs) << "the bag's reference goes to the outer unknown";
  bag->AddRef();
  EXPECT_EQ(3u, outer.refs);
  bag->Release();
  bag->Release();
  EXPECT_EQ(1u, outer.refs);
  IPersistPropertyBag* persist = nullptr;
  ASSERT_EQ(S_OK, inner->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(&persist)));
  EXPECT_EQ(2u, outer.refs) << "so does the persistence interface's";
  persist->Release();
  EXPECT_EQ(1u, outer.refs);
  EXPECT_EQ(0u, inner->Release());
}

// What capture hosts ask before they connect: the pin's category and the filter's source flag.
TEST_F(ClassFactoryTest, CaptureHostsFindACapturePinOnASourceFilter) {
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(S_OK, library_.CreateFilter(&filter));
  ComPtr<IAMFilterMiscFlags> flags;
  ASSERT_EQ(S_OK, filter.query(&flags));
  EXPECT_EQ(static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_SOURCE), flags->GetMiscFlags());

  // A device moniker hands the filter its stored settings through IPersistPropertyBag.
  ComPtr<IPersistPropertyBag> persist;
  ASSERT_EQ(S_OK, filter.query(&persist));
  ComPtr<IUnknown> fromFilter, fromPersist;
  ASSERT_EQ(S_OK, filter.query(&fromFilter));
  ASSERT_EQ(S_OK, persist.query(&fromPersist));
  EXPECT_EQ(fromFilter.get(), fromPersist.get());
  CLSID classId = GUID_NULL;
  EXPECT_EQ(S_OK, persist->GetClassID(&classId));
  EXPECT_TRUE(IsEqualGUID(CLSID_DesktopSource, classId));
  EXPECT_EQ(E_POINTER, persist->GetClassID(nullptr));
  EXPECT_EQ(E_POINTER, persist->Load(nullptr, nullptr));
  EXPECT_EQ(E_POINTER, persist->Save(nullptr, FALSE, TRUE));
  EXPECT_EQ(S_OK, persist->InitNew());

  ComPtr<IPin> pin = OutputPin(filter.get());
  ASSERT_TRUE(pin);
  ComPtr<IKsPropertySet> properties;
  ASSERT_EQ(S_OK, pin.query(&properties));
  GUID category = GUID_NULL;
  DWORD returned = 0;
  EXPECT_EQ(S_OK, properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof(category),
                                  &returned));
  EXPECT_TRUE(IsEqualGUID(PIN_CATEGORY_CAPTURE, category));
  EXPECT_EQ(sizeof(GUID), returned);
  returned = 0;
  EXPECT_EQ(E_UNEXPECTED, properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 8,
                                          &returned));
  EXPECT_EQ(sizeof(GUID), returned) << "a short buffer learns the size it needs";
  EXPECT_EQ(E_POINTER, properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 16, &returned));
  EXPECT_EQ(E_POINTER, properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 16, nullptr));
  EXPECT_EQ(E_PROP_SET_UNSUPPORTED, properties->Get(GUID_NULL, 0, nullptr, 0, &category, 16, &returned));
  EXPECT_EQ(E_PROP_ID_UNSUPPORTED, properties->Get(AMPROPSETID_Pin, 1, nullptr, 0, &category, 16, &returned));
  EXPECT_EQ(E_NOTIMPL, properties->Set(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 16));
  DWORD support = 0;
  EXPECT_EQ(S_OK, properties->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &support));
  EXPECT_EQ(static_cast<DWORD>(KSPROPERTY_SUPPORT_GET), support);
  EXPECT_EQ(E_POINTER, properties->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr));
  EXPECT_EQ(E_PROP_SET_UNSUPPORTED, properties->QuerySupported(GUID_NULL, 0, &support));

  // The property set is the pin's: it leads back to the same pin and the same filter.
  ComPtr<IPin> back;
  ASSERT_EQ(S_OK, properties.query(&back));
  EXPECT_EQ(pin.get(), back.get());
  ComPtr<IUnknown> pinUnknown, setUnknown;
  pin.query(&pinUnknown);
  properties.query(&setUnknown);
  EXPECT_EQ(pinUnknown.get(), setUnknown.get());
  PIN_INFO info{};
  ASSERT_EQ(S_OK, back->QueryPinInfo(&info));
  EXPECT_EQ(filter.get(), info.pFilter);
  if (info.pFilter) info.pFilter->Release();
}

}  // namespace
