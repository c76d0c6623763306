// The cache store: the registry, file and printer-data stores, the store
// that caches nothing and unknown methods, the per-user fallback of the
// registry store, and records that cannot be read or are damaged.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <new>

#include "printer_fixture.h"
#include "support/heap_counter.h"

namespace {

using namespace printer_test;
using testsupport::Narrow;
using testsupport::PrinterKeyPath;

class Cache : public ::testing::Test {
protected:
    Env env;
    const std::wstring key = PrinterKeyPath(L"Office");
    const std::wstring folder = env.dir.path() + L"\\";
    const std::wstring file = folder + L"Office.kvp";
    void SetUp() override { env.fake.AddPrinter(L"Office"); }
    void UseFiles() { env.SetCacheMethod(4); env.SetCachePath(folder); }
    // The record a new printer object stores after a forced query.
    std::string QueriedRecord(const std::wstring& name = L"Office") { return Serialized(*env.Queried(name)); }
};

// The query that stores through them reports a failed store, and only then.
TEST_F(Cache, MethodTwoSucceedsAndUnknownMethodsFailWithoutTouchingAStore) {
    env.SetCachePath(folder);
    for (DWORD method : {2u, 0u, 5u}) {
        SCOPED_TRACE(method);
        env.SetCacheMethod(method);
        CPrinter printer(env.trace.log(), L"Office", 1, 0);
        env.trace.Mark();
        printer.Query(1, nullptr, nullptr);
        const BOOL results[] = {printer.SaveToCache(), printer.LoadFromCache(), printer.FlushCache()};
        EXPECT_EQ(results[0] + results[1] + results[2], method == 2 ? 3 : 0);
        const std::string text = method == 2 ? "set to not cache!" : "unknown cache method";
        const Lines lines = env.trace.Since();
        EXPECT_EQ(Has(lines, "CPrinter::Query => failed to cache data..."), method != 2);
        EXPECT_TRUE(InOrder(lines, {"CPrinter::Query => queried, now caching data", "CPrinter::SaveToCache => " + text,
                                    "CPrinter::SaveToCache => " + text, "CPrinter::LoadFromCache => " + text,
                                    "CPrinter::FlushCache => " + text}));
    }
    EXPECT_FALSE(env.registry.KeyExists(HKEY_LOCAL_MACHINE, key) || env.registry.KeyExists(HKEY_CURRENT_USER, key));
    EXPECT_FALSE(testsupport::FileExists(file));
    EXPECT_EQ(env.fake.Count(fake::Op::SetPrinterData) + env.fake.Count(fake::Op::GetPrinterData), 0);
}

// A save the machine's key refuses goes to the user's hive and the load
// follows it; a value neither hive takes is not stored.
TEST_F(Cache, RegistrySaveFallsBackToThePerUserHiveAndTheLoadFollows) {
    env.registry.DenyFullAccess(HKEY_LOCAL_MACHINE, kPrintersKey);
    const std::string record = QueriedRecord();
    EXPECT_EQ(env.RegistryRecord(HKEY_CURRENT_USER, L"Office"), record);
    CPrinter again(env.trace.log(), L"Office", 1, 0);
    EXPECT_TRUE(Serialized(again) == record && again.LoadFromCache() && again.SaveToCache());
    platform::RegistryApi refusing = platform::registry;
    refusing.RegSetValueExW = [](HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD) -> LSTATUS { return ERROR_ACCESS_DENIED; };
    platform::ScopedApi<platform::RegistryApi> noWrites(platform::registry, refusing);
    EXPECT_FALSE(again.SaveToCache());
    EXPECT_TRUE(Has(env.trace.Lines(), "CPrinter::LoadFromCache => couldn't open kvprinters key"));
}

// A flush removes the user's value only while the machine has no subkey for
// the printer, and succeeds either way; a subkey without the value loads nothing.
TEST_F(Cache, ASubkeyWithoutPrinterDataLoadsNothingAndFlushStillReportsSuccess) {
    env.SetCacheMethod(1);  // the machine's Printers key, without the printer's subkey
    env.registry.SetBinary(HKEY_CURRENT_USER, key, L"PrinterData", "user", 4);
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    EXPECT_TRUE(printer.FlushCache() && !env.registry.Read(HKEY_CURRENT_USER, key, L"PrinterData"));
    env.registry.CreateKey(HKEY_LOCAL_MACHINE, key);
    env.registry.SetBinary(HKEY_CURRENT_USER, key, L"PrinterData", "user", 4);
    EXPECT_TRUE(printer.FlushCache() && env.registry.Read(HKEY_CURRENT_USER, key, L"PrinterData"));
    env.registry.Hide(HKEY_CURRENT_USER, kPrintersKey);
    env.trace.Mark();
    EXPECT_FALSE(printer.LoadFromCache());
    EXPECT_TRUE(InOrder(env.trace.Since(), {"CPrinter::LoadFromCache => couldn't get value", "CPrinter::LoadFromCache => couldn't open kvprinters key"}));
}

TEST_F(Cache, AnsiOnlyValueIsWrittenOnlyWhenSetAndOtherwiseLeftAsItWas) {
    env.registry.SetDword(HKEY_LOCAL_MACHINE, key, L"dwAnsiOnly", 7);
    env.fake.AddPrinter(L"Fresh");
    QueriedRecord();
    QueriedRecord(L"Fresh");
    auto ansiOnly = [&](const std::wstring& subkey) {
        std::string value;
        DWORD type = 0;
        return env.registry.Read(HKEY_LOCAL_MACHINE, subkey, L"dwAnsiOnly", &value, &type) && type == REG_DWORD ? value : "none";
    };
    EXPECT_EQ(ansiOnly(key), std::string("\x07\0\0\0", 4));
    EXPECT_EQ(ansiOnly(PrinterKeyPath(L"Fresh")), "none");

    env.registry.SetDword(HKEY_LOCAL_MACHINE, key, L"AnsiOnly", 3);
    QueriedRecord();
    EXPECT_EQ(ansiOnly(key), std::string("\x03\0\0\0", 4));
}

TEST_F(Cache, CachePathIsConcatenatedWithoutASeparator) {
    const struct { std::wstring cachePath, printer, file; } cases[] = {
        {env.dir.File(std::wstring(120, L'c')), L"Office", env.dir.File(std::wstring(120, L'c') + L"Office.kvp")},  // beside the folder; over 130 characters
        {folder, L"\\\\srv\\Laser 5", folder + L",,srv,Laser 5.kvp"},
    };
    env.SetCacheMethod(4);
    env.fake.AddPrinter(L"\\\\srv\\Laser 5");
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.file));
        env.SetCachePath(c.cachePath);
        const std::string record = QueriedRecord(c.printer);
        EXPECT_EQ(testsupport::ReadFileBytes(c.file), record);
        CPrinter printer(env.trace.log(), c.printer, 1, 0);
        EXPECT_EQ(printer.GetCacheFilePath(), c.file);
        EXPECT_EQ(Serialized(printer), record);  // loaded from the file
        EXPECT_TRUE(Has(env.trace.Lines(), "CPrinter::SaveToCache => cache path: " + Narrow(c.cachePath)));
    }
}

// A name the file system would take for another place (a folder above, a
// data stream, a device) or for another name's file is never handed to it:
// each file operation fails as for a file that cannot be opened, without a
// file call. Names that only come close keep their plain file.
TEST_F(Cache, NamesThatAreNotPlainFileNamesNeverReachTheFileSystem) {
    UseFiles();
    for (const WCHAR* name : {L"\\\\evilsrv\\x/../../../Target/owned", L"\\\\srv\\x:s", L"NUL", L"com1.txt", L"Lpt9", L"Aux  .x",
                              L"COM\u00B9", L"..", L"Office.", L"Office ", L"a\r\nb", L"a|b"}) {
        SCOPED_TRACE(Narrow(name));
        env.fake.AddPrinter(name);
        const int calls = env.fake.FileCalls();
        auto printer = env.Queried(name);  // loaded from the cache when built, saved after the query
        EXPECT_FALSE(printer->SaveToCache() || printer->LoadFromCache() || printer->FlushCache());
        EXPECT_EQ(env.fake.FileCalls(), calls);
    }
    const std::string path = Narrow(folder) + ",,evilsrv,x/../../../Target/owned.kvp";
    EXPECT_TRUE(InOrder(env.trace.Lines(), {"CPrinter::LoadFromCache => couldn't open file: " + path,
                                            "CPrinter::SaveToCache => couldn't open file: " + path,
                                            "CPrinter::FlushCache => deleting file: " + path, "CPrinter::FlushCache => failed to delete file"}));
    for (const std::wstring name : {L"COM10", L"CONSOLE", L"nul-x", L"LPT0", L"A.B"}) {
        env.fake.AddPrinter(name);
        const std::string record = QueriedRecord(name);
        EXPECT_TRUE(testsupport::ReadFileBytes(folder + name + L".kvp") == record) << Narrow(name);
    }
}

// A CachePath that is not a string, or fills its whole buffer (its end, and
// with it the closing backslash, cut off), gives no path; a 259-character
// REG_EXPAND_SZ still does.
TEST_F(Cache, ACachePathThatIsNoStringOrFillsItsBufferGivesNoPath) {
    const std::wstring full(260, L'c');
    env.registry.SetDword(HKEY_LOCAL_MACHINE, kProductKey, L"CachePath", 0x5C3A43);  // "C:\\" as bytes
    EXPECT_EQ(CPrinter(env.trace.log(), L"Office", 2, 0).GetCacheFilePath(), L"");
    env.registry.SetValue(HKEY_LOCAL_MACHINE, kProductKey, L"CachePath", REG_SZ, full.c_str(), 520);
    EXPECT_EQ(CPrinter(env.trace.log(), L"Office", 2, 0).GetCacheFilePath(), L"");
    EXPECT_EQ(CountOf(env.trace.Lines(), "CPrinter::SaveToCache => failed to get cache path"), 2);
    env.registry.SetValue(HKEY_LOCAL_MACHINE, kProductKey, L"CachePath", REG_EXPAND_SZ, full.c_str(), 520 - 2);
    EXPECT_EQ(CPrinter(env.trace.log(), L"Office", 2, 0).GetCacheFilePath(), full.substr(1) + L"Office.kvp");
}

// The printer-data store holds the record byte for byte, loads it back and
// removes it; an unreachable printer fails every operation. A driver that
// throws a C++ exception of our runtime out of a data call (the guards let it
// pass): it reaches the caller, and no handle or block is left.
TEST_F(Cache, ThePrinterDataStore) {
    env.SetCacheMethod(3);
    const std::string record = QueriedRecord();
    const auto& data = env.fake.Find(L"Office")->data;
    ASSERT_EQ(data.count(L"KVPrinterInfo"), 1u);
    EXPECT_EQ(std::string(data.at(L"KVPrinterInfo").second.begin(), data.at(L"KVPrinterInfo").second.end()), record);
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    EXPECT_EQ(Serialized(printer), record);
    EXPECT_TRUE(printer.LoadFromCache() && printer.SaveToCache());  // read and written again
    // The calls after the opening: the data written, asked for (twice) and deleted.
    const struct { int call; BOOL (CPrinter::*operation)(); } throwing[] = {
        {2, &CPrinter::SaveToCache}, {2, &CPrinter::LoadFromCache}, {3, &CPrinter::LoadFromCache}, {2, &CPrinter::FlushCache}};
    for (const auto& c : throwing) {
        SCOPED_TRACE(testing::Message() << "throw at call " << c.call << " of " << (&c - throwing));
        env.fake.ThrowOnDriverCall(env.fake.DriverCalls() + c.call);
        testsupport::HeapCounter heap;
        EXPECT_THROW((printer.*c.operation)(), std::bad_alloc);
        EXPECT_EQ(heap.Live(), 0);
        EXPECT_EQ(env.fake.OpenPrinterHandles(), 0);
    }
    EXPECT_TRUE(printer.FlushCache());
    EXPECT_EQ(data.count(L"KVPrinterInfo"), 0u);
    EXPECT_FALSE(printer.FlushCache());  // nothing left to delete
    EXPECT_FALSE(printer.LoadFromCache());
    env.fake.Find(L"Office")->openable = false;
    EXPECT_FALSE(printer.SaveToCache() || printer.LoadFromCache() || printer.FlushCache());
    EXPECT_TRUE(InOrder(env.trace.Lines(), {"CPrinter::SaveToCache => cached!", "CPrinter::LoadFromCache => got cached info",
                                          "CPrinter::FlushCache => deleted!",
                                          "CPrinter::LoadFromCache => failed GetPrinterData", "CPrinter::SaveToCache => failed to open printer",
                                          "CPrinter::LoadFromCache => failed to open printer", "CPrinter::FlushCache => failed to open printer"}));
    EXPECT_EQ(env.fake.OpenPrinterHandles(), 0);
}

TEST_F(Cache, AFileLockedByAnotherWriterAFullDiskAndNoMemoryForTheFile) {
    UseFiles();
    const std::string record = QueriedRecord();
    // Another process writing the cache holds it, shared for nothing but deletion.
    HANDLE writer = ::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    env.trace.Mark();
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    printer.Query(1, nullptr, nullptr);
    ::CloseHandle(writer);
    EXPECT_TRUE(InOrder(env.trace.Since(), {"CPrinter::LoadFromCache => couldn't open file: " + Narrow(file),
                                            "CPrinter::SaveToCache => couldn't open file: " + Narrow(file),
                                            "CPrinter::Query => failed to cache data..."}));
    EXPECT_EQ(testsupport::ReadFileBytes(file), record);  // the writer's file was neither replaced nor deleted
    // A disk that fills up half-way: no cut record is left to pass for one.
    platform::FileApi full = platform::files;
    full.WriteFile = [](HANDLE h, LPCVOID b, DWORD n, LPDWORD w, LPOVERLAPPED o) -> BOOL {
        return ::WriteFile(h, b, n / 2, w, o) && (::SetLastError(ERROR_DISK_FULL), false);
    };
    {
        platform::ScopedApi<platform::FileApi> disk(platform::files, full);
        EXPECT_FALSE(printer.SaveToCache());
    }
    EXPECT_TRUE(Has(env.trace.Lines(), "CPrinter::SaveToCache => failed to write file, read " + std::to_string(record.size() / 2) + " bytes"));
    EXPECT_FALSE(testsupport::FileExists(file) || printer.FlushCache());  // and no file to delete
    // A whole file loads; with no memory for its bytes the error line names that, not what an earlier call left.
    EXPECT_TRUE(!QueriedRecord().empty() && printer.LoadFromCache());
    env.trace.Mark();
    testsupport::HeapCounter refusing(0);
    ::SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(printer.LoadFromCache());
    const auto lines = env.trace.Since();
    const auto failed = std::find(lines.begin(), lines.end(), "CPrinter::LoadFromCache => failed to allocate memory");
    ASSERT_TRUE(failed != lines.end() && failed != lines.begin());
    EXPECT_EQ(failed[-1].rfind("ERROR 8: ", 0), 0u) << failed[-1];
}

TEST_F(Cache, DamagedRecordsLoadWithoutHarm) {
    UseFiles();
    const std::string record = QueriedRecord();
    std::string formsPastTheEnd = record;
    const DWORD hugeSize = 0x7FFFFF00;
    std::memcpy(&formsPastTheEnd[offsetof(caps4, dwSizeOfForms)], &hugeSize, sizeof(hugeSize));
    for (const std::string& bytes : {record.substr(0, record.size() / 2), std::string("not a capability record\r\n"),
                                     std::string(), formsPastTheEnd}) {
        SCOPED_TRACE(bytes.size());
        ASSERT_TRUE(std::ofstream(file.c_str(), std::ios::binary).write(bytes.data(), std::streamsize(bytes.size())));
        CPrinter printer(env.trace.log(), L"Office", 1, 0);
        // Nothing loaded, or the record without its bad section.
        EXPECT_TRUE(!printer.queryBuffers.bFilled || (bytes.size() == record.size() && !printer.queryBuffers.pForms));
        printer.Query(1, nullptr, nullptr);  // a forced query replaces whatever was loaded
        EXPECT_EQ(Serialized(printer), record);
    }
}

}  // namespace
