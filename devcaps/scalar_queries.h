// The capability queries that answer one 32-bit number each. Every member
// takes (printer name or null for its default, port, DEVMODE), asks
// DeviceCapabilitiesW for its one index without an output buffer under the
// driver guard, and returns the answer unchanged (-1 included), its default
// for a null printer name, or its exception value when the driver faults.
#pragma once

#include "platform/platform.h"

// How a member traces its result beyond the plain number.
enum class ScalarTrace {
    Number,    // "... => %d"
    Extent,    // width in the low, length in the high 16 bits
    RateUnit,  // the number, then the unit's text
    Fields,    // the number, then the names of the set DEVMODE field flags
};

// The members: name, index, index value, default, exception value, trace.
#define KV_DEVCAP_SCALARS(X)                                             \
    X(Collate, DC_COLLATE, 22, 1, 0, Number)                             \
    X(Color, DC_COLORDEVICE, 32, 2, 2, Number)                           \
    X(Copies, DC_COPIES, 18, 9999, 0, Number)                            \
    X(Driver, DC_DRIVER, 11, 0x0500, 0, Number)                          \
    X(Datatype, DC_DATATYPE_PRODUCED, 21, -1, 0, Number)                 \
    X(Duplex, DC_DUPLEX, 7, 1, 0, Number)                                \
    X(EMF, DC_EMF_COMPLIANT, 20, -1, 0, Number)                          \
    X(Extra, DC_EXTRA, 9, 0, 0, Number)                                  \
    X(Fields, DC_FIELDS, 1, 0x0781EF43, 0, Fields)                       \
    X(Manufacturer, DC_MANUFACTURER, 23, -1, 0, Number)                  \
    X(MaxExtent, DC_MAXEXTENT, 5, 0x7FFFFFFF, 0, Extent)                 \
    X(MinExtent, DC_MINEXTENT, 4, 0, 0, Extent)                          \
    X(Model, DC_MODEL, 24, -1, 0, Number)                                \
    X(Orientation, DC_ORIENTATION, 17, 90, 0, Number)                    \
    X(PrinterMem, DC_PRINTERMEM, 28, 0, 0, Number)                       \
    X(PrintRate, DC_PRINTRATE, 26, 10, 0, Number)                        \
    X(PrintRatePPM, DC_PRINTRATEPPM, 31, 10, 0, Number)                  \
    X(PrintRateUnit, DC_PRINTRATEUNIT, 27, 1, 0, RateUnit)               \
    X(Size, DC_SIZE, 8, 220, 0, Number)                                  \
    X(Staple, DC_STAPLE, 30, 0, 0, Number)                               \
    X(TrueType, DC_TRUETYPE, 15, 1, 0, Number)                           \
    X(Version, DC_VERSION, 10, 0x0401, 0, Number)

enum class DevCapScalar {
#define KV_DEVCAP_ENUM(member, index, value, def, exc, trace) member,
    KV_DEVCAP_SCALARS(KV_DEVCAP_ENUM)
#undef KV_DEVCAP_ENUM
    kCount
};

// One row of the member table.
struct ScalarCapability {
    const WCHAR* member;     // "Collate"
    const WCHAR* indexName;  // "DC_COLLATE"
    WORD index;
    int defaultValue;
    int exceptionValue;
    ScalarTrace trace;
};

inline constexpr int kScalarCapabilityCount = static_cast<int>(DevCapScalar::kCount);
extern const ScalarCapability kScalarCapabilities[kScalarCapabilityCount];

// The shared implementation of the family.
int vlibPRINT_QueryDevCap_Scalar(DevCapScalar which, LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode);

// vlibPRINT_QueryDevCap_Collate, vlibPRINT_QueryDevCap_Color, ...
#define KV_DEVCAP_WRAPPER(member, index, value, def, exc, trace)                                         \
    inline int vlibPRINT_QueryDevCap_##member(LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode) { \
        return vlibPRINT_QueryDevCap_Scalar(DevCapScalar::member, pDevice, pPort, pDevMode);              \
    }
KV_DEVCAP_SCALARS(KV_DEVCAP_WRAPPER)
#undef KV_DEVCAP_WRAPPER
