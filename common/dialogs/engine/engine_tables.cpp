// The engine and symbology dialogs of the four reader families as tables. Rows that the 955,
// 4407 and 4507 engines share are written once with '%' for the family: "1D_SE955", "2D" or
// "2D_4507".

#include "common/dialogs/engine/engine_dialogs.h"

namespace qn::dialogs::engines {

namespace {

constexpr std::uint32_t kLongRangeLaser = 0x02;

ValueRef at(std::string_view operation, int value) {
    return dialogs::engine(operation, value);
}

// Rows shared by the families.

Row lengths(std::string_view op, int first, int second, long long max = 55) {
    return lengthPair(at(op, first), at(op, second), 1, max);
}

std::vector<std::string> aimSeconds() {
    std::vector<std::string> items;
    for (int s = 0; s <= 9; ++s)
        items.push_back((s == 0 ? "*" : "") + std::to_string(s) + " sec");
    return items;
}

std::vector<std::string> timeoutSeconds() {
    std::vector<std::string> items;
    for (int s = 1; s <= 9; ++s)
        items.push_back((s == 3 ? "*" : "") + std::to_string(s) + " sec");
    return items;
}

const std::vector<std::string> kOneToFour{"*1", "2", "3", "4"};
const std::vector<std::string> kZeroToThree{"*0", "1", "2", "3"};
const std::vector<std::string> kSecurityLevels{"0", "1", "*2", "3"};
const std::vector<std::string> kAddons{"*Ignore Addons", "Decode only with Addons",
                                       "Auto-discriminate"};
const std::vector<std::string> kInverse{"*Regular Only", "Inverse Only", "Autodetect"};

std::vector<std::string> preamble(std::string_view symbology) {
    return {"===Select " + std::string(symbology) + " preamble===", "no preamble",
            "*system character", "system character & country code"};
}

// The intercharacter gap belongs to the security-level operation: 6 normal, 10 large.
std::vector<Row> gapRows() {
    return {list("Intercharacter gap size:",
                 {"*Normal intercharacter gaps", "Large intercharacter gaps"},
                 at("SymbologySecurityLevel_%", 3), valueMap({6, 10}, 1)),
            label("(This is applied only on Codabar and Code39)")};
}

std::vector<Row> codabarRows() {
    return {check("CLSI editing", at("Codabar_%", 4)), check("NOTIS editing", at("Codabar_%", 5)),
            lengths("Codabar_%", 2, 3)};
}

std::vector<Row> code11Rows() {
    return {list("Check digit veritication:", {"*disable", "one check digit", "two check digits"},
                 at("Code11_%", 2)),
            check("Transmit check digit", at("Code11_%", 3)), lengths("Code11_%", 4, 5)};
}

std::vector<Row> code128Rows() {
    return {check("GS1-128", at("Code128_%", 2)), check("ISBT 128", at("Code128_%", 3))};
}

std::vector<Row> code39Rows() {
    return {check("Trioptic", at("Code39_%", 2)),
            check("Convert Code 39 to Code 32", at("Code39_%", 3)).named("code32"),
            check("Code 32 prefix", at("Code39_%", 4)).enabledBy("code32"),
            check("Check digit verification", at("Code39_%", 5)).named("verify"),
            check("Transmit check digit", at("Code39_%", 6)).enabledBy("verify"),
            check("Full ASCII conversion", at("Code39_%", 7)),
            lengths("Code39_%", 8, 9)};
}

std::vector<Row> code93Rows() {
    return {lengths("Code93_%", 2, 3)};
}

std::vector<Row> industrial25Rows() {
    return {lengths("Industrial2Of5_%", 2, 3)};
}

std::vector<Row> interleaved25Rows() {
    return {list("Check digit verification:", {"*disable", "USS check digit", "OPCC check digit"},
                 at("Interleaved2Of5_%", 4)),
            check("Transmit check digit", at("Interleaved2Of5_%", 5)),
            check("Convert Interleaved 25 to EAN-13", at("Interleaved2Of5_%", 6)),
            lengths("Interleaved2Of5_%", 2, 3)};
}

std::vector<Row> msiRows() {
    return {list("Check digit veritication:", {"*one MSI check digit", "two MSI check digit"},
                 at("Msi_%", 4)),
            check("Transmit check digit", at("Msi_%", 5)),
            list("Check digit algorithm:", {"MOD 10/MOD 11", "MOD 10/MOD 10"}, at("Msi_%", 6)),
            lengths("Msi_%", 2, 3)};
}

std::vector<Row> gs1DataBarRows() {
    return {check("GS1 DataBar-14", at("GS1_DataBar_%", 1)),
            check("GS1 DataBar Limited", at("GS1_DataBar_%", 2)),
            check("GS1 DataBar Expanded", at("GS1_DataBar_%", 3)),
            check("Convert GS1 DataBar To UPC/EAN", at("GS1_DataBar_%", 4))};
}

std::vector<Row> miscellaneousRows() {
    return {list("Transmit code ID character:", {"*none", "AIM code ID character"},
                 at("MiscellaneousOption_%", 1))};
}

// The add-on settings are kept by both the UPC and the EAN operation: each dialog stores them
// into both.
std::vector<Row> addonRows(std::string_view own, std::string_view other) {
    const std::string mine(own), theirs(other);
    return {
        list("Enable Addons:", kAddons, at(mine, 4)).alsoStoring(at(theirs, 4)),
        number("Addons Redundancy", at(mine, 5), 2, 30).withoutSpin().alsoStoring(at(theirs, 5))};
}

std::vector<Row> eanRows() {
    return std::vector<Row>{check("Enable EAN-8", at("EanJan_%", 1)),
                            check("Enable EAN-13", at("EanJan_%", 2)),
                            check("Bookland EAN", at("EanJan_%", 3))} +
           addonRows("EanJan_%", "Upc_%") +
           std::vector<Row>{check("EAN-8 extend", at("EanJan_%", 6)),
                            check("UCC coupon extended code", at("EanJan_%", 7))};
}

std::vector<Row> upcChecks() {
    return {check("UPC-A", at("Upc_%", 1)), check("UPC-E", at("Upc_%", 2)),
            check("UPC-E1", at("Upc_%", 3))};
}

std::vector<Row> upcCheckDigits() {
    return {check("UPC-A check digit", at("Upc_%", 6)), check("UPC-E check digit", at("Upc_%", 7)),
            check("UPC-E1 check digit", at("Upc_%", 8)),
            check("Convert UPC-E0 to A", at("Upc_%", 9)),
            check("Convert UPC-E1 to A", at("Upc_%", 10))};
}

std::vector<Row> preambleRows(int first) {
    return {list("", preamble("UPC-A"), at("Upc_%", first), heading()),
            list("", preamble("UPC-E"), at("Upc_%", first + 1), heading()),
            list("", preamble("UPC-E1"), at("Upc_%", first + 2), heading())};
}

std::vector<Row> upc2DRows() {
    return upcChecks() + addonRows("Upc_%", "EanJan_%") + upcCheckDigits() +
           std::vector<Row>{check("UCC coupon extended code", at("Upc_%", 11))} + preambleRows(12);
}

std::vector<Row> postalRows() {
    return {check("US Postnet", at("PostalCode_%", 1)).named("postnet"),
            check("Transmit US check digit", at("PostalCode_%", 2)).enabledBy("postnet"),
            check("US Planet", at("PostalCode_%", 3)),
            check("UK Postal", at("PostalCode_%", 4)).named("uk"),
            check("Transmit UK check digit", at("PostalCode_%", 5)).enabledBy("uk"),
            check("Japan Postal", at("PostalCode_%", 6)),
            check("Australian Postal", at("PostalCode_%", 7)),
            check("Dutch Postal", at("PostalCode_%", 8))};
}

std::vector<Row> compositeRows() {
    return {check("Enable composite CC-C", at("Composite_%", 1)),
            check("Enable composite CC-A/B", at("Composite_%", 2)),
            check("Enable composite TLC-39", at("Composite_%", 3)),
            list("UPC composite mode:",
                 {"UPC never linked", "*UPC always linked", "autodiscriminate UPC composites"},
                 at("Composite_%", 4)),
            check("UCC/EAN Code 128 emulation mode", at("Composite_%", 6))};
}

std::vector<Row> macroPdfRows() {
    return {list("Macro PDF Transmit/Decode Mode:",
                 {"buffer all & transmit when complete", "transmit any symbol in set",
                  "*passthrough all symbols"},
                 at("MacroPDF_%", 1)),
            list("Escape characters:", {"*none", "GLI protocol"}, at("MacroPDF_%", 3))};
}

// The reader parameters of the two 2D engines; the 4407 adds the focus mode.
std::vector<Row> readerPara2DRows() {
    return {list("Decode Session Timeout:", timeoutSeconds(), at("UserPreferences_%", 1),
                 scaled(10, 1, 1)),
            check("Enable decoding illumination", at("ImageOptions_%", 4)),
            check("Enable decoding aiming pattern", at("ImageOptions_%", 5)),
            list("Redundancy level:", kOneToFour, at("SymbologySecurityLevel_%", 1), scaled(1, 1)),
            list("Security level:", kZeroToThree, at("SymbologySecurityLevel_%", 2))};
}

// A main dialog's symbology: its enable flag beside the button that opens its dialog.
Row symbology(std::string text, std::string_view op, std::string opens = {}) {
    Row row = check(std::move(text), at(op, 1));
    if (!opens.empty()) row = std::move(row).opening(std::move(opens));
    return row;
}

// The boxes of "955 Setting" and "4507 Setting"; the 4507 engine adds Matrix 25.
std::vector<Row> mainBoxes(const std::string& prefix, bool matrix25) {
    std::vector<Row> rows{
        symbology("Code 39", "Code39_%", prefix + "Code39"),
        symbology("Code 93", "Code93_%", prefix + "Code93"),
        symbology("Interleaved 25", "Interleaved2Of5_%", prefix + "Interleaved25"),
        symbology("Industrial 25", "Industrial2Of5_%", prefix + "Industrial25")};
    if (matrix25) rows.push_back(symbology("Matrix 25", "Matrix2Of5_%", prefix + "Matrix25"));
    return rows + std::vector<Row>{symbology("Chinese 25", "Chinese2Of5_%"),
                                   symbology("Codabar", "Codabar_%", prefix + "Codabar"),
                                   symbology("MSI", "Msi_%", prefix + "Msi"),
                                   symbology("Code 128", "Code128_%", prefix + "Code128"),
                                   symbology("Code 11", "Code11_%", prefix + "Code11")};
}

// The buttons of a main dialog without a box, then "Reader Para" and "Reset".
std::vector<Row> mainButtons(std::string_view prefix,
                             const std::vector<std::pair<const char*, const char*>>& buttons) {
    std::vector<Row> rows;
    for (const auto& [text, dialog] : buttons)
        rows.push_back(button(text).opening(std::string(prefix) + dialog));
    rows.push_back(button("Reader Para").opening(std::string(prefix) + "ReaderPara"));
    rows.push_back(button("Reset").running(std::string(kResetAction)));
    return rows;
}

std::vector<DialogTable> family950() {
    const std::string op = "1D";
    auto startStop = [](int factory) {
        std::vector<std::string> items{"use Industrial 25", "use Interleaved 25", "use Matrix 25"};
        items[static_cast<std::size_t>(factory)].insert(0, "*");
        return items;
    };
    // The 950 engine keeps the length mode as a value of its own.
    auto lengths950 = [](std::string_view name, int first, int second, int mode) {
        return lengthPair(at(name, first), at(name, second), 1, 127, at(name, mode));
    };
    auto twoFive = [&](std::string cls, std::string caption, std::string_view name, int factory) {
        return DialogTable{std::move(cls),
                           std::move(caption),
                           op,
                           {check("Verify check digit", at(name, 2)).named("verify"),
                            check("Transmit check digit", at(name, 3)).enabledBy("verify"),
                            list("Start/stop pattern:", startStop(factory), at(name, 4)),
                            lengths950(name, 7, 6, 5)}};
    };
    return {
        {"CDlg950Main", "950 Setting", op,
         std::vector<Row>{symbology("Codabar", "CodaBar_1D", "CDlg950Codabar"),
                          symbology("Industrial 25", "Industrial25_1D", "CDlg950Industrial25"),
                          symbology("Interleaved 25", "Interleaved25_1D", "CDlg950Interleaved25"),
                          symbology("Matrix 25", "Matrix25_1D", "CDlg950Matrix25"),
                          symbology("Code 39", "Code39_1D", "CDlg950Code39"),
                          symbology("Code 93", "Code93_1D"), symbology("Code 128", "Code128_1D"),
                          symbology("ISBT 128", "Isbt128_1D"),
                          symbology("GS1-128", "GS1_128_1D", "CDlg950Gs1128"),
                          symbology("MSI", "Msi_1D", "CDlg950Msi"),
                          symbology("Negative barcode", "NegativeBarcode_1D"),
                          symbology("Plessey", "Plessey_1D", "CDlg950Plessey"),
                          symbology("Telepen", "Telepen_1D", "CDlg950Telepen"),
                          symbology("EAN 8", "Ean8_1D", "CDlg950Ean8"),
                          symbology("EAN 13 and UPCA", "Ean13UpcA_1D", "CDlg950Ean13"),
                          symbology("UPC-E", "UpcE_1D", "CDlg950UpcE")} +
             mainButtons("CDlg950",
                         {{"GS1 DataBar-14", "GS1DataBar"}, {"I/F Pharma.", "IFPharma"}})},
        {"CDlg950ReaderPara",
         "950 Reader Setting",
         op,
         {list("Decode Session Timeout:", timeoutSeconds(), at("UserPreferences_1D", 3),
               scaled(1, 1)),
          list("Scan mode:", {"Auto off", "Continuous", "Alternate", "*Laser", "Test"},
               at("UserPreferences_1D", 1), valueMap({0, 1, 3, 6, 7}, 3)),
          list("Redundancy level:", kZeroToThree, at("UserPreferences_1D", 2), clamped())}},
        {"CDlg950Codabar",
         "Codabar",
         op,
         {list("Start/stop character:", {"abcd/abcd", "abcd/tn*e", "ABCD / ABCD", "ABCD / TN*E"},
               at("CodaBar_1D", 2)),
          check("Transmit start/stop characer", at("CodaBar_1D", 3))}},
        {"CDlg950Code39",
         "Code 39",
         op,
         {check("Verify check digit", at("Code39_1D", 2)).named("verify"),
          check("Transmit Check digit", at("Code39_1D", 3)).enabledBy("verify"),
          check("Full ASCII", at("Code39_1D", 4)),
          check("Transmit start/stop character", at("Code39_1D", 5))}},
        {"CDlg950Ean13",
         "EAN 13 and UPCA",
         op,
         {check("EAN-13/UPC-A addon 2", at("Ean13UpcA_1D", 2)).wide(),
          check("EAN-13/UPC-A addon 5", at("Ean13UpcA_1D", 3)).wide(),
          check("ISBN conversion", at("Ean13UpcA_1D", 4)),
          check("ISSN conversion", at("Ean13UpcA_1D", 5)),
          check("Transmit EAN-13 check digit", at("Ean13UpcA_1D", 6)),
          check("Convert UPC-A to EAN-13", at("Ean13UpcA_1D", 7)),
          check("Transmit UPC-A check digit", at("Ean13UpcA_1D", 8)),
          check("Transmit system number", at("Ean13UpcA_1D", 9)),
          check("Enable GTIN for EAN-13", at("Gtin_1D", 1))}},
        {"CDlg950Ean8",
         "EAN 8",
         op,
         {check("EAN-8 Addon 2", at("Ean8_1D", 2)), check("EAN-8 Addon 5", at("Ean8_1D", 3)),
          check("Transmit check digit", at("Ean8_1D", 4)),
          check("Convert to EAN-13", at("Ean8_1D", 5))}},
        {"CDlg950Gs1128",
         "GS1-128",
         op,
         {check("Transmit code ID", at("GS1_128_1D", 2)),
          number("Field separator:", at("GS1_128_1D", 3), 0, 255).withoutSpin()}},
        // Nine values for ten boxes: the Expanded group's "Transmit Code ID" has no value of
        // its own in the record and stays disabled.
        {"CDlg950GS1DataBar",
         "GS1 DataBar-14",
         op,
         {check("GS1 DataBar-14", at("GS1_DataBar_1D", 2)).wide().named("14"),
          check("Transmit Code ID", at("GS1_DataBar_1D", 3)).enabledBy("14"),
          check("Transmit Application ID", at("GS1_DataBar_1D", 4)).enabledBy("14"),
          check("Transmit Check Digit", at("GS1_DataBar_1D", 5)).enabledBy("14"),
          check("GS1 DataBar Limited", at("GS1_DataBar_1D", 1)).wide().named("limited"),
          check("Transmit Code ID", at("GS1_DataBar_1D", 6)).enabledBy("limited"),
          check("Transmit Application ID", at("GS1_DataBar_1D", 7)).enabledBy("limited"),
          check("Transmit Check Digit", at("GS1_DataBar_1D", 8)).enabledBy("limited"),
          check("GS1 DataBar Expanded", at("GS1_DataBar_1D", 9)).wide(),
          check("Transmit Code ID", {}).unassigned()}},
        {"CDlg950IFPharma",
         "I/F Pharma.",
         op,
         {check("Enable Italian Pharmacode", at("I_F_Pharmacode_1D", 1)).named("italian"),
          check("Transmit check digit", at("I_F_Pharmacode_1D", 2)).enabledBy("italian"),
          check("Enable French Pharmacode", at("I_F_Pharmacode_1D", 3)).named("french"),
          check("Transmit check digit", at("I_F_Pharmacode_1D", 4)).enabledBy("french")}},
        twoFive("CDlg950Industrial25", "Industrial 25", "Industrial25_1D", 0),
        twoFive("CDlg950Interleaved25", "Interleaved 25", "Interleaved25_1D", 1),
        twoFive("CDlg950Matrix25", "Matrix 25", "Matrix25_1D", 2),
        {"CDlg950Msi",
         "MSI",
         op,
         {list("Verify check digit:",
               {"single modulo 10", "double modulo 10", "modulo 11 and modulo 10"},
               at("Msi_1D", 2)),
          list("Transmit check digit:",
               {"last check digit is NOT transmitted", "both check digits are transmitted",
                "both check digits are NOT transmitted"},
               at("Msi_1D", 3)),
          lengths950("Msi_1D", 6, 5, 4)}},
        {"CDlg950Plessey",
         "Plessey",
         op,
         {check("Transmit check digit", at("Plessey_1D", 2)),
          check("Convert to UK Plessey", at("Plessey_1D", 3))}},
        {"CDlg950Telepen",
         "Telepen",
         op,
         {check("Enable original telepen(Numeric)", at("Telepen_1D", 2))}},
        {"CDlg950UpcE",
         "UPC-E",
         op,
         {list("", {"*enable UPC-E0", "enable UPC-E1/UPC-E0"}, at("UpcE_1D", 4)),
          check("Addon 2", at("UpcE_1D", 2)), check("Addon 5", at("UpcE_1D", 3)),
          check("Convert to UPC-A", at("UpcE_1D", 5)),
          check("Transmit check digit", at("UpcE_1D", 6)),
          check("Transmit system number", at("UpcE_1D", 7))}},
    };
}

std::vector<DialogTable> family955() {
    const std::string f = "1D_SE955";
    std::vector<std::string> betweenSymbols;
    for (int tenths = 0; tenths <= 95; tenths += 5) {
        betweenSymbols.push_back((tenths == 10 ? "*" : "") + std::to_string(tenths / 10) + "." +
                                 std::to_string(tenths % 10) + " sec");
    }
    betweenSymbols.push_back("9.9 sec");
    // Tenths of a second in steps of five; the last entry is the engine's longest, 99.
    Conversion between = scaled(5, 0);
    between.lastFrom = 99;
    between.maxStored = 99;
    return {
        {"CDlg955Main", "955 Setting", f,
         mainBoxes("CDlg955", false) +
             mainButtons("CDlg955", {{"UPC", "Upc"},
                                     {"EAN/JAN", "Ean"},
                                     {"GS1 DataBar", "GS1DataBar"},
                                     {"Miscellaneous Options", "Miscellaneous"}})},
        {"CDlg955ReaderPara", "955 Reader Setting", f,
         std::vector<Row>{
             list("Decode Session Timeout:", timeoutSeconds(), at("UserPreferences_%", 1),
                  scaled(10, 1, 1)),
             list("Redundancy level:", kOneToFour, at("UserPreferences_%", 4), scaled(1, 1)),
             list("Scan angle:", {"narrow", "*wide"}, at("UserPreferences_%", 2), scaled(1, 5)),
             list("Scan mode:", {"Continuous", "*Laser"}, at("UserPreferences_%", 7),
                  valueMap({4, 8}, 1)),
             list("Timeout between symbols:", betweenSymbols, at("UserPreferences_%", 3), between),
             label("(This is applied only in continuous mode.)"),
             list("Aim pattern Duration:", aimSeconds(), at("UserPreferences_%", 6))
                 .withReaderBit(kLongRangeLaser)}},
        {"CDlg955Codabar", "Codabar", f, codabarRows()},
        {"CDlg955Code11", "Code 11", f, code11Rows()},
        {"CDlg955Code128", "Code 128", f, code128Rows()},
        {"CDlg955Code39", "Code 39", f, code39Rows()},
        {"CDlg955Code93", "Code 93", f, code93Rows()},
        {"CDlg955Ean", "EAN/JAN", f,
         eanRows() +
             std::vector<Row>{list("EAN security level:", kSecurityLevels, at("Upc_%", 15))}},
        {"CDlg955GS1DataBar", "GS1 DataBar", f, gs1DataBarRows()},
        {"CDlg955Industrial25", "Industrial 25", f, industrial25Rows()},
        {"CDlg955Interleaved25", "Interleaved 25", f, interleaved25Rows()},
        {"CDlg955Miscellaneous", "Miscellaneous Options", f, miscellaneousRows()},
        {"CDlg955Msi", "MSI", f, msiRows()},
        // The security level is the engine's one UPC/EAN level, shared with "EAN/JAN".
        {"CDlg955Upc", "UPC", f,
         upcChecks() + addonRows("Upc_%", "EanJan_%") + upcCheckDigits() + preambleRows(11) +
             std::vector<Row>{list("UPC security level:", kSecurityLevels, at("Upc_%", 15)),
                              check("UCC coupon extended code", at("Upc_%", 14))}},
    };
}

// The dialogs the 4407 and 4507 engines have in common; prefix "CDlg4407" or "CDlg4507".
std::vector<DialogTable> family2D(const std::string& prefix, const std::string& f) {
    return {
        {prefix + "Codabar", "Codabar", f, codabarRows() + gapRows()},
        {prefix + "Code11", "Code 11", f, code11Rows()},
        {prefix + "Code39", "Code 39", f, code39Rows() + gapRows()},
        {prefix + "Code93", "Code 93", f, code93Rows()},
        {prefix + "Composite", "Composite Code", f, compositeRows()},
        {prefix + "Ean", "EAN/JAN", f, eanRows()},
        {prefix + "GS1DataBar", "GS1 DataBar", f, gs1DataBarRows()},
        {prefix + "Industrial25", "Industrial 25", f, industrial25Rows()},
        {prefix + "Interleaved25", "Interleaved 25", f, interleaved25Rows()},
        {prefix + "MacroPDF", "Macro PDF", f, macroPdfRows()},
        {prefix + "Miscellaneous", "Miscellaneous", f, miscellaneousRows()},
        {prefix + "Msi", "MSI", f, msiRows()},
        {prefix + "Postal", "Postal Codes", f, postalRows()},
        {prefix + "Upc", "UPC", f, upc2DRows()},
    };
}

const std::vector<std::pair<const char*, const char*>> k2DButtons{
    {"UPC", "Upc"},
    {"EAN/JAN", "Ean"},
    {"GS1 DataBar", "GS1DataBar"},
    {"Postal Codes", "Postal"},
    {"Composite Code", "Composite"},
    {"2D Symbologies", "Symbologies"},
    {"Macro PDF", "MacroPDF"},
    {"Miscellaneous", "Miscellaneous"}};

std::vector<DialogTable> family4407() {
    const std::string f = "2D";
    std::vector<DialogTable> tables{
        {"CDlg4407Main", "4407 Setting", f,
         std::vector<Row>{symbology("Codabar", "Codabar_%", "CDlg4407Codabar"),
                          symbology("Code 39", "Code39_%", "CDlg4407Code39"),
                          symbology("Industrial 25", "Industrial2Of5_%", "CDlg4407Industrial25"),
                          symbology("Interleaved 25", "Interleaved2Of5_%", "CDlg4407Interleaved25"),
                          symbology("Code 128", "Code128_%", "CDlg4407Code128"),
                          symbology("Code 93", "Code93_%", "CDlg4407Code93"),
                          symbology("MSI", "Msi_%", "CDlg4407Msi"),
                          symbology("Code 11", "Code11_%", "CDlg4407Code11")} +
             mainButtons("CDlg4407", k2DButtons)},
        {"CDlg4407ReaderPara", "4507 Reader Setting", f,
         readerPara2DRows() +
             std::vector<Row>{list("Focus mode:", {"*Far focus", "Near focus", "Smart focus"},
                                   at("ImageOptions_%", 6), clamped())}},
        {"CDlg4407Code128", "Code 128", f, code128Rows()},
        {"CDlg4407Symbologies",
         "2D Symbologies",
         f,
         {check("PDF 417", at("Symbologies_%", 1)), check("Micro PDF417", at("Symbologies_%", 2)),
          check("Code 128 emulation", at("Symbologies_%", 3)),
          check("Data Matrix", at("Symbologies_%", 4)), check("Maxicode", at("Symbologies_%", 5)),
          check("QR Code", at("Symbologies_%", 6))}},
    };
    for (auto& table : family2D("CDlg4407", f))
        tables.push_back(std::move(table));
    return tables;
}

std::vector<DialogTable> family4507() {
    const std::string f = "2D_4507";
    auto inverse = [](int value) {
        return list("Inverse options:", kInverse, at("Symbologies_%", value));
    };
    std::vector<DialogTable> tables{
        {"CDlg4507Main", "4507 Setting", f,
         mainBoxes("CDlg4507", true) + mainButtons("CDlg4507", k2DButtons)},
        {"CDlg4507ReaderPara", "4507 Reader Setting", f, readerPara2DRows()},
        {"CDlg4507Code128", "Code 128", f,
         code128Rows() +
             std::vector<Row>{
                 list("Concatenation:", {"Disable", "Enable", "Auto-discriminate"},
                      at("Code128_%", 4)),
                 number("Concatenation Redundancy :", at("Code128_%", 5), 2, 20).withoutSpin()}},
        {"CDlg4507Matrix25",
         "Matrix 25",
         f,
         {check("Check digit verification", at("Matrix2Of5_%", 5)).named("verify"),
          check("Transmit check digit", at("Matrix2Of5_%", 6)).enabledBy("verify"),
          check("Redundency", at("Matrix2Of5_%", 4)), lengths("Matrix2Of5_%", 2, 3)}},
        {"CDlg4507Symbologies",
         "2D Symbologies",
         f,
         {check("PDF 417", at("Symbologies_%", 1)), check("Micro PDF417", at("Symbologies_%", 2)),
          check("Code 128 emulation", at("Symbologies_%", 3)),
          check("Data Matrix", at("Symbologies_%", 4)), inverse(5),
          check("Maxicode", at("Symbologies_%", 6)), check("QR Code", at("Symbologies_%", 7)),
          inverse(8), check("MicroQR", at("Symbologies_%", 9)),
          check("AzTec", at("Symbologies_%", 10)), inverse(11)}},
    };
    for (auto& table : family2D("CDlg4507", f))
        tables.push_back(std::move(table));
    return tables;
}

}  // namespace

std::span<const DialogTable> engineTables() {
    static const std::vector<DialogTable> tables = [] {
        std::vector<DialogTable> all;
        for (auto family : {family950(), family955(), family4407(), family4507()}) {
            for (auto& table : family)
                all.push_back(std::move(table));
        }
        return all;
    }();
    return tables;
}

}  // namespace qn::dialogs::engines
