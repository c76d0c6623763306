// kvformats: the byte layouts of the stored formats, field by field, as the
// record code describes them (the descriptions the packing, the dumps and the
// JSON export use). docs/formats.md holds each of these tables; its check
// (scripts/formats-check) compares the two, so a layout that changes without
// the document fails there.
//
// Output: for each layout a line "== NAME", then one line per row, its
// columns separated by tabs; exit code 0, or 2 (with the reason on standard
// error) when a description does not cover its layout back to back.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "print/private_devmode_layout.h"
#include "records/caps4_fields.h"
#include "records/caps4_layout.h"
#include "records/printer_info_layout.h"
#include "tools/tool_main.h"

namespace {

// The descriptions' names are ASCII.
std::string Narrow(const WCHAR* text) {
    std::string out;
    for (; *text; ++text) out += static_cast<char>(*text);
    return out;
}

struct Row {
    size_t offset;
    size_t size;
    std::string name;
    std::string type;
};

bool failed = false;

// A layout of fields: offset, size, name and type, which must lie back to
// back from 0 to `whole`.
void Fields(const char* layout, std::vector<Row> rows, size_t whole) {
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.offset < b.offset; });
    std::printf("== %s\n", layout);
    size_t next = 0;
    for (const Row& row : rows) {
        if (row.offset != next) {
            std::fprintf(stderr, "kvformats: %s: %s at %zu, where %zu was expected\n", layout, row.name.c_str(),
                         row.offset, next);
            failed = true;
        }
        next = row.offset + row.size;
        std::printf("%zu\t%zu\t%s\t%s\n", row.offset, row.size, row.name.c_str(), row.type.c_str());
    }
    if (next != whole) {
        std::fprintf(stderr, "kvformats: %s: the fields end at %zu, the layout at %zu\n", layout, next, whole);
        failed = true;
    }
}

template <class Record, class Field>
size_t OffsetOf(Field Record::*member) {
    static const Record probe{};
    return static_cast<size_t>(reinterpret_cast<const BYTE*>(&(probe.*member)) - reinterpret_cast<const BYTE*>(&probe));
}

// A record header from the dump's line description; `block` is the one part
// the dumps leave out.
template <class Record, size_t L, size_t S>
void Header(const char* layout, const HeaderLine<Record> (&lines)[L], const SectionLayout<Record> (&sections)[S],
            Row block) {
    std::vector<Row> rows{block};
    for (const HeaderLine<Record>& line : lines) {
        if (line.name) {
            rows.push_back({OffsetOf(line.field), sizeof(DWORD), Narrow(line.name), "uint32"});
            continue;
        }
        const SectionLayout<Record>& s = sections[line.section];
        const std::string stem = Narrow(s.stem);
        rows.push_back({OffsetOf(s.offset), sizeof(DWORD), "dwOffsetTo" + stem, "uint32"});
        rows.push_back({OffsetOf(s.size), sizeof(DWORD), "dwSizeOf" + stem, "uint32"});
        rows.push_back({OffsetOf(s.count), sizeof(DWORD), "dwNum" + stem, "int32"});
    }
    Fields(layout, rows, sizeof(Record));
}

// The sections in record order: place, name, header-field stem, bytes per element.
template <class Record, size_t S>
void Sections(const char* layout, const SectionLayout<Record> (&sections)[S]) {
    std::printf("== %s\n", layout);
    for (size_t i = 0; i < S; ++i)
        std::printf("%zu\t%s\t%s\t%lu\n", i + 1, Narrow(sections[i].name).c_str(), Narrow(sections[i].stem).c_str(),
                    static_cast<unsigned long>(sections[i].width));
}

template <class T, size_t N>
std::vector<Row> Values(const NamedValue<T> (&values)[N], size_t from, size_t to) {
    std::vector<Row> rows;
    for (size_t i = from; i < to && i < N; ++i)
        rows.push_back({OffsetOf(values[i].member), sizeof(LONG), values[i].name, "int32"});
    return rows;
}

std::string Slot(DWORD size, size_t unit) {
    return (unit == 2 ? "UTF-16[" : "ANSI[") + std::to_string(size / unit) + "]";
}

template <size_t N>
void Info(const char* layout, const InfoField (&fields)[N], size_t whole) {
    std::vector<Row> rows;
    for (const InfoField& f : fields)
        rows.push_back({f.offset, f.size, Narrow(f.name),
                        f.kind == kInfoDword ? "uint32" : f.kind == kInfoString ? Slot(f.size, 2) : "private DEVMODE"});
    Fields(layout, rows, whole);
}

template <size_t N>
void Devmode(const char* layout, const DevmodeField (&fields)[N], size_t whole) {
    std::vector<Row> rows;
    for (const DevmodeField& f : fields) {
        std::string type = f.kind == kDevmodeDword ? "uint32" : f.kind == kDevmodeWide ? Slot(f.size, 2) : Slot(f.size, 1);
        if (f.kind == kDevmodePublic) type = f.size == sizeof(DEVMODEW) ? "DEVMODEW" : "DEVMODEA";
        rows.push_back({f.offset, f.size, Narrow(f.name), type});
    }
    Fields(layout, rows, whole);
}

int Run() {
    Header("caps4 header", kCaps4Lines, kCaps4Layout,
           {offsetof(caps4, lowLevel), sizeof(LowLevelCaps), "lowLevel", "int32[35]"});
    Sections("caps4 sections", kCaps4Layout);
    Fields("form entry", Values(kFormFields, 0, std::size(kFormFields)), sizeof(FormEntry));
    Fields("low-level block", Values(kLowLevelFields, 0, std::size(kLowLevelFields)), sizeof(LowLevelCaps));
    Header("caps2 header", kCaps2Lines, kCaps2Layout, {offsetof(caps2, reserved), sizeof(caps2::reserved), "reserved", "bytes"});
    Sections("caps2 sections", kCaps2Layout);
    std::vector<Row> form2;
    for (const FormColumn& column : kForm2Columns)
        form2.push_back({column.index * sizeof(LONG), sizeof(LONG), Narrow(column.name), "int32"});
    Fields("earlier form entry", form2, sizeof(FormEntry2));
    Info("info record 400", kKVPI400Fields, sizeof(KVPrinterInfo400));
    Info("info record 401", kKVPI401Fields, sizeof(KVPrinterInfo401));
    Info("info record 402", kKVPI402Fields, sizeof(KVPrinterInfo402));
    Info("earlier info record", kKVPI2Fields, sizeof(KVPrinterInfo2));
    Devmode("private DEVMODE wide", kPrivateDMWFields, sizeof(PRIVATE_DEVMODEW));
    Devmode("private DEVMODE narrow", kPrivateDMAFields, sizeof(PRIVATE_DEVMODEA));
    Devmode("earlier private DEVMODE wide", kPrivateDM2WFields, sizeof(PRIVATE_DEVMODE2W));
    Devmode("Tess DEVMODE wide", kTessDMWFields, sizeof(TESS_DEVMODEW));
    Devmode("Tess DEVMODE narrow", kTessDMAFields, sizeof(TESS_DEVMODEA));
    std::fflush(stdout);
    return failed ? 2 : 0;
}

}  // namespace

int main() { return RunTool("kvformats", Run, 4); }
