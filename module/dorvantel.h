#pragma once
// What a host may rely on when it uses the desktop source: the class it creates, the names
// of the settings its IPropertyBag takes, the values those settings take and the layouts of
// the values passed by pointer. The library builds on these same definitions; hosts and
// tests include this header and nothing else of the library to talk to the filter.

#include <windows.h>

#include <cstddef>

// {924BCD16-2927-4D6B-A385-476A9C4D41B7}
inline constexpr CLSID CLSID_DesktopSource = {0x924bcd16, 0x2927, 0x4d6b, {0xa3, 0x85, 0x47, 0x6a, 0x9c, 0x4d, 0x41, 0xb7}};
// The filter's name, and the name of the capture device registered for it.
inline constexpr wchar_t DesktopSourceName[] = L"Dorvantel";

// The filter's property page, which its ISpecifyPropertyPages names: the capture settings of
// the filter it is opened on. Registered with the filter, served by the same library.
// {3A499195-E1E6-487A-A238-7FF89B93A60B}
inline constexpr CLSID CLSID_DesktopSourcePage = {0x3a499195, 0xe1e6, 0x487a, {0xa2, 0x38, 0x7f, 0xf8, 0x9b, 0x93, 0xa6, 0x0b}};
inline constexpr wchar_t DesktopSourcePageName[] = L"Dorvantel capture";

// The settings of IPropertyBag::Write. A name is taken when it begins with one of these.
namespace SourceProperty {
inline constexpr wchar_t IncludeCursor[] = L"IncludeCursor";                          // VT_BOOL
inline constexpr wchar_t CaptureTransparentWindows[] = L"CaptureTransparentWindows";  // VT_BOOL
inline constexpr wchar_t FrameRateMode[] = L"FrameRateMode";                          // a SourceRateMode
inline constexpr wchar_t FrameRate[] = L"FrameRate";                                  // frames per second
inline constexpr wchar_t CaptureArea[] = L"CaptureArea";                              // a SourceArea
// Area 1: a RECT by pointer; area 2: a window handle in lVal; area 3: a WindowRegion by
// pointer; area 4: a monitor's number in lVal.
inline constexpr wchar_t CaptureValue[] = L"CaptureValue";
inline constexpr wchar_t OutputDimensions[] = L"OutputDimensions";    // an OutputDimensions by pointer
inline constexpr wchar_t InterpolationMode[] = L"InterpolationMode";  // a GDI+ InterpolationMode, or kInterpolationFast
inline constexpr wchar_t FramePacing[] = L"FramePacing";              // VT_BOOL
inline constexpr wchar_t WindowTitle[] = L"WindowTitle";              // a BSTR
inline constexpr wchar_t OutputFormat[] = L"OutputFormat";            // a BSTR of OutputFormatNames
}  // namespace SourceProperty

// The ranges of the settings, each written once. A value outside its range is refused
// (E_INVALIDARG from the property bag and IPersistPropertyBag::Load, VFW_E_INVALIDMEDIATYPE
// from IAMStreamConfig::SetFormat, a usage error from the recorder and the register tool)
// and changes nothing.
namespace SourceLimits {
// FrameRate through the property bag and Load, in frames a second. The frame interval is
// 10,000,000 / rate in 100-ns units, truncated: rates above 3,198 read back rounded (6,000
// reads 6,002), and past 10,000,000 no interval is left.
inline constexpr LONG kMinBagFrameRate = 1;
inline constexpr LONG kMaxBagFrameRate = 10000000;
// The rates IAMStreamConfig offers and SetFormat takes, and what --rate of the recorder and
// of the register tool takes.
inline constexpr LONG kMinFrameRate = 1;
inline constexpr LONG kMaxFrameRate = 1000;
// Output width and height (OutputDimensions through the bag and Load, SetFormat, --size): the
// largest frame the pin offers, grabs and sizes its buffers for.
inline constexpr LONG kMinOutputSide = 1;
inline constexpr LONG kMaxOutputSide = 8192;
// WindowTitle through the bag and Load, in characters; a longer title could never match.
inline constexpr size_t kMaxWindowTitleLength = 511;
// A monitor's number (CaptureValue in area 4, the tools' --monitor).
inline constexpr LONG kMinMonitor = 1;
inline constexpr LONG kMaxMonitor = 32;
}  // namespace SourceLimits

// The values of CaptureArea. Rectangles of the screen are in screen coordinates: the primary
// monitor's corner is 0,0, and a monitor left of it or above it has negative coordinates.
// What a rectangle holds outside every monitor is black.
//
// Every rectangle, size and position is in physical pixels, whatever the display's scale and
// whatever DPI awareness the host declared: at 150 % a 1920x1080 monitor is 1920x1080 here,
// though a DPI-unaware host is shown 1280x720. A window's frames have the size the screen shows
// the window at (a DPI-unaware window, which the system stretches, included), and a rectangle
// of area 3 is relative to its corner in those pixels.
//
// Monitors are numbered one way by the filter and every program: 1 is the primary, then the
// others by their left edge, then by their top edge. A number stays with its monitor while the
// layout does not change. Areas 4 and 5 take their rectangle when they are written and again
// each time streaming starts (Pause from Stopped), so a layout changed between runs is
// followed; a connected pin keeps its frame size (the monitor's corner with the connected
// size). A monitor that is missing then gives black frames of the primary monitor's size
// until a later start finds it. A layout that changes while streaming keeps the rectangle:
// what no monitor shows any longer is black.
enum SourceArea : LONG {
  kAreaDisplay = 0,          // the primary monitor (the rectangle it had when the filter was made)
  kAreaScreenRectangle = 1,  // a rectangle of the screen, on any monitor or across them
  kAreaWindow = 2,           // a whole window
  kAreaWindowRectangle = 3,  // a rectangle relative to a window's corner
  kAreaMonitor = 4,          // one monitor, by its number (CaptureValue; 1 until one is written)
  kAreaDesktop = 5,          // the whole virtual desktop: every monitor
};

// The values of FrameRateMode: how the samples are stamped.
enum SourceRateMode : LONG {
  kRateByFrameCount = 0,  // frame n starts at n frame intervals
  kRateByGrabLength = 1,  // back to back, each lasting twice its own grab
  kRateByGrabTimes = 2,   // from the start to the end of its grab
};

// InterpolationMode: the filter's own scaler (area average when shrinking, bilinear when growing).
inline constexpr LONG kInterpolationFast = 100;

// OutputFormat's names, in the order hosts are offered their formats (RGB32 first); matched in
// any case. rgb555 is 5-5-5 described with BI_RGB; the pin's own list of five has 5-5-5
// described with BI_BITFIELDS and its masks instead, and offers that description after the
// BI_RGB one when rgb555 is chosen. rgb8's pixels are 3-3-2 indices (red in the top three bits,
// blue in the lowest two) into the colour table its media type carries, which lists those
// colours. i420 (also taken as IYUV), nv12 and yuy2 are BT.601 limited-range YUV (16-235 luma),
// top row first, laid out with no padding between rows: I420 a Y plane of width x height bytes,
// then U and V planes of ceil(width / 2) x ceil(height / 2); NV12 the Y plane, then interleaved
// U,V pairs in ceil(height / 2) rows of ceil(width / 2) pairs; YUY2 rows of ceil(width / 2)
// Y0 U Y1 V groups (a last odd pixel's group repeats it).
inline constexpr const wchar_t* OutputFormatNames[] = {L"rgb32", L"rgb24", L"rgb565", L"rgb555",
                                                       L"rgb8",  L"i420",  L"nv12",   L"yuy2"};

// CaptureValue in area 3: the window handle at the build's pointer width, then a rectangle
// relative to the window's corner.
struct WindowRegion {
  HWND window;
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
#ifdef _WIN64
static_assert(sizeof(WindowRegion) == 24 && offsetof(WindowRegion, left) == 8, "64-bit WindowRegion layout");
#else
static_assert(sizeof(WindowRegion) == 20 && offsetof(WindowRegion, left) == 4, "32-bit WindowRegion layout");
#endif

// OutputDimensions: the width and height of the frames, two LONGs.
struct OutputDimensions {
  LONG width;
  LONG height;
};
static_assert(sizeof(OutputDimensions) == 8 && offsetof(OutputDimensions, height) == 4, "OutputDimensions layout");
static_assert(sizeof(RECT) == 16, "CaptureValue's rectangle in area 1");
