// The spooler's blocks as a print server or a driver fills them: the printer
// enumeration, the printer and driver look-ups and the dumps of what they
// give. The input leads with the levels and the record count; the block
// follows, and its first words (as many as the fourth byte says) are its
// pointer fields. Such a word below 2^32 is an offset from the block's start,
// which is where it points while that is inside the block or within 16 bytes
// of it (the allocator's guard zones, where every read is seen); otherwise it
// stays the address it is.
#include "print/driver_info.h"
#include "print/printer_enum.h"
#include "print/struct_dumps.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Answer {
    const uint8_t* bytes;
    size_t size, words;
    DWORD count;
} answer;

BOOL Hand(LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
    if (returned) *returned = answer.count;
    *needed = static_cast<DWORD>(answer.size);
    if (!buffer || size < answer.size) return SetLastError(ERROR_INSUFFICIENT_BUFFER), FALSE;
    std::memcpy(buffer, answer.bytes, answer.size);
    for (size_t i = 0; i < answer.words && (i + 1) * 8 <= answer.size; ++i) {
        const uint64_t word = Read<uint64_t>(buffer + i * 8);
        const int64_t offset = static_cast<int32_t>(word);
        if (!word || word >> 32 || offset < -16 || offset >= static_cast<int64_t>(answer.size) + 16) continue;
        const uint64_t at = reinterpret_cast<uintptr_t>(buffer) + offset;
        std::memcpy(buffer + i * 8, &at, 8);
    }
    return TRUE;
}

BOOL WINAPI Open(LPWSTR, LPHANDLE printer, LPPRINTER_DEFAULTSW) { return *printer = reinterpret_cast<HANDLE>(1), TRUE; }
BOOL WINAPI Close(HANDLE) { return TRUE; }
BOOL WINAPI Printers(DWORD, LPWSTR, DWORD, LPBYTE b, DWORD n, LPDWORD need, LPDWORD got) { return Hand(b, n, need, got); }
BOOL WINAPI Printer(HANDLE, DWORD, LPBYTE b, DWORD n, LPDWORD need) { return Hand(b, n, need, nullptr); }
BOOL WINAPI Driver(HANDLE, LPWSTR, DWORD, LPBYTE b, DWORD n, LPDWORD need) { return Hand(b, n, need, nullptr); }
BOOL WINAPI Drivers(LPWSTR, LPWSTR, DWORD, LPBYTE b, DWORD n, LPDWORD need, LPDWORD got) { return Hand(b, n, need, got); }

}  // namespace

int FuzzInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    platform::spooler.OpenPrinterW = Open;
    platform::spooler.ClosePrinter = Close;
    platform::spooler.EnumPrintersW = Printers;
    platform::spooler.GetPrinterW = Printer;
    platform::spooler.GetPrinterDriverW = Driver;
    platform::spooler.EnumPrinterDriversW = Drivers;
    TraceLog* log = FuzzLog();
    const DWORD levels[] = {2, 4, 8, 9, 1, 5, 3, 7};
    const DWORD level = levels[data[0] % 8], driverLevel = data[1] % 8;
    answer = {data + 4, size - 4, data[3], data[2]};

    for (const auto& printer : vlibPRINT_EnumeratePrinters(kEnumSelectLocal | kEnumSelectNetwork))
        FUZZ_EXPECT(printer->dwType == kPrinterTypeLocal || printer->dwType == kPrinterTypeNetwork);
    HANDLE printer = reinterpret_cast<HANDLE>(1);
    if (LPBYTE info = vlibPRINT_GetPrinterInfo(printer, level)) {
        if (level == 2) vlibPRINT_LogPI2(log, reinterpret_cast<PRINTER_INFO_2W*>(info));
        if (level == 4) vlibPRINT_LogPI4(log, reinterpret_cast<PRINTER_INFO_4W*>(info));
        if (level == 8 || level == 9) LogDevmode(reinterpret_cast<PRINTER_INFO_8W*>(info)->pDevMode, log);
        platform::HeapFreeBlock(info);
    }
    platform::HeapFreeBlock(GetDriverInfo(printer, driverLevel));
    vlibPRINT_GetDriverName(L"P");
    vlibPRINT_GetNativePrinterShareName(L"P");
    vlibPRINT_GetNativePrinterFullName(L"P");

    // The copy of the driver's record found by name stands on its own.
    if (BYTE* copy = NDGetRemoteDriverInfo(L"", L"D", driverLevel)) {
        FUZZ_EXPECT(!_wcsicmp(driverLevel == 1 ? reinterpret_cast<DRIVER_INFO_1W*>(copy)->pName
                                               : reinterpret_cast<DRIVER_INFO_2W*>(copy)->pName, L"D"));
        platform::HeapFreeBlock(copy);
    }
    return 0;
}
