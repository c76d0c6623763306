// The cache store: the registry, file and printer-data stores, the store
// that caches nothing and unknown methods, the per-user fallback of the
// registry store, and records that cannot be read or are damaged.
#include <gtest/gtest.h>

#include <cstring>

#include "printer_fixture.h"

namespace {

using namespace printer_test;
using testsupport::PrinterKeyPath;

class Cache : public ::testing::Test {
protected:
    Env env;
    void SetUp() override { env.fake.AddPrinter(L"Office"); }

    // A printer object whose capability set is filled by a query (which also
    // stores it with the configured method).
    std::string QueriedRecord(const std::wstring& name = L"Office") {
        CPrinter printer(env.trace.log(), name, 1, 0);
        printer.Query(1, nullptr, nullptr);
        EXPECT_EQ(printer.queryBuffers.bFilled, 1u);
        return Serialized(printer);
    }
    std::wstring Folder() const { return env.dir.path() + L"\\"; }
};

TEST_F(Cache, MethodTwoSucceedsEverywhereAndStoresNothing) {
    env.SetCacheMethod(2);
    env.SetCachePath(Folder());
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    EXPECT_EQ(printer.dwCacheMethod, 2u);
    printer.Query(1, nullptr, nullptr);
    ASSERT_EQ(printer.queryBuffers.bFilled, 1u);
    EXPECT_TRUE(printer.SaveToCache());
    EXPECT_TRUE(printer.LoadFromCache());
    EXPECT_TRUE(printer.FlushCache());
    const Lines lines = env.trace.All();
    EXPECT_TRUE(Has(lines, "CPrinter::CPrinter => not using caching!"));
    EXPECT_EQ(CountOf(lines, "CPrinter::SaveToCache => set to not cache!"), 2);  // the query's and ours
    EXPECT_EQ(CountOf(lines, "CPrinter::LoadFromCache => set to not cache!"), 2);
    EXPECT_TRUE(Has(lines, "CPrinter::FlushCache => set to not cache!"));
    EXPECT_FALSE(env.registry.KeyExists(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office")));
    EXPECT_FALSE(env.registry.KeyExists(HKEY_CURRENT_USER, PrinterKeyPath(L"Office")));
    EXPECT_FALSE(testsupport::FileExists(Folder() + L"Office.kvp"));
    EXPECT_EQ(env.fake.Count(fake::Op::SetPrinterData), 0);
    EXPECT_EQ(env.fake.Count(fake::Op::GetPrinterData), 0);
}

class UnknownMethod : public Cache, public ::testing::WithParamInterface<DWORD> {};

TEST_P(UnknownMethod, EveryOperationFails) {
    env.SetCacheMethod(GetParam());
    env.SetCachePath(Folder());
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    printer.Query(1, nullptr, nullptr);
    ASSERT_EQ(printer.queryBuffers.bFilled, 1u);  // the query itself is not undone
    EXPECT_FALSE(printer.SaveToCache());
    EXPECT_FALSE(printer.LoadFromCache());
    EXPECT_FALSE(printer.FlushCache());
    const Lines lines = env.trace.All();
    EXPECT_EQ(CountOf(lines, "CPrinter::LoadFromCache => unknown cache method"), 2);
    EXPECT_EQ(CountOf(lines, "CPrinter::SaveToCache => unknown cache method"), 2);
    EXPECT_EQ(CountOf(lines, "CPrinter::FlushCache => unknown cache method"), 1);
    EXPECT_TRUE(Has(lines, "CPrinter::Query => failed to cache data..."));
    EXPECT_FALSE(env.registry.KeyExists(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office")));
    EXPECT_FALSE(testsupport::FileExists(Folder() + L"Office.kvp"));
    EXPECT_EQ(env.fake.Count(fake::Op::SetPrinterData), 0);
}

INSTANTIATE_TEST_SUITE_P(Cache, UnknownMethod, ::testing::Values(0u, 5u));

TEST_F(Cache, RegistrySaveFallsBackToThePerUserHiveAndTheLoadFollows) {
    env.registry.DenyFullAccess(HKEY_LOCAL_MACHINE, kPrintersKey);
    const std::string record = QueriedRecord();
    ASSERT_FALSE(record.empty());
    EXPECT_EQ(env.RegistryRecord(HKEY_CURRENT_USER, L"Office"), record);
    EXPECT_FALSE(env.registry.KeyExists(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office")));

    env.trace.Mark();
    CPrinter again(env.trace.log(), L"Office", 1, 0);
    EXPECT_EQ(again.queryBuffers.bFilled, 1u);
    EXPECT_EQ(Serialized(again), record);
    char sizeLine[96];
    std::snprintf(sizeLine, sizeof(sizeLine), "CPrinter::LoadFromCache => size required: %u",
                  static_cast<unsigned>(record.size()));
    EXPECT_TRUE(InOrder(env.trace.Since(), {"CPrinter::LoadFromCache =>",
                                            "CPrinter::LoadFromCache => loading cache from registry",
                                            "CPrinter::LoadFromCache => couldn't open kvprinters key",
                                            "CPrinter::LoadFromCache => opened kvprinters key", sizeLine,
                                            "CPrinter::LoadFromCache => loaded!"}));
}

TEST_F(Cache, LoadTriesThePerUserHiveWhenTheMachineHasNoSubkeyOrNoValue) {
    const std::string record = QueriedRecord();
    // Move the record from the machine's hive to the user's.
    env.registry.SetBinary(HKEY_CURRENT_USER, PrinterKeyPath(L"Office"), L"PrinterData", record.data(),
                           static_cast<DWORD>(record.size()));
    {
        CPrinter flush(env.trace.log(), L"Office", 1, 0);
        EXPECT_TRUE(flush.FlushCache());
    }
    ASSERT_FALSE(env.registry.ValueExists(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"), L"PrinterData"));

    env.trace.Mark();
    CPrinter fromUser(env.trace.log(), L"Office", 1, 0);
    EXPECT_EQ(fromUser.queryBuffers.bFilled, 1u);
    EXPECT_TRUE(InOrder(env.trace.Since(), {"CPrinter::LoadFromCache => opened kvprinters key",
                                            "CPrinter::LoadFromCache => size required: 0",
                                            "CPrinter::LoadFromCache => couldn't get value",
                                            "CPrinter::LoadFromCache => opened kvprinters key",
                                            "CPrinter::LoadFromCache => loaded!"}));

    // A printer with no subkey anywhere: two "couldn't open printer key" and nothing loaded.
    env.fake.AddPrinter(L"Unknown");
    env.trace.Mark();
    CPrinter none(env.trace.log(), L"Unknown", 1, 0);
    EXPECT_EQ(none.queryBuffers.bFilled, 0u);
    EXPECT_EQ(CountOf(env.trace.Since(), "CPrinter::LoadFromCache => couldn't open printer key"), 2);
    EXPECT_FALSE(none.LoadFromCache());
}

TEST_F(Cache, ASubkeyWithoutPrinterDataLoadsNothing) {
    env.registry.Hide(HKEY_CURRENT_USER, kPrintersKey);
    env.registry.CreateKey(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"));
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    EXPECT_EQ(printer.queryBuffers.bFilled, 0u);
    env.trace.Mark();
    EXPECT_FALSE(printer.LoadFromCache());
    EXPECT_TRUE(InOrder(env.trace.Since(), {"CPrinter::LoadFromCache => size required: 0",
                                            "CPrinter::LoadFromCache => couldn't get value",
                                            "CPrinter::LoadFromCache => couldn't open kvprinters key"}));
}

TEST_F(Cache, AnsiOnlyValueIsWrittenOnlyWhenSetAndOtherwiseLeftAsItWas) {
    env.registry.SetDword(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"), L"dwAnsiOnly", 7);
    QueriedRecord();
    std::string value;
    ASSERT_TRUE(env.registry.Read(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"), L"dwAnsiOnly", &value));
    EXPECT_EQ(value, std::string("\x07\0\0\0", 4));
    EXPECT_FALSE(Has(env.trace.All(), "CPrinter::SaveToCache => saved dwAnsiOnly setting"));

    env.fake.AddPrinter(L"Fresh");
    QueriedRecord(L"Fresh");
    EXPECT_FALSE(env.registry.ValueExists(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Fresh"), L"dwAnsiOnly"));

    env.registry.SetDword(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"), L"AnsiOnly", 3);
    QueriedRecord();
    DWORD type = 0;
    ASSERT_TRUE(env.registry.Read(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"), L"dwAnsiOnly", &value, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value, std::string("\x03\0\0\0", 4));
    EXPECT_TRUE(Has(env.trace.All(), "CPrinter::SaveToCache => saved dwAnsiOnly setting"));
}

TEST_F(Cache, CachePathIsConcatenatedWithoutASeparator) {
    env.SetCacheMethod(4);
    env.SetCachePath(Folder());
    const std::string record = QueriedRecord();
    EXPECT_EQ(testsupport::ReadFileBytes(Folder() + L"Office.kvp"), record);
    {
        CPrinter printer(env.trace.log(), L"Office", 1, 0);
        EXPECT_EQ(printer.GetCacheFilePath(), Folder() + L"Office.kvp");
        EXPECT_EQ(printer.queryBuffers.bFilled, 1u);  // loaded from the file
    }

    // Without the trailing backslash the file lands beside the folder.
    env.SetCachePath(env.dir.File(L"cache"));
    QueriedRecord();
    EXPECT_EQ(testsupport::ReadFileBytes(env.dir.File(L"cacheOffice.kvp")), record);
    EXPECT_TRUE(Has(env.trace.All(), "CPrinter::SaveToCache => cache path: " + testsupport::Narrow(env.dir.File(L"cache"))));

    // A network name names its file by the registry-safe form.
    env.SetCachePath(Folder());
    env.fake.AddPrinter(L"\\\\srv\\Laser 5");
    QueriedRecord(L"\\\\srv\\Laser 5");
    EXPECT_TRUE(testsupport::FileExists(Folder() + L",,srv,Laser 5.kvp"));
}

TEST_F(Cache, WithoutCachePathTheFileOperationsFail) {
    env.SetCacheMethod(4);
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    EXPECT_EQ(printer.GetCacheFilePath(), L"");
    printer.Query(1, nullptr, nullptr);
    const Lines lines = env.trace.All();
    EXPECT_TRUE(InOrder(lines, {"CPrinter::SaveToCache => opened corvane printing key",
                                "CPrinter::SaveToCache => failed to get cache path",
                                "CPrinter::LoadFromCache => loading cache from file",
                                "CPrinter::LoadFromCache => couldn't open file: "}));
    EXPECT_TRUE(InOrder(lines, {"CPrinter::SaveToCache => caching to file", "CPrinter::SaveToCache => couldn't open file: ",
                                "CPrinter::Query => failed to cache data..."}));
}

TEST_F(Cache, TheThreeStoresHoldByteIdenticalRecords) {
    const std::string inRegistry = QueriedRecord();
    env.SetCacheMethod(4);
    env.SetCachePath(Folder());
    const std::string inFile = QueriedRecord();
    env.SetCacheMethod(3);
    const std::string inPrinter = QueriedRecord();

    ASSERT_GE(inRegistry.size(), 412u);
    EXPECT_EQ(env.RegistryRecord(HKEY_LOCAL_MACHINE, L"Office"), inRegistry);
    EXPECT_EQ(testsupport::ReadFileBytes(Folder() + L"Office.kvp"), inRegistry);
    const auto& data = env.fake.Find(L"Office")->data;
    auto found = data.find(L"KVPrinterInfo");
    ASSERT_NE(found, data.end());
    EXPECT_EQ(found->second.first, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(std::string(found->second.second.begin(), found->second.second.end()), inRegistry);
    EXPECT_EQ(inFile, inRegistry);
    EXPECT_EQ(inPrinter, inRegistry);

    // The printer-data store loads back what it holds and removes it.
    env.trace.Mark();
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    EXPECT_EQ(printer.queryBuffers.bFilled, 1u);
    EXPECT_TRUE(Has(env.trace.Since(), "CPrinter::LoadFromCache => got cached info"));
    EXPECT_TRUE(printer.FlushCache());
    EXPECT_EQ(data.count(L"KVPrinterInfo"), 0u);
    EXPECT_FALSE(printer.LoadFromCache());
    EXPECT_TRUE(Has(env.trace.Since(), "CPrinter::LoadFromCache => failed GetPrinterData"));
    EXPECT_EQ(env.fake.OpenPrinterHandles(), 0);
}

TEST_F(Cache, PrinterDataStoreReportsAPrinterThatCannotBeOpened) {
    env.SetCacheMethod(3);
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    printer.Query(1, nullptr, nullptr);
    env.fake.Find(L"Office")->openable = false;
    env.trace.Mark();
    EXPECT_FALSE(printer.SaveToCache());
    EXPECT_FALSE(printer.LoadFromCache());
    EXPECT_FALSE(printer.FlushCache());
    EXPECT_TRUE(InOrder(env.trace.Since(), {"CPrinter::SaveToCache => failed to open printer",
                                            "CPrinter::LoadFromCache => failed to open printer",
                                            "CPrinter::FlushCache => failed to open printer"}));
}

TEST_F(Cache, RegistryFlushReportsSuccessOnceTheSubkeyOpens) {
    env.registry.CreateKey(HKEY_LOCAL_MACHINE, PrinterKeyPath(L"Office"));
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    env.trace.Mark();
    EXPECT_TRUE(printer.FlushCache());  // no "PrinterData" was there
    EXPECT_TRUE(InOrder(env.trace.Since(), {"CPrinter::FlushCache => registry"}));
    EXPECT_FALSE(Has(env.trace.Since(), "CPrinter::FlushCache => couldn't open printer key"));

    env.fake.AddPrinter(L"Nowhere");
    CPrinter nowhere(env.trace.log(), L"Nowhere", 1, 0);
    env.trace.Mark();
    EXPECT_FALSE(nowhere.FlushCache());
    EXPECT_EQ(CountOf(env.trace.Since(), "CPrinter::FlushCache => couldn't open printer key"), 2);
}

TEST_F(Cache, FileFlushDeletesTheFileOnce) {
    env.SetCacheMethod(4);
    env.SetCachePath(Folder());
    QueriedRecord();
    CPrinter printer(env.trace.log(), L"Office", 1, 0);
    env.trace.Mark();
    EXPECT_TRUE(printer.FlushCache());
    EXPECT_FALSE(testsupport::FileExists(Folder() + L"Office.kvp"));
    EXPECT_FALSE(printer.FlushCache());
    const Lines lines = env.trace.Since();
    EXPECT_EQ(CountOf(lines, "CPrinter::FlushCache => deleting file: " + testsupport::Narrow(Folder()) + "Office.kvp"), 2);
    EXPECT_EQ(CountOf(lines, "CPrinter::FlushCache => failed to delete file"), 1);
}

TEST_F(Cache, AFileLockedByAnotherWriterCanBeNeitherLoadedNorWritten) {
    env.SetCacheMethod(4);
    env.SetCachePath(Folder());
    const std::string record = QueriedRecord();
    const std::wstring path = Folder() + L"Office.kvp";
    // Another process writing the cache holds it unshared.
    HANDLE writer = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    env.trace.Mark();
    {
        CPrinter printer(env.trace.log(), L"Office", 1, 0);
        EXPECT_EQ(printer.queryBuffers.bFilled, 0u);
        printer.Query(1, nullptr, nullptr);
        EXPECT_EQ(printer.queryBuffers.bFilled, 1u);
    }
    ::CloseHandle(writer);
    const std::string opened = "CPrinter::LoadFromCache => couldn't open file: " + testsupport::Narrow(path);
    EXPECT_TRUE(InOrder(env.trace.Since(), {opened, "CPrinter::SaveToCache => couldn't open file: " + testsupport::Narrow(path),
                                            "CPrinter::Query => failed to cache data..."}));
    EXPECT_EQ(testsupport::ReadFileBytes(path), record);  // the writer's file was not replaced
}

TEST_F(Cache, DamagedRecordsLoadWithoutHarm) {
    env.SetCacheMethod(4);
    env.SetCachePath(Folder());
    const std::string record = QueriedRecord();
    const std::wstring path = Folder() + L"Office.kvp";
    auto writeFile = [&](const std::string& bytes) {
        FILE* file = _wfopen(path.c_str(), L"wb");
        ASSERT_NE(file, nullptr);
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    };

    // Cut short: the header promises more than the file holds.
    writeFile(record.substr(0, record.size() / 2));
    {
        CPrinter printer(env.trace.log(), L"Office", 1, 0);
        EXPECT_EQ(printer.queryBuffers.bFilled, 0u);
        EXPECT_EQ(printer.queryBuffers.pPapers, nullptr);
    }
    // Not a record at all.
    writeFile("this is a text file, not a capability record\r\n");
    {
        CPrinter printer(env.trace.log(), L"Office", 1, 0);
        EXPECT_EQ(printer.queryBuffers.bFilled, 0u);
    }
    // An empty file.
    writeFile(std::string());
    {
        CPrinter printer(env.trace.log(), L"Office", 1, 0);
        EXPECT_EQ(printer.queryBuffers.bFilled, 0u);
    }
    // The forms section claims to run far past the end of the record.
    std::string bad = record;
    const DWORD hugeSize = 0x7FFFFF00;
    std::memcpy(&bad[396], &hugeSize, sizeof(hugeSize));
    writeFile(bad);
    {
        CPrinter printer(env.trace.log(), L"Office", 1, 0);
        if (printer.queryBuffers.bFilled) {
            // Loaded with the bad section dropped.
            EXPECT_EQ(printer.queryBuffers.pForms, nullptr);
            EXPECT_EQ(printer.queryBuffers.dwNumForms, 0u);
            EXPECT_NE(printer.queryBuffers.pPapers, nullptr);
        }
        // Whatever was loaded, a forced query replaces it with a sound set.
        printer.Query(1, nullptr, nullptr);
        EXPECT_EQ(Serialized(printer), record);
    }
    EXPECT_EQ(testsupport::ReadFileBytes(path), record);
}

}  // namespace
