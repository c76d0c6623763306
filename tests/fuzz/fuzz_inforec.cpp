// Printer info records of every version: dumps, conversions between versions,
// the registry list (one value read back, a block of records walked).
#include "print/dump_text.h"
#include "printer/printer_keys.h"
#include "records/printer_info_dump.h"
#include "records/printer_info_registry.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// A conversion carries names, Status, DEVMODE area and capability record over.
template <class To, class From>
void Converted(FuzzBlock& block, To* (*convert)(const From*)) {
    const From* from = block.as<From>();
    DWORD capsSize = 0, toCapsSize = 0;
    const caps4* caps = vlibPRINT_KVPICaps(from, from->dwSize, &capsSize);
    To* to = convert(from);
    FUZZ_EXPECT(!to == !caps);
    const caps4* toCaps = to ? vlibPRINT_KVPICaps(to, to->dwSize, &toCapsSize) : nullptr;
    FUZZ_EXPECT(!to || (to->dwSize == sizeof(To) + capsSize && toCaps && toCapsSize == capsSize &&
                        !std::memcmp(toCaps, caps, capsSize) && to->Status == from->Status &&
                        !std::memcmp(to->szNativePrinterName, from->szNativePrinterName, 9 * sizeof(from->szServerName)) &&
                        !std::memcmp(&to->DevMode, &from->DevMode, sizeof(from->DevMode))));
    vlibPRINT_LogKVPI4(FuzzLog(), reinterpret_cast<const KVPrinterInfo401*>(to));
    platform::HeapFreeBlock(to);
}

}  // namespace

int FuzzInput(const uint8_t* data, size_t size) {
    FuzzBlock input(data, size, size);
    vlibPRINT_LogKVPI4(FuzzLog(), input.as<KVPrinterInfo401>(), size);
    vlibPRINT_LogKVPI2(FuzzLog(), input.as<KVPrinterInfo2>(), size);

    // The conversions and the dumps that trust dwSize take a record of that length.
    FuzzBlock exact(data, size, std::max(size, sizeof(KVPrinterInfo402)));
    exact.as<KVPrinterInfo400>()->dwSize = static_cast<DWORD>(exact.bytes.size());
    vlibPRINT_LogKVPI4(FuzzLog(), exact.as<KVPrinterInfo401>());
    vlibPRINT_LogKVPI2(FuzzLog(), exact.as<KVPrinterInfo2>());
    Converted(exact, vlibPRINT_ConvertKVPI400to401);
    Converted(exact, vlibPRINT_ConvertKVPI400to402);
    Converted(exact, vlibPRINT_ConvertKVPI401to402);

    // The value as the registry holds it: a record comes back whole or not at all.
    fuzzRegistry = {{std::wstring(kPrintersKey) + L"\\P\\PrinterData4", std::vector<BYTE>(data, data + size)}};
    KVPrinterInfo401* loaded = vlibPRINT_LoadKVPrinterInfoFromRegistry(L"P");
    FUZZ_EXPECT(!loaded || (loaded->dwSize == size && !std::memcmp(loaded, data, size)));
    platform::HeapFreeBlock(loaded);

    // The records that lie whole in the input, stored as a list: the walk
    // stores those before the first one the check refuses that have a name,
    // and the last one stored is read back under its name.
    DWORD count = 0, named = 0;
    size_t at = 0, last = 0;
    for (DWORD length; size - at >= sizeof(KVPrinterInfo401); at += length, ++count) {
        length = Read<DWORD>(data + at);
        if (length < sizeof(KVPrinterInfo401) || length > size - at) break;
        const auto* record = reinterpret_cast<const KVPrinterInfo401*>(input.bytes.data() + at);
        if (!vlibPRINT_CheckKVPI4(record, nullptr, 0)) {
            ++count;  // the walk meets it and ends there
            break;
        }
        if (record->szPrinterName[0]) last = at, ++named;
    }
    fuzzRegistry.clear();
    FUZZ_EXPECT(vlibPRINT_SetKVPrinterInfo(16, 1, 2, count, input.as<KVPrinterInfo401>(), L"", L"user") == (named > 0));
    if (!named) return 0;
    const auto* record = reinterpret_cast<const KVPrinterInfo401*>(input.bytes.data() + last);
    KVPrinterInfo401* back = vlibPRINT_LoadKVPrinterInfoFromRegistry(dumptext::SlotText(record->szPrinterName).get());
    FUZZ_EXPECT(back && back->dwSize == record->dwSize && !std::memcmp(back, record, record->dwSize));
    platform::HeapFreeBlock(back);
    return 0;
}
