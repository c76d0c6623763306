#include "records/caps4_json.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include <nlohmann/json.hpp>

#include "log/trace_log.h"
#include "records/caps4_fields.h"
#include "platform/kernel.h"

namespace {

using Json = nlohmann::ordered_json;  // keeps the record's order

template <class T>
using Field = NamedValue<T>;

// The counted name arrays that have no list block of their own.
struct NameArray {
    const char* name;
    WCHAR* QueryBuffers::*data;
    DWORD QueryBuffers::*count;
    DWORD QueryBuffers::*size;
    size_t chars;
};
constexpr NameArray kNameArrays[] = {
    {"files", &QueryBuffers::pFiles, &QueryBuffers::dwNumFiles, &QueryBuffers::dwSizeOfFiles, kFileNameChars},
    {"mediaReady", &QueryBuffers::pMediaReady, &QueryBuffers::dwNumMediaReady, &QueryBuffers::dwSizeOfMediaReady,
     kMediaReadyChars},
    {"personality", &QueryBuffers::pPersonality, &QueryBuffers::dwNumPersonality, &QueryBuffers::dwSizeOfPersonality,
     kPersonalityChars},
};

// Every member of the document that is not a scalar.
constexpr const char* kListMembers[] = {
    "schemaVersion", "binNames", "bins", "resolutions", "resolutionsIndexed", "files", "mediaReady", "mediaTypeNames",
    "mediaTypes", "nup", "paperNames", "papers", "paperSizes", "personality", "forms", "lowLevel", "escapes", "reserved",
    "binSources",  // the bins' media-source keywords that tools add; they follow from the bins and are not read
};

// --------------------------------------------------------------- writing

// A list of a block whose count or bytes say more than its entries: a count
// dropped to 0 over its reserved bytes, or a negative count.
void Reserve(Json* reserved, const char* name, DWORD count, DWORD bytes, size_t entries, DWORD width) {
    if (count != entries || bytes != entries * width)
        (*reserved)[name] = {{"count", static_cast<LONG>(count)}, {"bytes", bytes}};
}

Json Names(const WCHAR* slots, DWORD count, size_t chars) {
    Json list = Json::array();
    for (DWORD i = 0; slots && i < count; ++i) list.push_back(platform::Utf8(slots + i * chars, chars));
    return list;
}

// The names of a list block, through its accessor (which knows the list's bounds).
template <class Block>
Json BlockNames(const Block* block, const WCHAR* (*nameAt)(const Block*, DWORD), size_t chars) {
    Json list = Json::array();
    for (DWORD i = 0; block && nameAt(block, i); ++i) list.push_back(platform::Utf8(nameAt(block, i), chars));
    return list;
}

Json Pairs(const ResolutionPair* pairs, DWORD count) {
    Json list = Json::array();
    for (DWORD i = 0; pairs && i < count; ++i) list.push_back({{"x", pairs[i].x}, {"y", pairs[i].y}});
    return list;
}

template <class T, size_t N>
Json Fields(const T& value, const Field<T> (&fields)[N], size_t from, size_t to) {
    Json object = Json::object();
    for (size_t i = from; i < to && i < N; ++i) object[fields[i].name] = value.*fields[i].member;
    return object;
}

// --------------------------------------------------------------- reading

// Reads a document into a set. A value of the wrong kind gives the reason
// (the first one is kept) and reads as empty; the caller refuses the document
// when there is a reason.
struct Reader {
    std::string why;
    const Json empty = Json::array();

    void Fail(const std::string& reason) {
        if (why.empty()) why = reason;
    }
    // A number as the export writes a member of type T (values signed, ids
    // unsigned); one that T cannot hold is refused, not stored changed.
    template <class T>
    T Number(const Json& value, const char* where) {
        using Limits = std::numeric_limits<T>;
        if (value.is_number_unsigned() ? value.get<unsigned long long>() <= static_cast<unsigned long long>(Limits::max())
                                       : value.is_number_integer() && value.get<long long>() >= Limits::min() &&
                                             value.get<long long>() <= Limits::max())
            return static_cast<T>(value.get<long long>());
        Fail(std::string(where) + " holds a value that is not " + (Limits::is_signed ? "a signed " : "an unsigned ") +
             std::to_string(sizeof(T) * 8) + "-bit number");
        return 0;
    }
    const Json& List(const Json& document, const char* name) {
        const auto at = document.find(name);
        if (at == document.end()) return empty;
        if (at->is_array()) return *at;
        Fail(std::string(name) + " is not a list");
        return empty;
    }
    // A list of names as slots of `chars` units each, zero-padded.
    std::vector<WCHAR> Slots(const Json& document, const char* name, size_t chars) {
        const Json& list = List(document, name);
        std::vector<WCHAR> slots(list.size() * chars, L'\0');
        for (size_t i = 0; i < list.size(); ++i) {
            const std::string text = list[i].is_string() ? list[i].get<std::string>() : std::string();
            const int units = text.empty() ? 0 : ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                                                      static_cast<int>(text.size()), nullptr, 0);
            if (!list[i].is_string() || units < 0 || static_cast<size_t>(units) > chars || (units == 0 && !text.empty()))
                Fail(std::string(name) + " holds a value that is not a name of at most " + std::to_string(chars) +
                     " UTF-16 units");
            else if (units)
                ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &slots[i * chars], units);
        }
        return slots;
    }
    template <class T>
    std::vector<T> Numbers(const Json& document, const char* name) {
        std::vector<T> numbers;
        for (const Json& value : List(document, name)) numbers.push_back(Number<T>(value, name));
        return numbers;
    }
    // Objects of two numbers each (resolution pairs, paper sizes).
    template <class T>
    std::vector<T> Pairs(const Json& document, const char* name, const char* first, const char* second) {
        std::vector<T> pairs;
        for (const Json& pair : List(document, name)) {
            if (pair.is_object() && pair.contains(first) && pair.contains(second) && pair.size() == 2)
                pairs.push_back({Number<LONG>(pair[first], name), Number<LONG>(pair[second], name)});
            else
                Fail(std::string(name) + " holds a value that is not an object of " + first + " and " + second);
        }
        return pairs;
    }
    template <class T, size_t N>
    void Fields(const Json& object, const Field<T> (&fields)[N], size_t from, size_t to, T* value, const char* name) {
        if (!object.is_object()) return Fail(std::string(name) + " is not an object");
        for (const auto& member : object.items())
            if (std::none_of(fields + from, fields + std::min(to, N), [&](const Field<T>& f) { return member.key() == f.name; }))
                Fail(std::string(name) + " has an unknown member \"" + member.key() + "\"");
        for (size_t i = from; i < to && i < N; ++i) {
            const auto field = object.find(fields[i].name);
            if (field != object.end()) value->*fields[i].member = Number<LONG>(*field, fields[i].name);
        }
    }
    // A heap copy of the bytes, or null for none.
    template <class T>
    T* HeapCopy(const void* bytes, size_t size) {
        if (!size) return nullptr;
        T* block = platform::HeapAllocZeroAs<T>(size);
        if (block) std::memcpy(block, bytes, size);
        else Fail("out of memory");
        return block;
    }
    // A list block: the header, then the lists in the order given (names
    // first, as the queries lay them out), with dwSize set and the lists'
    // offsets in `offsets`; null when every list is empty.
    struct BlockList {
        const void* data;
        size_t bytes;     // of the entries
        size_t reserved;  // of the list, at least bytes; zero after the entries
    };
    template <class Header>
    Header* ListBlock(std::initializer_list<BlockList> lists, DWORD offsets[3]) {
        size_t total = sizeof(Header);
        for (const auto& list : lists) total += list.reserved;
        if (total == sizeof(Header)) return nullptr;
        Header* block = platform::HeapAllocZeroAs<Header>(total);
        if (!block) {
            Fail("out of memory");
            return nullptr;
        }
        block->dwSize = static_cast<DWORD>(total);
        DWORD at = sizeof(Header);
        for (const auto& list : lists) {
            *offsets++ = at;
            if (list.bytes) std::memcpy(reinterpret_cast<BYTE*>(block) + at, list.data, list.bytes);
            at += static_cast<DWORD>(list.reserved);
        }
        return block;
    }
    template <class T>
    void Array(const std::vector<T>& values, T** data, DWORD* count, DWORD* size, DWORD width) {
        *data = HeapCopy<T>(values.data(), values.size() * sizeof(T));
        *count = static_cast<DWORD>(values.size() * sizeof(T) / width);
        *size = static_cast<DWORD>(values.size() * sizeof(T));
    }

    // A list of a block as it is stored: its count and its bytes, which a
    // list whose fetch failed keeps reserved (count 0) and a record from
    // elsewhere may leave at 0 under a negative count ("reserved").
    struct Stored {
        DWORD count, bytes;
    };
    Stored Kept(const Json& document, const char* name, size_t entries, DWORD width) {
        Stored stored = {static_cast<DWORD>(entries), static_cast<DWORD>(entries * width)};
        const auto reserved = document.find("reserved");
        if (reserved == document.end()) return stored;
        if (!reserved->is_object()) return Fail("reserved is not an object"), stored;
        const auto list = reserved->find(name);
        if (list == reserved->end()) return stored;
        if (!list->is_object() || !list->contains("count") || !list->contains("bytes"))
            return Fail(std::string("reserved ") + name + " is not an object with count and bytes"), stored;
        Known(*list, {"count", "bytes"}, "reserved list");
        const Stored given = {Dword((*list)["count"], name), Dword((*list)["bytes"], name)};
        // A refused entry leaves the list as its entries lay it out, so that
        // nothing is packed beyond what they fill.
        if (given.bytes < entries * width || given.bytes > (64u << 20))
            return Fail(std::string("reserved ") + name + " has fewer bytes than its entries or more than 64 MB"), stored;
        // What a sound record holds, which is what the export lists: a
        // negative count only over no bytes and no entries, any other count
        // within its bytes and equal to the entries listed.
        const LONG count = static_cast<LONG>(given.count);
        const std::string member = std::string("reserved ") + name + ": count " + std::to_string(count);
        if (count < 0 ? given.bytes != 0 : static_cast<unsigned long long>(count) * width > given.bytes)
            return Fail(member + " does not fit its " + std::to_string(given.bytes) + " bytes"), stored;
        if (count < 0 ? entries != 0 : given.count != entries)
            return Fail(member + " does not agree with the " + std::to_string(entries) + " entries of its list"), stored;
        return given;
    }
    // A 32-bit record field: signed as the export writes it, or unsigned.
    DWORD Dword(const Json& value, const char* where) {
        if (value.is_number_unsigned() && value.get<unsigned long long>() <= 0xFFFFFFFFull)
            return static_cast<DWORD>(value.get<unsigned long long>());
        return static_cast<DWORD>(Number<LONG>(value, where));
    }
    // Every member of the object is one of the names.
    void Known(const Json& object, std::initializer_list<const char*> names, const char* where) {
        for (const auto& member : object.items())
            if (std::none_of(names.begin(), names.end(), [&](const char* name) { return member.key() == name; }))
                Fail(std::string(where) + " has an unknown member \"" + member.key() + "\"");
    }

    void Read(const Json& document, QueryBuffers* set) {
        if (!document.is_object()) return Fail("the document is not an object");
        for (const auto& member : document.items()) {
            const std::string& name = member.key();
            const bool scalar = std::any_of(std::begin(kNamedScalars), std::end(kNamedScalars), [&](const NamedScalar& s) { return name == s.name; });
            const bool list = std::any_of(std::begin(kListMembers), std::end(kListMembers), [&](const char* l) { return name == l; });
            if (!scalar && !list) Fail("the document has an unknown member \"" + name + "\"");
        }
        if (const auto version = document.find("schemaVersion"); version != document.end() &&
                                                                  !(version->is_number_integer() && *version == kCaps4JsonSchemaVersion))
            Fail("schemaVersion " + version->dump() + " is not " + std::to_string(kCaps4JsonSchemaVersion));
        for (const NamedScalar& scalar : kNamedScalars) {
            const auto value = document.find(scalar.name);
            if (value != document.end()) set->*scalar.member = Dword(*value, scalar.name);
        }
        if (const auto reserved = document.find("reserved"); reserved != document.end() && reserved->is_object())
            Known(*reserved, {"binNames", "bins", "mediaTypeNames", "mediaTypes", "paperNames", "papers", "paperSizes"}, "reserved");
        DWORD at[3] = {};
        const std::vector<WCHAR> binNames = Slots(document, "binNames", kBinNameChars);
        const std::vector<WORD> bins = Numbers<WORD>(document, "bins");
        const Stored binNameList = Kept(document, "binNames", binNames.size() / kBinNameChars, kBinNameBytes);
        const Stored binList = Kept(document, "bins", bins.size(), kBinIdBytes);
        if ((set->pBins = ListBlock<BinBuffer>({{binNames.data(), binNames.size() * 2, binNameList.bytes},
                                                {bins.data(), bins.size() * 2, binList.bytes}}, at)))
            *set->pBins = {set->pBins->dwSize, binList.count, binList.bytes, at[1], binNameList.count, binNameList.bytes, at[0]};
        const std::vector<WCHAR> mediaNames = Slots(document, "mediaTypeNames", kMediaNameChars);
        const std::vector<DWORD> media = Numbers<DWORD>(document, "mediaTypes");
        const Stored mediaNameList = Kept(document, "mediaTypeNames", mediaNames.size() / kMediaNameChars, kMediaNameBytes);
        const Stored mediaList = Kept(document, "mediaTypes", media.size(), kMediaIdBytes);
        if ((set->pMedias = ListBlock<MediaBuffer>({{mediaNames.data(), mediaNames.size() * 2, mediaNameList.bytes},
                                                    {media.data(), media.size() * 4, mediaList.bytes}}, at)))
            *set->pMedias = {set->pMedias->dwSize, mediaList.count, mediaList.bytes, at[1], mediaNameList.count,
                             mediaNameList.bytes, at[0]};
        const std::vector<WCHAR> paperNames = Slots(document, "paperNames", kPaperNameChars);
        const std::vector<WORD> papers = Numbers<WORD>(document, "papers");
        const std::vector<PaperSize> sizes = Pairs<PaperSize>(document, "paperSizes", "width", "length");
        const Stored paperNameList = Kept(document, "paperNames", paperNames.size() / kPaperNameChars, kPaperNameBytes);
        const Stored paperList = Kept(document, "papers", papers.size(), kPaperIdBytes);
        const Stored sizeList = Kept(document, "paperSizes", sizes.size(), kPaperSizeBytes);
        if ((set->pPapers = ListBlock<PaperBuffer>({{paperNames.data(), paperNames.size() * 2, paperNameList.bytes},
                                                    {papers.data(), papers.size() * 2, paperList.bytes},
                                                    {sizes.data(), sizes.size() * sizeof(PaperSize), sizeList.bytes}}, at)))
            *set->pPapers = {set->pPapers->dwSize, paperList.count, paperList.bytes, at[1], paperNameList.count,
                             paperNameList.bytes, at[0], sizeList.count, sizeList.bytes, at[2]};

        Array(Pairs<ResolutionPair>(document, "resolutions", "x", "y"), &set->pResolutions, &set->dwNumResolutions,
              &set->dwSizeOfResolutions, kResolutionBytes);
        Array(Pairs<ResolutionPair>(document, "resolutionsIndexed", "x", "y"), &set->pResolutionsIndexed,
              &set->dwNumResolutionsIndexed, &set->dwSizeOfResolutionsIndexed, kResolutionBytes);
        for (const NameArray& array : kNameArrays)
            Array(Slots(document, array.name, array.chars), &(set->*array.data), &(set->*array.count),
                  &(set->*array.size), static_cast<DWORD>(array.chars * sizeof(WCHAR)));
        Array(Numbers<DWORD>(document, "nup"), &set->pNUP, &set->dwNumNUP, &set->dwSizeOfNUP, kNupBytes);
        std::vector<FormEntry> forms;
        for (const Json& form : List(document, "forms")) {
            forms.emplace_back();
            Fields(form, kFormFields, 0, std::size(kFormFields), &forms.back(), "forms");
            // A form is one measurement: a value missing from it is not a 0 that was measured.
            for (const Field<FormEntry>& field : kFormFields)
                if (form.is_object() && !form.contains(field.name))
                    Fail(std::string("forms holds a form without \"") + field.name + "\"");
        }
        Array(forms, &set->pForms, &set->dwNumForms, &set->dwSizeOfForms, kFormBytes);
        LowLevelCaps lowLevel = {};
        const auto values = document.find("lowLevel"), escapes = document.find("escapes");
        if (values != document.end()) Fields(*values, kLowLevelFields, 0, kDeviceValues, &lowLevel, "lowLevel");
        if (escapes != document.end())
            Fields(*escapes, kLowLevelFields, kDeviceValues, std::size(kLowLevelFields), &lowLevel, "escapes");
        set->pLowLevel = HeapCopy<LowLevelCaps>(&lowLevel, sizeof(lowLevel));
        set->bFilled = 1;
    }
};

}  // namespace

std::string vlibPRINT_Caps4Json(const QueryBuffers* set) {
    Json document = Json::object();
    document["schemaVersion"] = kCaps4JsonSchemaVersion;
    for (const NamedScalar& scalar : kNamedScalars) document[scalar.name] = static_cast<LONG>(set->*scalar.member);

    Json binIds = Json::array(), mediaIds = Json::array(), paperIds = Json::array(), sizes = Json::array();
    const BinBuffer* bins = set->pBins;
    WORD id = 0;
    for (DWORD i = 0; bins && BinIdAt(bins, i, &id); ++i) binIds.push_back(id);
    document["binNames"] = BlockNames(bins, BinNameAt, kBinNameChars);
    document["bins"] = binIds;
    document["resolutions"] = Pairs(set->pResolutions, set->dwNumResolutions);
    document["resolutionsIndexed"] = Pairs(set->pResolutionsIndexed, set->dwNumResolutionsIndexed);
    document["files"] = Names(set->pFiles, set->dwNumFiles, kFileNameChars);
    document["mediaReady"] = Names(set->pMediaReady, set->dwNumMediaReady, kMediaReadyChars);
    const MediaBuffer* media = set->pMedias;
    DWORD type = 0;
    for (DWORD i = 0; media && MediaIdAt(media, i, &type); ++i) mediaIds.push_back(type);
    document["mediaTypeNames"] = BlockNames(media, MediaNameAt, kMediaNameChars);
    document["mediaTypes"] = mediaIds;
    Json nup = Json::array();
    for (DWORD i = 0; set->pNUP && i < set->dwNumNUP; ++i) nup.push_back(set->pNUP[i]);
    document["nup"] = nup;
    const PaperBuffer* papers = set->pPapers;
    PaperSize size = {};
    for (DWORD i = 0; papers && PaperIdAt(papers, i, &id); ++i) paperIds.push_back(id);
    for (DWORD i = 0; papers && PaperSizeAt(papers, i, &size); ++i) sizes.push_back({{"width", size.width}, {"length", size.length}});
    document["paperNames"] = BlockNames(papers, PaperNameAt, kPaperNameChars);
    document["papers"] = paperIds;
    document["paperSizes"] = sizes;
    document["personality"] = Names(set->pPersonality, set->dwNumPersonality, kPersonalityChars);
    Json forms = Json::array();
    for (DWORD i = 0; set->pForms && i < set->dwNumForms; ++i)
        forms.push_back(Fields(set->pForms[i], kFormFields, 0, std::size(kFormFields)));
    document["forms"] = forms;
    const LowLevelCaps lowLevel = set->pLowLevel ? *set->pLowLevel : LowLevelCaps{};
    document["lowLevel"] = Fields(lowLevel, kLowLevelFields, 0, kDeviceValues);
    document["escapes"] = Fields(lowLevel, kLowLevelFields, kDeviceValues, std::size(kLowLevelFields));
    Json reserved = Json::object();
    if (bins) {
        Reserve(&reserved, "binNames", bins->dwNumBinNames, bins->dwSizeOfBinNames, document["binNames"].size(), kBinNameBytes);
        Reserve(&reserved, "bins", bins->dwNumBins, bins->dwSizeOfBins, binIds.size(), kBinIdBytes);
    }
    if (media) {
        Reserve(&reserved, "mediaTypeNames", media->dwNumMediaTypeNames, media->dwSizeOfMediaTypeNames,
                document["mediaTypeNames"].size(), kMediaNameBytes);
        Reserve(&reserved, "mediaTypes", media->dwNumMediaTypes, media->dwSizeOfMediaTypes, mediaIds.size(), kMediaIdBytes);
    }
    if (papers) {
        Reserve(&reserved, "paperNames", papers->dwNumPaperNames, papers->dwSizeOfPaperNames, document["paperNames"].size(),
                kPaperNameBytes);
        Reserve(&reserved, "papers", papers->dwNumPapers, papers->dwSizeOfPapers, paperIds.size(), kPaperIdBytes);
        Reserve(&reserved, "paperSizes", papers->dwNumPaperSize, papers->dwSizeOfPaperSize, sizes.size(), kPaperSizeBytes);
    }
    if (!reserved.empty()) document["reserved"] = reserved;
    const std::string text = document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_Caps4Json => %d forms, %d bytes\n", static_cast<int>(set->dwNumForms),
                  static_cast<int>(text.size()));
    return text;
}

bool vlibPRINT_Caps4FromJson(const std::string& json, QueryBuffers* set, std::string* why) {
    const Json document = Json::parse(json, nullptr, false);
    Reader reader;
    if (document.is_discarded())
        reader.Fail("the document is not JSON");
    else
        reader.Read(document, set);
    if (reader.why.empty()) {
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_Caps4FromJson => loaded %d forms\n", static_cast<int>(set->dwNumForms));
        return true;
    }
    vlibPRINT_FreeQueryBuffers(set);
    if (why) *why = reader.why;
    TraceLogWriteNarrowText(LibraryLog, 0, "vlibPRINT_Caps4FromJson => refused: %s\n", reader.why.c_str());
    return false;
}
