// The spooler's notification data as the notification thread takes it: a
// PRINTER_NOTIFY_INFO of the input's count, each entry of any type and field,
// a text's bytes in a block of exactly its cbBuf, or no block at all. Each
// input is one wake-up of a thread started and stopped on one printer object.
#include "printer/printer.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

PPRINTER_NOTIFY_INFO given;
int waits, told;
bool opens;
LPTHREAD_START_ROUTINE routine;
void* routineArgument;

HANDLE WINAPI Event(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR) { return reinterpret_cast<HANDLE>(2); }
BOOL WINAPI Yes(HANDLE) { return TRUE; }
DWORD WINAPI WaitOne(HANDLE, DWORD) { return WAIT_OBJECT_0; }
// One change, then the thread's own stop.
DWORD WINAPI WaitMany(DWORD, const HANDLE*, BOOL, DWORD) { return waits++ ? WAIT_OBJECT_0 : WAIT_OBJECT_0 + 1; }
HANDLE WINAPI Thread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID argument, DWORD, LPDWORD) {
    return routine = start, routineArgument = argument, reinterpret_cast<HANDLE>(3);
}
void WINAPI Nap(DWORD) {}
// One thread: no callback is ever running while a stop waits for one.
BOOL WINAPI Sleeps(PCONDITION_VARIABLE, PCRITICAL_SECTION, DWORD) { return TRUE; }
void WINAPI Wakes(PCONDITION_VARIABLE) {}
BOOL WINAPI Open(LPWSTR, LPHANDLE printer, LPPRINTER_DEFAULTSW) { return *printer = reinterpret_cast<HANDLE>(1), opens; }
HANDLE WINAPI First(HANDLE, DWORD, DWORD, LPVOID) { return reinterpret_cast<HANDLE>(4); }
BOOL WINAPI Next(HANDLE, PDWORD change, LPVOID, LPVOID* info) { return *change = 0, *info = given, TRUE; }
BOOL WINAPI FreeInfo(PPRINTER_NOTIFY_INFO) { return TRUE; }
HANDLE WINAPI NoFile(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) { return INVALID_HANDLE_VALUE; }
boost::shared_ptr<_PRINTER_CHANGE> held;  // the first change record, which the full list must leave alone
// The newest record of the (full) change list is the change told.
void WINAPI Told(LPVOID printer, LPCWSTR change, DWORD field) {
    const _PRINTER_CHANGE& newest = *static_cast<CPrinter*>(printer)->lstChanges.back();
    FUZZ_EXPECT(change && *change && newest.strChange == change && newest.dwField == field), ++told;
}

CPrinter* Printer() {
    static CPrinter* printer = [] {
        platform::kernel = {Event, Yes, Yes, WaitOne, WaitMany, Thread, Nap, Yes, Sleeps, Wakes};
        platform::spooler.OpenPrinterW = Open;
        platform::spooler.ClosePrinter = Yes;
        platform::spooler.FindFirstPrinterChangeNotification = First;
        platform::spooler.FindNextPrinterChangeNotification = Next;
        platform::spooler.FreePrinterNotifyInfo = FreeInfo;
        platform::spooler.FindClosePrinterChangeNotification = Yes;
        platform::files.CreateFileW = NoFile;
        auto* made = new CPrinter(FuzzLog(), L"P", 0, 1);  // not available: the spooler opens nothing yet
        made->RegisterForPrinterNotify(0, Told, made);
        held = made->lstChanges.front();  // and the list starts full: each input's records are its oldest ones
        while (made->lstChanges.size() < kMaxPrinterChanges) made->lstChanges.emplace_back(new _PRINTER_CHANGE{});
        opens = true;
        return made;
    }();
    return printer;
}

}  // namespace

int FuzzInput(const uint8_t* data, size_t size) {
    CPrinter* printer = Printer();
    // Count (1 byte), then per entry: Type, Field, Id (low byte), flags, cbBuf (1 byte each), the text's bytes.
    const DWORD count = size ? data[0] : 0;
    std::vector<BYTE> info(offsetof(PRINTER_NOTIFY_INFO, aData) + std::max<DWORD>(count, 1) * sizeof(PRINTER_NOTIFY_INFO_DATA));
    given = reinterpret_cast<PPRINTER_NOTIFY_INFO>(info.data());
    given->Version = 2, given->Count = count;
    std::vector<std::vector<BYTE>> texts(count);
    int known = 0;
    for (size_t i = 0, at = 1; i < count; ++i) {
        BYTE head[5] = {};
        for (BYTE& b : head) b = at < size ? data[at++] : 0;
        PRINTER_NOTIFY_INFO_DATA& entry = given->aData[i];
        entry.Type = head[0] & 1 ? JOB_NOTIFY_TYPE : head[0] & 2 ? 7 : PRINTER_NOTIFY_TYPE;
        entry.Field = head[1] & 0x7F, entry.Id = head[2];
        entry.NotifyData.Data.cbBuf = head[4];
        texts[i].assign(data + std::min(at, size), data + std::min(at + head[4], size));
        texts[i].resize(head[4]);
        at += head[4];
        entry.NotifyData.Data.pBuf = head[3] & 1 || texts[i].empty() ? nullptr : texts[i].data();
        known += entry.Type != 7 && entry.Field < (entry.Type == JOB_NOTIFY_TYPE ? kJobNotifyFields : kPrinterNotifyFields);
    }
    waits = told = 0;
    printer->StartPrinterNotifyThread();
    FUZZ_EXPECT(routine);
    routine(routineArgument);
    routine = nullptr;
    printer->StopPrinterNotifyThread();
    // Every change of a known type and field is told to the one registration, once; the list stays full.
    FUZZ_EXPECT(told == known && printer->lstChanges.size() == kMaxPrinterChanges && held->strChange == L"started monitoring");
    return 0;
}
