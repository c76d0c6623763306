// The capability query of a printer object: whether one is needed, the two
// options that steer it, the 33 requests in their fixed order and the cache
// write after it; and the export of the capability record to a log file.
#include <cwchar>

#include "devcaps/forms.h"
#include "devcaps/list_queries.h"
#include "devcaps/lowlevel_query.h"
#include "devcaps/named_lists.h"
#include "devcaps/resolutions.h"
#include "devcaps/scalar_queries.h"
#include "platform/kernel.h"
#include "printer/printer.h"

namespace {

constexpr const WCHAR* kGenericTextDriver = L"Generic / Text Only";

// Puts a new block in place of an old one (normally there is none: a query
// starts from cleared buffers).
template <class T>
void Replace(T*& slot, T* block) {
    if (slot && slot != block) platform::HeapFreeBlock(slot);
    slot = block;
}

}  // namespace

void CPrinter::Query(BOOL force, PFN_QUERY_PROGRESS progress, LPVOID context) {
    TraceLogWrite(LibraryLog, 0, L"CPrinter::Query => \n");
    if (!bAvailable) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::Query => printer is not available for query\n");
        return;
    }
    if (force) {
        ClearQueryBuffers();
    } else if (queryBuffers.bFilled) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::Query => already have query data\n");
        return;
    }

    const WCHAR* driverName = pDriverInfo ? pDriverInfo->pName : nullptr;
    if (driverName) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::Query => using generic driver.... unicode: %s\n", driverName);
        // Only the exact spelling, code unit for code unit: the driver ships
        // under that one name (a locale-aware comparison could match others).
        if (std::wcscmp(driverName, kGenericTextDriver) == 0) {
            TraceLogWrite(LibraryLog, 0, L"CPrinter::Query => using generic driver...\n");
            queryBuffers.dwAnsiOnly = 1;
        }
    } else {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::Query => no driver name to check against AnsiOnly\n");
    }

    LookUpQueryOption(L"AnsiOnly", &queryBuffers.dwAnsiOnly, L"CPrinter::Query => ansionly: %d\n");
    LookUpQueryOption(L"IgnoreLogPixels", &dwIgnoreLogPixels, L"CPrinter::Query => IgnoreLogPixels: %d\n");

    QueryCapabilities(0, progress, context);

    queryBuffers.bFilled = 1;
    TraceLogWrite(LibraryLog, 0, L"CPrinter::Query => queried, now caching data\n");
    if (!SaveToCache()) TraceLogWrite(LibraryLog, 0, L"CPrinter::Query => failed to cache data...\n");
}

void CPrinter::QueryCapabilities(BOOL defaultsOnly, PFN_QUERY_PROGRESS progress, LPVOID context) {
    TraceLogWrite(LibraryLog, 0, L"CPrinter::QueryCapabilities => \n");

    LPCWSTR name = nullptr;
    if (defaultsOnly) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::QueryCapabilities => returning defaults only\n");
    } else if (!pPI2) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::QueryCapabilities => no printer info?  how do we query?\n");
        return;
    } else {
        name = pPI2->pPrinterName;
    }
    const LPCWSTR port = pPI2 ? pPI2->pPortName : nullptr;
    const LPCWSTR driver = pPI2 ? pPI2->pPrintProcessor : nullptr;
    const DEVMODEW* dm = pDefDM;
    QueryBuffers& qb = queryBuffers;

    auto report = [&](const WCHAR* text, DWORD percent) {
        if (progress) progress(context, text, percent);
    };

    report(L"Querying Bins", 0);
    Replace(qb.pBins, vlibPRINT_QueryDevCap_Bins(name, port, dm));
    qb.dwCollate = vlibPRINT_QueryDevCap_Collate(name, port, dm);
    qb.dwCopies = vlibPRINT_QueryDevCap_Copies(name, port, dm);
    qb.dwDriver = vlibPRINT_QueryDevCap_Driver(name, port, dm);
    qb.dwDuplex = vlibPRINT_QueryDevCap_Duplex(name, port, dm);
    qb.dwExtra = vlibPRINT_QueryDevCap_Extra(name, port, dm);
    qb.dwFields = vlibPRINT_QueryDevCap_Fields(name, port, dm);

    report(L"Querying Extents", 7);
    Replace(qb.pFiles, vlibPRINT_QueryDevCap_Files(name, port, dm, &qb.dwNumFiles, &qb.dwSizeOfFiles));
    qb.dwMaxExtent = vlibPRINT_QueryDevCap_MaxExtent(name, port, dm);
    qb.dwMinExtent = vlibPRINT_QueryDevCap_MinExtent(name, port, dm);
    qb.dwOrientation = vlibPRINT_QueryDevCap_Orientation(name, port, dm);
    qb.dwDevModeSize = vlibPRINT_QueryDevCap_Size(name, port, dm);
    qb.dwTrueType = vlibPRINT_QueryDevCap_TrueType(name, port, dm);
    qb.dwVersion = vlibPRINT_QueryDevCap_Version(name, port, dm);

    report(L"Querying Medias", 14);
    {
        // Systems before major version 5 do not know these indexes: ask for
        // the defaults. The media type list needs minor version 1 or more (the
        // minor version alone is compared, as the product always did).
        const bool modern = osvi.dwMajorVersion >= 5;
        const LPCWSTR gName = modern ? name : nullptr;
        const LPCWSTR gPort = modern ? port : nullptr;
        const DEVMODEW* gDm = modern ? dm : nullptr;
        qb.dwColor = vlibPRINT_QueryDevCap_Color(gName, gPort, gDm);
        Replace(qb.pNUP, vlibPRINT_QueryDevCap_NUP(gName, gPort, gDm, &qb.dwNumNUP, &qb.dwSizeOfNUP));
        Replace(qb.pPersonality, vlibPRINT_QueryDevCap_Personality(gName, gPort, gDm, &qb.dwNumPersonality,
                                                                   &qb.dwSizeOfPersonality));
        qb.dwPrinterMem = vlibPRINT_QueryDevCap_PrinterMem(gName, gPort, gDm);
        qb.dwPrintRate = vlibPRINT_QueryDevCap_PrintRate(gName, gPort, gDm);
        qb.dwPrintRatePPM = vlibPRINT_QueryDevCap_PrintRatePPM(gName, gPort, gDm);
        qb.dwPrintRateUnit = vlibPRINT_QueryDevCap_PrintRateUnit(gName, gPort, gDm);
        qb.dwStaple = vlibPRINT_QueryDevCap_Staple(gName, gPort, gDm);
        Replace(qb.pMediaReady, vlibPRINT_QueryDevCap_MediaReady(gName, gPort, gDm, &qb.dwNumMediaReady,
                                                                 &qb.dwSizeOfMediaReady));
        if (modern) {
            const bool withMinor = osvi.dwMinorVersion >= 1;
            Replace(qb.pMedias, vlibPRINT_QueryDevCap_Medias(withMinor ? name : nullptr, withMinor ? port : nullptr,
                                                             withMinor ? dm : nullptr));
        }
    }

    report(L"Querying Datatypes", 30);
    qb.dwDatatype = vlibPRINT_QueryDevCap_Datatype(name, port, dm);
    qb.dwEMF = vlibPRINT_QueryDevCap_EMF(name, port, dm);
    qb.dwManufacturer = vlibPRINT_QueryDevCap_Manufacturer(name, port, dm);
    qb.dwModel = vlibPRINT_QueryDevCap_Model(name, port, dm);

    report(L"Querying Papers", 40);
    Replace(qb.pPapers, vlibPRINT_QueryDevCap_Papers(name, port, dm));

    report(L"Querying Resolutions", 50);
    Replace(qb.pResolutions, vlibPRINT_QueryDevCap_Resolutions(name, port, driver, dm, &qb.dwNumResolutions,
                                                               &qb.dwSizeOfResolutions));
    qb.dwIndexedResolutionsOnly = qb.pResolutions ? 0 : 1;
    Replace(qb.pResolutionsIndexed,
            vlibPRINT_QueryDevCap_ResolutionsIndexed(name, port, driver, dm, &qb.dwNumResolutionsIndexed,
                                                     &qb.dwSizeOfResolutionsIndexed));

    report(L"Querying Forms", 70);
    Replace(qb.pForms, vlibPRINT_QueryDevCap_Forms(name, port, driver, dm, qb.pPapers, qb.pResolutions,
                                                   qb.dwNumResolutions, qb.dwIndexedResolutionsOnly,
                                                   qb.pResolutionsIndexed, qb.dwNumResolutionsIndexed,
                                                   &qb.dwNumForms, &qb.dwSizeOfForms, dwIgnoreLogPixels));

    report(L"Querying System Caps", 90);
    Replace(qb.pLowLevel, vlibPRINT_QueryDevCap_LowLevel(name, driver, dm));

    report(L"Query Complete", 100);
    TraceLogWrite(LibraryLog, 0, L"CPrinter::QueryCapabilities => query of dev caps completed successfully\n");
}

void CPrinter::ExportCapsLog(std::wstring path) {
    TraceLogWrite(LibraryLog, 0, L"CPrinter::ExportCapsLog => %s\n", path.c_str());
    if (!queryBuffers.bFilled) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::ExportCapsLog => not queried yet, nothing to export\n");
        return;
    }
    caps4* record = SerializeCaps4();
    if (!record) {
        TraceLogWrite(LibraryLog, 0, L"CPrinter::ExportCapsLog => don't have caps, failing\n");
        return;
    }
    // A logger that cannot be created is null, and the dump then writes nothing.
    TraceLog* exportLog = TraceLogCreate(path.c_str(), 0);
    LogCaps4(exportLog, record);
    if (exportLog) TraceLogDestroy(exportLog);
    platform::HeapFreeBlock(record);
}
