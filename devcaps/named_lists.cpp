#include "devcaps/named_lists.h"

#include "log/trace_log.h"
#include "platform/guard.h"
#include "platform/kernel.h"

namespace {

struct NamedListSpec {
    const WCHAR* function;
    WORD index;
    DWORD entryBytes;
    size_t slotChars;  // name slot width in UTF-16 units; 0: the entries are 32-bit numbers
    bool recount;      // a positive first count is asked for once more
    const WCHAR* firstLine;
    const WCHAR* badParametersLine;
    const WCHAR* countLine;
    const WCHAR* changedLine;  // (count, fetch answer)
    const WCHAR* entryLine;    // (index, name or value)
    const WCHAR* dumpFaultLine;
};

const NamedListSpec kFiles = {
    L"vlibPRINT_QueryDevCap_Files", DC_FILEDEPENDENCIES, kFileNameBytes, kFileNameChars, false,
    L"vlibPRINT_QueryDevCap_Files => DC_FILEDEPENDENCIES\n",
    L"vlibPRINT_QueryDevCap_Files => bad parameters\n",
    L"vlibPRINT_QueryDevCap_Files => number of files: %d\n",
    L"vlibPRINT_QueryDevCap_Files => !WARNING! number of files changed %d => %d\n",
    L"\t\tfile %d: %s\n",
    L"threw exception while trying to print file information\n",
};

const NamedListSpec kNup = {
    L"vlibPRINT_QueryDevCap_NUP", DC_NUP, kNupBytes, 0, true,
    L"vlibPRINT_QueryDevCap_NUP => DC_NUP\n",
    L"vlibPRINT_QueryDevCap_NUP => bad parameters\n",
    L"vlibPRINT_QueryDevCap_NUP => number of NUP: %d\n",
    L"vlibPRINT_QueryDevCap_NUP => numNUP changed, %d => %d\n",
    L"\t\tNUP %d: %d\n",
    L"threw exception while trying to print NUP's\n",
};

const NamedListSpec kPersonality = {
    L"vlibPRINT_QueryDevCap_Personality", DC_PERSONALITY, kPersonalityBytes, kPersonalityChars, true,
    L"vlibPRINT_QueryDevCap_Personality => DC_PERSONALITY\n",
    L"vlibPRINT_QueryDevCap_Personality => bad parameters\n",
    L"vlibPRINT_QueryDevCap_Personality => number of personality: %d\n",
    L"vlibPRINT_QueryDevCap_Personality => !WARNING! number of files changed %d => %d\n",
    L"\t\tpersonality %d: %s\n",
    L"threw exception while trying to print file information\n",
};

const NamedListSpec kMediaReady = {
    L"vlibPRINT_QueryDevCap_MediaReady", DC_MEDIAREADY, kMediaReadyBytes, kMediaReadyChars, true,
    L"vlibPRINT_QueryDevCap_MediaReady => DC_MEDIAREADY\n",
    L"vlibPRINT_QueryDevCap_MediaReady => bad parameters\n",
    L"vlibPRINT_QueryDevCap_MediaReady => number of MediaReady: %d\n",
    L"vlibPRINT_QueryDevCap_MediaReady => !WARNING! number of MediaReady changed %d => %d\n",
    L"\t\tmediaready %d: %s\n",
    L"threw exception while trying to print mediaready information\n",
};

static_assert(kFileNameChars == 64 && kPersonalityChars == 32 && kMediaReadyChars == 64);

void Dump(const NamedListSpec& spec, const BYTE* list, int count) {
    const bool ok = platform::Guarded([&] {
        for (int i = 0; i < count; ++i) {
            const BYTE* entry = list + static_cast<size_t>(i) * spec.entryBytes;
            if (spec.slotChars == 0) {
                TraceLogWrite(LibraryLog, 0, spec.entryLine, i, *reinterpret_cast<const int*>(entry));
            } else {
                WCHAR name[kFileNameChars + 1];  // the widest slot, plus a terminator
                CopyNameSlot(name, reinterpret_cast<const WCHAR*>(entry), spec.slotChars);
                TraceLogWrite(LibraryLog, 0, spec.entryLine, i, name);
            }
        }
    });
    if (!ok) TraceLogWrite(LibraryLog, 0, spec.dumpFaultLine);
}

void* QueryNamedList(const NamedListSpec& spec, LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode,
                     DWORD* pdwNum, DWORD* pdwSize) {
    TraceLogWrite(LibraryLog, 0, spec.firstLine);
    if (!pdwNum || !pdwSize) {
        TraceLogWrite(LibraryLog, 0, spec.badParametersLine);
        return nullptr;
    }
    if (!pDevice) {
        TraceLogWrite(LibraryLog, 0, L"using defaults\n");
        *pdwNum = 0;
        *pdwSize = 0;
        return nullptr;
    }
    // The driver may report another count on the second call; the dependent
    // files are counted once.
    int count = platform::spooler.DeviceCapabilitiesW(pDevice, pPort, spec.index, nullptr, pDevMode);
    if (spec.recount) {
        count = count > 0 ? platform::spooler.DeviceCapabilitiesW(pDevice, pPort, spec.index, nullptr, pDevMode) : 0;
    }
    DWORD bytes = 0;
    const bool fits = platform::BlockBytes(count > 0 ? static_cast<DWORD>(count) : 0, spec.entryBytes, &bytes);
    *pdwNum = static_cast<DWORD>(count);
    *pdwSize = bytes;
    TraceLogWrite(LibraryLog, 0, spec.countLine, count);
    // A count no block can hold is dropped like a list that cannot be allocated.
    if (!fits) TraceLogWrite(LibraryLog, 0, L"%s => !WARNING! %d entries do not fit in one block\n", spec.function, count);
    BYTE* list = fits && bytes ? platform::HeapAllocFetchArray<BYTE>(bytes) : nullptr;
    if (!list) {
        *pdwNum = 0;
        *pdwSize = 0;
        return nullptr;
    }
    int answer = 0;
    const WORD index = spec.index;
    bool ran = false;
    try {
        ran = platform::Guarded([&] {
            answer = platform::spooler.DeviceCapabilitiesW(pDevice, pPort, index, reinterpret_cast<LPWSTR>(list),
                                                           pDevMode);
        });
    } catch (...) {
        // Our own code may run out of memory while the list is held: it is
        // freed on that way out too.
        platform::HeapFreeBlock(list);
        throw;
    }
    if (!ran) {
        TraceLogWrite(LibraryLog, 0, L"threw exception\n");
        answer = 0;
    }
    if (answer != count) {
        // No retry: the list is dropped.
        TraceLogWrite(LibraryLog, 0, spec.changedLine, count, answer);
        *pdwNum = 0;
        *pdwSize = 0;
        platform::HeapFreeBlock(list);
        return nullptr;
    }
    Dump(spec, list, count);
    return list;
}

}  // namespace

WCHAR* vlibPRINT_QueryDevCap_Files(LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode, DWORD* pdwNum,
                                   DWORD* pdwSize) {
    return static_cast<WCHAR*>(QueryNamedList(kFiles, pDevice, pPort, pDevMode, pdwNum, pdwSize));
}

DWORD* vlibPRINT_QueryDevCap_NUP(LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode, DWORD* pdwNum,
                                 DWORD* pdwSize) {
    return static_cast<DWORD*>(QueryNamedList(kNup, pDevice, pPort, pDevMode, pdwNum, pdwSize));
}

WCHAR* vlibPRINT_QueryDevCap_Personality(LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode, DWORD* pdwNum,
                                         DWORD* pdwSize) {
    return static_cast<WCHAR*>(QueryNamedList(kPersonality, pDevice, pPort, pDevMode, pdwNum, pdwSize));
}

WCHAR* vlibPRINT_QueryDevCap_MediaReady(LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode, DWORD* pdwNum,
                                        DWORD* pdwSize) {
    return static_cast<WCHAR*>(QueryNamedList(kMediaReady, pDevice, pPort, pDevMode, pdwNum, pdwSize));
}
