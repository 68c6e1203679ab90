#include "tools/quillnet-replay/tn_station.h"

#include <cstdio>

#include "common/reader/record_fields.h"
#include "tn5250/input/tn_keys.h"
#include "tn5250/settings/tn_key_map.h"
#include "tools/quillnet-replay/replay_json.h"

namespace qn::tools {

namespace {

std::string position(int row, int column) {
    return "{\"row\": " + std::to_string(row) + ", \"col\": " + std::to_string(column) + "}";
}

const char* boolean(bool value) {
    return value ? "true" : "false";
}

}  // namespace

TnStation::TnStation(OfflineHandheld& handheld, StationWire& wire)
    : handheld(handheld), wire(wire), effects(wire, device, session, sessionLock) {}

void TnStation::start() {
    device.detectModel();
    reader.load();
    reader.initialise();
    document.applyDefaults();
}

void TnStation::function(int code) {
    locked([&] {
        if (screen.state.keyboardLocked && !tn::actsWhileLocked(code)) {
            editor.alarm();
        } else {
            editor.runFunction(code);
        }
    });
}

void TnStation::scan(std::span<const std::uint8_t> decoded) {
    setScriptedBarcode(decoded);
    decoder.handleDecode(tn::kBarcodeDecode);
}

void TnStation::rfid(std::span<const std::uint8_t> uid, std::span<const std::uint8_t> userData) {
    setScriptedRfid(uid, userData);
    decoder.handleDecode(0);
}

void TnStation::tap(int row, int column) {
    locked([&] { screen.tapCell(row, column); });
}

std::string TnStation::rowText(int row) const {
    std::string line;
    for (std::uint8_t c : screen.charRow(row).first<tn::kColumns>())
        line += c == 0 ? ' ' : static_cast<char>(c);
    return line;
}

std::string TnStation::screenText() const {
    std::string out;
    for (int row = 0; row < tn::kRows; ++row)
        out += rowText(row) + "\n";
    return out;
}

std::string TnStation::report(const std::vector<std::vector<std::uint8_t>>& sendList) const {
    const tn::ScreenState& s = screen.state;
    std::vector<std::string> text, textHex, attributes, sends;
    for (int row = 0; row < tn::kRows; ++row) {
        text.push_back(rowText(row));
        textHex.push_back(hex(screen.charRow(row).first<tn::kColumns>()));
        attributes.push_back(hex(screen.attributeRow(row).first<tn::kColumns>()));
    }
    std::vector<std::uint8_t> sent;
    for (const auto& send : sendList) {
        sends.push_back(hex(send));
        sent.insert(sent.end(), send.begin(), send.end());
    }

    std::string out = "{\n  \"screen\": ";
    appendStringArray(out, text, true);
    out += ",\n  \"screenHex\": ";
    appendStringArray(out, textHex, true);
    out += ",\n  \"attributes\": ";
    appendStringArray(out, attributes, true);
    out += ",\n  \"fields\": [";
    bool firstField = true;
    for (const tn::FieldEntry& f : screen.fields.entries()) {
        out += firstField ? "\n    " : ",\n    ";
        firstField = false;
        char line[256];
        std::snprintf(line, sizeof line,
                      "{\"number\": %d, \"row\": %d, \"col\": %d, \"length\": %d, "
                      "\"ffw1\": %d, \"ffw2\": %d, \"fcw1\": %d, \"fcw2\": %d, "
                      "\"attribute\": %d, \"resequence\": %d}",
                      f.number, f.row, f.column, static_cast<int>(f.length), f.ffw1, f.ffw2, f.fcw1,
                      f.fcw2, f.attribute, f.resequence);
        out += line;
    }
    out += firstField ? "]" : "\n  ]";
    out += ",\n  \"cursor\": " + position(s.row, s.column);
    out += ",\n  \"insertCursor\": " + position(s.insertCursorRow, s.insertCursorColumn);
    out += ",\n  \"currentField\": " + std::to_string(s.currentField.number);
    out += ",\n  \"keyboardLocked\": " + std::string(boolean(s.keyboardLocked));
    out += ",\n  \"insertMode\": " + std::string(boolean(s.insertMode));
    out += ",\n  \"messageShown\": " + std::string(boolean(s.messageShown));
    out += ",\n  \"messageRow\": " + std::to_string(s.messageRow);
    out += ",\n  \"messageText\": \"" +
           hex(std::span(s.messageText).first(reader::fixedLength(s.messageText))) + "\"";
    out += ",\n  \"readMode\": " + std::to_string(s.readMode);
    out += ",\n  \"sent\": \"" + hex(sent) + "\"";
    out += ",\n  \"sends\": ";
    appendStringArray(out, sends, false);
    out += ",\n  \"events\": ";
    appendStringArray(out, handheld.events.list(), false);
    out += "\n}\n";
    return out;
}

}  // namespace qn::tools
