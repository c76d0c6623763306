// A scripted print system for the tests. Installing a FakePrintSystem replaces
// the spooler, GDI and version tables of platform/ with functions that answer
// from the printers, drivers and quirks a test sets up; the real tables come
// back when it goes out of scope. Only one FakePrintSystem may live at a time.
//
// Driver quirks that real drivers show and the library must survive:
// - a count that changes between the counting call and the fetch,
// - -1 answers,
// - access violations inside a call (FaultOn / CapAnswer::faultOnCalls):
//   the fake performs a real write to address zero, as a broken driver would.
#pragma once

#include <climits>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

enum class Op {
    EnumPrinters, OpenPrinter, ClosePrinter, DocumentProperties, GetPrinter, SetPrinter, GetPrinterDriver,
    EnumPrinterDrivers, DeviceCapabilities, GetPrinterData, SetPrinterData, DeletePrinterData,
    CreateDC, GetDeviceCaps, ExtEscape, DeleteDC, GetVersionEx, kCount
};

// One recorded platform call.
struct Call {
    Op op;
    std::wstring printer;  // printer name (or the name behind the handle / device context)
    int arg = 0;           // DC_ index, GetDeviceCaps index, escape number, EnumPrintersW's flags,
                           // OpenPrinterW's desired access or GetVersionExW's structure size
    bool withOutput = false;  // DeviceCapabilitiesW: an output buffer was given
    std::wstring text;        // CreateDCW: the driver string; EnumPrinterDriversW: the environment
    std::vector<BYTE> devmode;  // CreateDCW: the DEVMODE as passed (empty: none)
};

// What DeviceCapabilitiesW answers for one index.
struct CapAnswer {
    // Answers of the calls without an output buffer, in order; the last one
    // repeats. Empty: the number of entries.
    std::vector<int> counts;
    // Entries a call with an output buffer copies out, entryWidth bytes each.
    std::vector<BYTE> entries;
    size_t entryWidth = 0;
    // Answer of a call with an output buffer; INT_MIN: the number of entries.
    // Like a real driver, a call with an output buffer copies every entry,
    // whatever it answered when counted.
    int fetchAnswer = INT_MIN;
    // Calls of this index (counting 1, 2, ... over all calls of the index)
    // that fault inside the driver.
    std::set<int> faultOnCalls;
    int calls = 0;    // how many calls of this index were made
    int counted = 0;  // how many of them had no output buffer
};

struct FakePaper {
    WORD id;
    std::wstring name;
    LONG width;   // tenths of a millimetre, portrait
    LONG length;
};

// A printer in location "lab" on port FILE: with the winprint print processor
// and RAW data; its pages have margins of 4.2 mm (about 1/6 inch) all round.
struct FakePrinter {
    std::wstring name;
    std::wstring serverName;
    std::wstring shareName;
    std::wstring driverName = L"Fake Laser Driver";
    std::wstring comment = L"fake printer";  // empty: level-2 information carries a null comment
    DWORD attributes = PRINTER_ATTRIBUTE_LOCAL;
    bool connection = false;  // listed under PRINTER_ENUM_CONNECTIONS instead of PRINTER_ENUM_LOCAL
    bool openable = true;     // OpenPrinterW succeeds

    // The driver's default DEVMODE (public part and driver extra). Empty:
    // DocumentPropertiesW answers 0 to the size request.
    std::vector<BYTE> devmode;
    // Answer of DocumentPropertiesW mode 0 when set; otherwise the DEVMODE's size.
    int documentPropertiesSize = INT_MIN;
    // DEVMODEs of GetPrinterW / SetPrinterW levels 8 (global) and 9 (per user).
    std::vector<BYTE> globalDevmode;
    std::vector<BYTE> userDevmode;

    std::map<WORD, CapAnswer> caps;  // DeviceCapabilitiesW, by index
    std::vector<FakePaper> papers;   // also drive the page metrics of device contexts

    // Device contexts.
    bool ignoresOrientation = false;         // validation keeps the default orientation
    std::map<int, int> indexedDpi = {{-1, 150}, {-2, 300}, {-3, 600}, {-4, 1200}};
    std::map<int, int> deviceCaps;           // fixed GetDeviceCaps answers (TECHNOLOGY, RASTERCAPS, ...)
    std::map<int, int> escapes;              // QUERYESCSUPPORT answers by escape number

    // Printer data values: name -> (type, bytes).
    std::map<std::wstring, std::pair<DWORD, std::vector<BYTE>>> data;

    // Scripting helpers: each sets the DeviceCapabilitiesW answers of its lists.
    void SetPapers(const std::vector<FakePaper>& list);
    void SetBins(const std::vector<std::pair<WORD, std::wstring>>& list);  // (id, name)
    void SetMedia(const std::vector<std::pair<DWORD, std::wstring>>& list);
    void SetResolutions(const std::vector<std::pair<LONG, LONG>>& list);
    // A list of fixed-width names (DC_FILEDEPENDENCIES, DC_PERSONALITY, ...).
    void SetNames(WORD index, size_t slotChars, const std::vector<std::wstring>& names);
    // A list of 32-bit values (DC_NUP, ...).
    void SetValues(WORD index, const std::vector<DWORD>& values);
    CapAnswer& Cap(WORD index) { return caps[index]; }
};

// A driver of the "Windows NT x86" environment; its files, monitor (none),
// data type, manufacturer and the like are fixed.
struct FakeDriver {
    std::wstring name = L"Fake Laser Driver";
    DWORD version = 3;
    std::vector<std::wstring> dependentFiles = {L"fake1.dll", L"fake2.dat"};
    std::vector<std::wstring> previousNames;
    std::wstring provider = L"Fake Provider";
};

// A wide DEVMODE as a driver would return it: dmSize 220, dmSpecVersion 0x0401,
// Letter portrait at 300 dpi, with driverExtra bytes of private data after it.
std::vector<BYTE> MakeDevmode(const std::wstring& deviceName, WORD driverExtra = 64);
inline DEVMODEW* AsDevmode(std::vector<BYTE>& bytes) { return reinterpret_cast<DEVMODEW*>(bytes.data()); }

class FakePrintSystem {
public:
    FakePrintSystem();
    ~FakePrintSystem();

    // A printer with a default DEVMODE, Letter and A4 papers, 300 and 600 dpi,
    // and a driver entry (added when the driver name is new).
    FakePrinter& AddPrinter(const std::wstring& name);
    FakePrinter* Find(const std::wstring& name);
    FakeDriver& AddDriver(const std::wstring& name);

    void SetVersion(DWORD platformId, DWORD major, DWORD minor, DWORD build, const std::wstring& servicePack);

    // EnumPrinterDriversW answers a request for level `asked` with records laid
    // out as level `answered` (a spooler that knows more levels than the caller).
    void AnswerDriverLevelAs(DWORD asked, DWORD answered) { driverLevelAs_[asked] = answered; }

    // The nth call (1-based) of the operation faults inside the "driver".
    void FaultOn(Op op, int nthCall);
    // The nth call (1-based) of the operation fails with the error code (not 0).
    void FailOn(Op op, int nthCall, DWORD error);
    // The nth driver-facing call (1-based: every spooler and GDI call, in the
    // order made) faults inside the "driver".
    void FaultOnDriverCall(int nthCall) { faultOnDriverCall_ = nthCall; }
    // The nth driver-facing call throws std::bad_alloc instead, as the
    // library's own code does when memory runs out.
    void ThrowOnDriverCall(int nthCall) { faultOnDriverCall_ = nthCall, throwOnDriverCall_ = true; }
    int DriverCalls() const { return driverCalls_; }

    int Count(Op op) const { return counts_[static_cast<int>(op)]; }
    const std::vector<Call>& calls() const { return calls_; }
    void ClearCalls() { calls_.clear(); }
    // Calls of the file table (it passes them on to the real files).
    int FileCalls() const { return fileCalls_; }
    // Handles and device contexts handed out and not yet closed / deleted.
    int OpenPrinterHandles() const { return static_cast<int>(handles_.size()); }
    int OpenDCs() const { return static_cast<int>(dcs_.size()); }

private:
    friend struct Tables;  // the spooler, GDI and version functions
    struct DeviceContext {
        std::wstring printer;
        std::vector<BYTE> devmode;
    };
    // Records the call and applies FaultOn; returns the FailOn error (0: go on).
    DWORD Enter(const Call& call);
    const FakeDriver* DriverNamed(const std::wstring& name) const;

    // Deques: references handed out stay valid as more are added.
    std::deque<FakePrinter> printers_;
    std::deque<FakeDriver> drivers_;
    OSVERSIONINFOW version_{};
    int counts_[static_cast<int>(Op::kCount)] = {};
    std::map<std::pair<int, int>, DWORD> failures_;  // (op, call) -> error; 0 = fault
    int driverCalls_ = 0;
    int faultOnDriverCall_ = 0;
    bool throwOnDriverCall_ = false;
    std::map<DWORD, DWORD> driverLevelAs_;
    std::vector<Call> calls_;
    std::map<HANDLE, std::wstring> handles_;  // open printer handles -> printer names
    std::map<HDC, DeviceContext> dcs_;
    uintptr_t nextHandle_ = 0x1000;  // printer handles and device contexts alike
    int fileCalls_ = 0;

    platform::ScopedApi<platform::SpoolerApi> spooler_;
    platform::ScopedApi<platform::GdiApi> gdi_;
    platform::ScopedApi<platform::VersionApi> version_api_;
    platform::ScopedApi<platform::FileApi> files_;
};

}  // namespace fake
