#include "module/filter_registration.h"

#include "capture/desktop_source.h"

namespace {

const REGPINTYPES OutputPinTypes = {&MEDIATYPE_Video, &MEDIASUBTYPE_NULL};

const REGFILTERPINS OutputPin = {
    const_cast<LPWSTR>(L"Output"),  // strName
    FALSE,                          // bRendered
    TRUE,                           // bOutput
    FALSE,                          // bZero
    FALSE,                          // bMany
    &CLSID_NULL,                    // clsConnectsToFilter
    nullptr,                        // strConnectsToPin
    1,                              // nMediaTypes
    &OutputPinTypes,                // lpMediaType
};

}  // namespace

const FilterRegistration DesktopSourceRegistration = {
    &CLSID_DesktopSource, DesktopSourceName, MERIT_DO_NOT_USE, 1, &OutputPin,
};
