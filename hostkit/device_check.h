#pragma once
// The check behind "my program does not see the device": what programs of one bitness find
// of the desktop source's devices in their registry view, each device tried as a host tries
// it (listed by the system device enumerator, its library loaded and its filter created,
// the moniker bound with its stored settings, one frame grabbed), and the answer in words a
// user understands. A tool checks its own bitness's view; the other view is checked by the
// other bitness's tool, whose answer comes back as text (ViewText, ReadViewText) and is
// merged into one report. COM must be initialised on the calling thread.

#include <windows.h>

#include <string>
#include <vector>

namespace dorvantel {

// How long a test grab waits for its first frame, and a check for the other bitness's tool.
inline constexpr DWORD kCheckGrabMs = 5000, kCheckOtherMs = 120000;

struct CheckedDevice {
  std::wstring key;                    // its registry key
  std::wstring name;                   // its friendly name (the key when it has none)
  bool ours = true;                    // a device of the desktop source
  bool listed = false;                 // programs of this bitness list it
  bool works = false;                  // listed, opens and gives frames (or waits for its window)
  std::vector<std::wstring> problems;  // one line each
  std::vector<std::wstring> notes;     // worth knowing, not wrong
};

struct ViewCheck {
  int bits = 0;  // whose view: 32 or 64
  std::vector<CheckedDevice> devices;
};

// Checks this process's view; grabMs: how long a test grab may wait for its first frame.
HRESULT CheckThisView(DWORD grabMs, ViewCheck* view, std::wstring* error);

// A view's check as lines of text, and back (false: not such text).
std::wstring ViewText(const ViewCheck& view);
bool ReadViewText(const std::wstring& text, ViewCheck* view);

// One device over the views checked: which programs list it and whether it works for every
// bitness expected, with what the check found, one line each ("32-bit programs: ...").
struct DeviceVerdict {
  std::wstring key;
  std::wstring name;
  bool ours = true;
  std::vector<int> seenBy;  // the bitnesses (of those expected) whose programs list it
  bool works = false;       // ours, and working for every bitness expected
  std::vector<std::wstring> lines;
};
// Every device by its key, in the order the views list them.
std::vector<DeviceVerdict> Verdicts(const std::vector<ViewCheck>& views, const std::vector<int>& expected);
// Its line in the report: whose it is, who sees it, whether it works.
std::wstring VerdictText(const DeviceVerdict& device);
// The summary's words: how many devices of ours work for whom, how many have problems.
std::wstring CheckSummary(const std::vector<DeviceVerdict>& verdicts, const std::vector<int>& expected);
// Which programs list it, in a word: "64-bit", "32-bit", "both" or "none".
std::wstring ProgramsWord(const std::vector<int>& seenBy);

// The whole check: this view, and unless thisBitness the other one through the other
// bitness's register tool (waited for otherMs at most). expected: the bitnesses checked;
// unchecked: why the other one was not, when it was asked for and could not be.
struct CheckRun {
  std::vector<ViewCheck> views;
  std::vector<int> expected;
  std::wstring unchecked;
};
HRESULT RunCheck(bool thisBitness, DWORD grabMs, DWORD otherMs, CheckRun* run, std::wstring* error);

// The report of the views checked (one or both), with the summary as its last line; *allGood
// when every device of the desktop source works for every bitness named in expected. With
// cameras, each device of ours also gets its Windows camera's line (WindowsCameraLine: on,
// off, or not available on this system), which does not count for *allGood.
std::wstring CheckReport(const std::vector<ViewCheck>& views, const std::vector<int>& expected, bool* allGood,
                         bool cameras = false);

}  // namespace dorvantel
