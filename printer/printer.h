// The printer object: one per printer installed on the machine. It reads at
// construction what the spooler and the driver tell about the printer
// (availability, the driver's default DEVMODE, level-2 information, driver
// information) and holds the printer's capability set in its query buffers.
#pragma once

#include <atomic>
#include <cstddef>
#include <list>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "log/trace_log.h"
#include "platform/platform.h"
#include "printer/printer_notify.h"
#include "records/caps4.h"
#include "records/query_buffers.h"

struct KVPrinterInfo400;
struct KVPrinterInfo401;
struct KVPrinterInfo402;

// Progress reports of a capability query: (context, text, percent).
typedef void (*PFN_QUERY_PROGRESS)(LPVOID context, std::wstring text, DWORD percent);

class CPrinter {
public:
    // log may be null. The refresh run passes ClientLog, the enumerated name,
    // cache method 1 and notify id 0.
    CPrinter(TraceLog* log, std::wstring name, DWORD defaultCacheMethod, DWORD notifyId);
    ~CPrinter();
    CPrinter(const CPrinter&) = delete;
    CPrinter& operator=(const CPrinter&) = delete;

    // Reads availability, default DEVMODE, level-2 and driver information
    // (called by the constructor).
    void InitializeInfo();
    // Copies name, comment and location of the information into the strings.
    void MirrorPrinterInfo2(PRINTER_INFO_2W* pi2);
    // Reads the level-2 information again when bInfoChanged is set.
    void UpdatePrinterInfo();
    // Frees every query buffer and zeroes the set, dwIgnoreLogPixels included.
    void ClearQueryBuffers();

    // Heap copies of the printer's global (level 8) or per-user (level 9)
    // default DEVMODE, or null; the caller frees them to the process heap.
    DEVMODEW* GetGlobalDefaultDM();
    DEVMODEW* GetUserDefaultDM();
    // Store a DEVMODE as the printer's global or per-user default.
    void SetGlobalDefaultDM(DEVMODEW* pDevMode);
    void SetUserDefaultDM(DEVMODEW* pDevMode);

    // The capability set packed into a new record (the caller frees it to
    // the process heap), or null when the set is not filled.
    caps4* SerializeCaps4();
    // Unpacks a record into the query buffers. `available` is the number of
    // bytes the caller holds; a record read from storage must come with it.
    // The one-argument form trusts the record's dwSize.
    void DeserializeCaps4(const caps4* record, size_t available);
    void DeserializeCaps4(const caps4* record);

    // Capability query: unless forced, an object that holds a set (from its
    // cache, say) is not asked again. The result is stored in the cache.
    void Query(BOOL force, PFN_QUERY_PROGRESS progress, LPVOID context);
    // The 33 capability requests in their fixed order; with defaultsOnly
    // every request answers its built-in defaults.
    void QueryCapabilities(BOOL defaultsOnly, PFN_QUERY_PROGRESS progress, LPVOID context);
    // Dumps the capability record into a log file of its own.
    void ExportCapsLog(std::wstring path);

    // Cache store of the capability record, chosen by dwCacheMethod.
    // Each returns 1 on success (method 2: always), 0 otherwise.
    BOOL SaveToCache();
    BOOL LoadFromCache();
    BOOL FlushCache();
    // <CachePath><registry-safe name>.kvp, or empty when CachePath cannot be
    // read. *plainName, when given, says whether the registry-safe name is a
    // plain file name (vlibPRINT_IsPlainFileName): a path made of any other
    // is never handed to the file system.
    std::wstring GetCacheFilePath(bool* plainName = nullptr);

    // Reads the four construction-time local print options.
    void GetLocalOptions();

    // Change notification. Callbacks are called on the notification thread
    // with no lock of the object held: a callback may register, remove, stop
    // or destroy the object. A registration number (from 1, never reused),
    // or 0 without a callback or once the numbers are used up; it is called
    // from the next change on.
    //
    // A callback must not wait for the thread that stops its object or removes
    // its registration: on any other thread than a notification thread, the
    // stop, the removal and the destructor return only once no callback of
    // the object (of the registration) is running, however long that takes.
    // On a notification thread (a callback working on another printer object)
    // they wait at most 5 s and trace that they gave up; on the object's own
    // notification thread they do not wait for the callback that called them.
    DWORD RegisterForPrinterNotify(DWORD dwUser, PFN_PRINTER_NOTIFY pfnNotify, LPVOID pContext);
    // TRUE when the registration was removed. Once it returns no call of it
    // starts, and the call of it that was under way has returned.
    BOOL UnregisterForPrinterNotify(DWORD dwId);
    // Start and stop the notification thread; failures are traced and leave
    // the object idle. Once the stop returns no callback starts or runs; the
    // thread's own end is waited for at most 5 s more, and a thread that has
    // not ended by then keeps its printer handle (the next start opens one).
    void StartPrinterNotifyThread();
    void StopPrinterNotifyThread();

    // Printer info records (records/printer_info.h) of this printer: its
    // names, spooler values, default DEVMODE and capability record, in a new
    // process-heap block the caller frees; null without a capability set.
    KVPrinterInfo400* CreateKVPrinterInfo400W();
    KVPrinterInfo401* CreateKVPrinterInfo401W();
    KVPrinterInfo402* CreateKVPrinterInfo402W();

    // The members are open to the other operations of the printer object and
    // to its users (the printer info records, the refresh run).
    TraceLog* pLog;
    DWORD bInfoChanged;
    OSVERSIONINFOW osvi;
    DWORD dwNotifyId;
    DEVMODEW* pDefDM;
    DWORD bAvailable;
    PRINTER_INFO_2W* pPI2;
    DRIVER_INFO_1W* pDriverInfo;
    std::wstring strPrinterName;
    std::wstring strComment;
    std::wstring strLocation;
    QueryBuffers queryBuffers;
    DWORD dwIgnoreLogPixels;
    DWORD dwCacheMethod;

    // Change notification. bNotifyRunning is set by the notification thread
    // and cleared by the stop. hNotify and hNotifyThread are the running
    // thread's, owned by its pNotifyRun; start and stop change them under
    // csNotify.
    std::atomic<BOOL> bNotifyRunning;
    HANDLE hStopEvent;
    HANDLE hNotifyPrinter;
    HANDLE hNotify;  // INVALID_HANDLE_VALUE when none
    HANDLE hNotifyThread;
    DWORD dwNotifyThreadId;
    DWORD dwLastNotifyId;
    std::vector<_NOTIFY_REGISTRATION*> vecNotify;  // guarded by csNotify
    CRITICAL_SECTION csNotify;
    PRINTER_NOTIFY_OPTIONS notifyOptions;
    PRINTER_NOTIFY_OPTIONS_TYPE* pNotifyTypes;
    PWORD pPrinterFields;
    PWORD pJobFields;
    std::list<boost::shared_ptr<_PRINTER_CHANGE>> lstChanges;  // guarded by csNotify
    _NOTIFY_RUN* pNotifyRun;  // the running thread's state, null when none; guarded by csNotify
    _NOTIFY_RUN* pLateRuns;   // stopped threads not yet seen to end, linked; guarded by csNotify
    DWORD dwNotifyError;      // the system error of the last start's failed step, 0 after a start that ran

    // Local print options, read at construction; the query and the cache do
    // not use them.
    DWORD bSecondDialog = 0;
    DWORD bPrintAsImage = 0;
    DWORD dwPrintAsImageDPI = 0;
    DWORD dwFontEmbed = 0;

private:
    DWORD ReadCacheMethod(DWORD defaultMethod);
    // Frees the default DEVMODE, the level-2 and the driver information.
    void ReleaseInfo();
    DEVMODEW* GetDefaultDM(DWORD level, const WCHAR* function);
    void SetDefaultDM(DWORD level, DEVMODEW* pDevMode, const WCHAR* function);

    // Steps of construction and destruction that belong to the change
    // notification.
    void SetUpNotification();
    void TearDownNotification();
    // Waits for the callbacks still running on stopped threads; lets go of
    // the stopped threads that have ended.
    void WaitForLateCallbacks();
    void PruneLateRuns();

    // Local options: the four values below one Printers key, and the
    // query-time lookup of one value (per machine, then per user).
    void ReadLocalOptionValues(HKEY printersKey, BOOL perUser);
    BOOL LookUpOptionIn(HKEY hive, const WCHAR* valueName, DWORD* member, const WCHAR* valueLine);
    void LookUpQueryOption(const WCHAR* valueName, DWORD* member, const WCHAR* valueLine);

    // The stores of the cache.
    BOOL SaveRecordToRegistry(const caps4* record);
    BOOL SaveRecordToFile(const caps4* record);
    BOOL SaveRecordToPrinter(const caps4* record);
    BOOL LoadRecordFromRegistry();
    BOOL LoadRecordFromFile();
    BOOL LoadRecordFromPrinter();
    BOOL FlushRegistry();
    BOOL FlushFile();
    BOOL FlushPrinterData();
};
