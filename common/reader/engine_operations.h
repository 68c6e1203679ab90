#pragma once
// The per-symbology operations of the reader library: each one's group in the reader-type mask,
// its run of 32-bit values and where that run sits in the VT and the 5250 session records.
// Shared by the settings store, the simulated reader and the settings tool.

#include <array>
#include <cstdint>
#include <string_view>

namespace qn::reader {

struct EngineOperation {
    std::string_view name;
    std::uint32_t group;   // reader-type bit that enables the operation
    int values;            // number of consecutive int32 values in the record
    int vtOffset;          // R+n
    int tnOffset;          // T+n
    int nullPointerAfter;  // -1, or the count of values passed before an extra null pointer

    // Pointer arguments after the mode character.
    constexpr int pointerCount() const { return values + (nullPointerAfter >= 0 ? 1 : 0); }
};

inline constexpr std::array<EngineOperation, 74> kEngineOperations{{
    {"UserPreferences_1D", 0x01, 3, 1468, 2256, -1},
    {"CodaBar_1D", 0x01, 3, 1480, 2268, -1},
    {"Industrial25_1D", 0x01, 7, 1492, 2280, -1},
    {"Interleaved25_1D", 0x01, 7, 1520, 2308, -1},
    {"Matrix25_1D", 0x01, 7, 1548, 2336, -1},
    {"Code39_1D", 0x01, 5, 1576, 2364, -1},
    {"Code93_1D", 0x01, 1, 1596, 2384, -1},
    {"Code128_1D", 0x01, 1, 1600, 2388, -1},
    {"Isbt128_1D", 0x01, 1, 1604, 2392, -1},
    {"GS1_128_1D", 0x01, 3, 1608, 2396, -1},
    {"I_F_Pharmacode_1D", 0x01, 4, 1620, 2408, -1},
    {"Msi_1D", 0x01, 6, 1636, 2424, -1},
    {"NegativeBarcode_1D", 0x01, 1, 1660, 2448, -1},
    {"Plessey_1D", 0x01, 3, 1664, 2452, -1},
    {"GS1_DataBar_1D", 0x01, 9, 1676, 2464, -1},
    {"Telepen_1D", 0x01, 2, 1712, 2500, -1},
    {"Ean8_1D", 0x01, 5, 1720, 2508, -1},
    {"Ean13UpcA_1D", 0x01, 9, 1740, 2528, -1},
    {"Gtin_1D", 0x01, 1, 1776, 2564, -1},
    {"UpcE_1D", 0x01, 8, 1780, 2568, -1},
    {"UserPreferences_1D_SE955", 0x80, 7, 1160, 1436, -1},
    {"MiscellaneousOption_1D_SE955", 0x80, 2, 1188, 1464, -1},
    {"Upc_1D_SE955", 0x80, 15, 1196, 1472, -1},
    {"EanJan_1D_SE955", 0x80, 8, 1256, 1532, -1},
    {"Code39_1D_SE955", 0x80, 9, 1288, 1564, -1},
    {"Code93_1D_SE955", 0x80, 3, 1324, 1600, -1},
    {"Interleaved2Of5_1D_SE955", 0x80, 6, 1336, 1612, -1},
    {"Industrial2Of5_1D_SE955", 0x80, 3, 1360, 1636, -1},
    {"Chinese2Of5_1D_SE955", 0x80, 1, 1372, 1648, -1},
    {"Codabar_1D_SE955", 0x80, 5, 1376, 1652, -1},
    {"Msi_1D_SE955", 0x80, 6, 1396, 1672, -1},
    {"GS1_DataBar_1D_SE955", 0x80, 4, 1420, 1696, -1},
    {"Code128_1D_SE955", 0x80, 3, 1436, 1712, -1},
    {"Code11_1D_SE955", 0x80, 5, 1448, 1724, -1},
    {"Upc_2D", 0x04, 15, 1836, 2624, -1},
    {"EanJan_2D", 0x04, 8, 1896, 2684, -1},
    {"Code39_2D", 0x04, 9, 1928, 2716, -1},
    {"Code128_2D", 0x04, 3, 1964, 2752, -1},
    {"Code93_2D", 0x04, 3, 1976, 2764, -1},
    {"Code11_2D", 0x04, 5, 1988, 2776, -1},
    {"Interleaved2Of5_2D", 0x04, 6, 2008, 2796, -1},
    {"Industrial2Of5_2D", 0x04, 3, 2032, 2820, -1},
    {"Codabar_2D", 0x04, 5, 2044, 2832, -1},
    {"Msi_2D", 0x04, 6, 2064, 2852, -1},
    {"PostalCode_2D", 0x04, 8, 2088, 2876, -1},
    {"GS1_DataBar_2D", 0x04, 4, 2120, 2908, -1},
    {"Composite_2D", 0x04, 6, 2136, 2924, -1},
    {"Symbologies_2D", 0x04, 6, 2160, 2948, -1},
    {"MacroPDF_2D", 0x04, 3, 2184, 2972, -1},
    {"MiscellaneousOption_2D", 0x04, 2, 2196, 2984, -1},
    {"ImageOptions_2D", 0x04, 19, 2204, 2992, -1},
    {"UserPreferences_2D", 0x04, 3, 1812, 2600, -1},
    {"SymbologySecurityLevel_2D", 0x04, 3, 1824, 2612, -1},
    {"UserPreferences_2D_4507", 0x40, 3, 2280, 1744, -1},
    {"SymbologySecurityLevel_2D_4507", 0x40, 3, 2292, 1756, -1},
    {"MiscellaneousOption_2D_4507", 0x40, 2, 2304, 1768, -1},
    {"Upc_2D_4507", 0x40, 14, 2312, 1776, -1},
    {"EanJan_2D_4507", 0x40, 7, 2368, 1832, -1},
    {"Code39_2D_4507", 0x40, 9, 2396, 1860, -1},
    {"Code93_2D_4507", 0x40, 3, 2432, 1896, -1},
    {"Interleaved2Of5_2D_4507", 0x40, 6, 2444, 1908, -1},
    {"Industrial2Of5_2D_4507", 0x40, 3, 2468, 1932, -1},
    {"Matrix2Of5_2D_4507", 0x40, 6, 2480, 1944, -1},
    {"Chinese2Of5_2D_4507", 0x40, 1, 2504, 1968, -1},
    {"Codabar_2D_4507", 0x40, 5, 2508, 1972, -1},
    {"Msi_2D_4507", 0x40, 6, 2528, 1992, -1},
    {"GS1_DataBar_2D_4507", 0x40, 4, 2552, 2016, -1},
    {"Code128_2D_4507", 0x40, 5, 2568, 2032, -1},
    {"Code11_2D_4507", 0x40, 5, 2588, 2052, -1},
    {"PostalCode_2D_4507", 0x40, 8, 2608, 2072, -1},
    {"Composite_2D_4507", 0x40, 6, 2640, 2104, -1},
    {"Symbologies_2D_4507", 0x40, 11, 2664, 2128, 5},
    {"MacroPDF_2D_4507", 0x40, 3, 2708, 2172, -1},
    {"ImageOptions_2D_4507", 0x40, 18, 2720, 2184, -1},
}};

// Longest pointer list of any operation.
inline constexpr int kMaxEnginePointers = 19;

// The order in which each program walks the groups.
inline constexpr std::array<std::uint32_t, 4> kVtGroupOrder{0x01, 0x80, 0x04, 0x40};
inline constexpr std::array<std::uint32_t, 4> kTnGroupOrder{0x01, 0x80, 0x40, 0x04};

// The engine settings span of each record.
inline constexpr int kVtEngineBegin = 1160, kVtEngineEnd = 2792;
inline constexpr int kTnEngineBegin = 1436, kTnEngineEnd = 3068;

constexpr const EngineOperation* findEngineOperation(std::string_view name) {
    for (const auto& op : kEngineOperations) {
        if (op.name == name) return &op;
    }
    return nullptr;
}

}  // namespace qn::reader
