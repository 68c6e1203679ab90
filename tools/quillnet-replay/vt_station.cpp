#include "tools/quillnet-replay/vt_station.h"

#include "tools/quillnet-replay/replay_json.h"

namespace qn::tools {

VtStation::VtStation(OfflineHandheld& handheld, StationWire& wire)
    : handheld(handheld), wire(wire) {
    host.attach(&wire);
}

void VtStation::start() {
    device.detectModel();
    reader.load();
    reader.initialise();
    document.setDefaultSettings();
}

void VtStation::runDeferred() {
    vt::DeferredVtHost::Batch batch;
    {
        std::lock_guard lock(sessionLock);
        batch = deferred.take();
    }
    batch.run(host);
}

void VtStation::scan(std::span<const std::uint8_t> decoded) {
    setScriptedBarcode(decoded);
    decoder.handleDecode(vt::kBarcodeDecode);
}

void VtStation::rfid(std::span<const std::uint8_t> uid, std::span<const std::uint8_t> userData) {
    setScriptedRfid(uid, userData);
    decoder.handleDecode(0);
}

std::string VtStation::rowText(int row) const {
    std::string text;
    for (std::uint8_t c : emulator.screen().rowChars(row))
        text += c == 0 ? ' ' : static_cast<char>(c);
    return text;
}

std::string VtStation::screenText() const {
    std::string out;
    for (int row = 0; row < vt::kScreenRows; ++row)
        out += rowText(row) + "\n";
    return out;
}

std::string VtStation::report(const std::vector<std::vector<std::uint8_t>>& sendList) const {
    const std::vector<std::string> events = handheld.events.list();
    const vt::VtSettings& settings = session.settings;

    const vt::VtScreen& s = emulator.screen();
    std::vector<std::string> screen;
    for (int row = 0; row < vt::kBufferRows; ++row) {
        std::string text;
        for (std::uint8_t c : s.rowChars(row))
            text += c == 0 ? ' ' : static_cast<char>(c);
        screen.push_back(std::move(text));
    }
    std::vector<std::string> reverse;
    for (int row = 0; row < vt::kScreenRows; ++row) {
        std::string flags;
        for (int col = 0; col < vt::kScreenColumns; ++col)
            flags += s.isReverse(row, col) ? '1' : '0';
        reverse.push_back(std::move(flags));
    }
    std::vector<std::string> sends;
    std::vector<std::uint8_t> sent;
    for (const auto& send : sendList) {
        sends.push_back(hex(send));
        sent.insert(sent.end(), send.begin(), send.end());
    }

    std::string out = "{\n  \"screen\": ";
    appendStringArray(out, screen, true);
    out += ",\n  \"reverse\": ";
    appendStringArray(out, reverse, true);
    out += ",\n  \"cursor\": {\"row\": " + std::to_string(s.cursorRow) +
           ", \"col\": " + std::to_string(s.cursorCol) + "}";
    const std::pair<const char*, long> modes[] = {
        {"newLineModeOff", s.newLineModeOff},
        {"cursorKeysNormal", s.cursorKeysNormal},
        {"autoWrap", s.autoWrap},
        {"replaceMode", s.replaceMode},
        {"noRegion", s.noRegion},
        {"regionTop", s.regionTop},
        {"regionBottom", s.regionBottom},
        {"originMode", s.originMode},
        {"lineDrawing", s.lineDrawing},
        {"localEcho", settings.localEcho},
    };
    out += ",\n  \"emulation\": \"" + std::string(vt::vtEmulationName(emulator.emulation())) + '"';
    out += ",\n  \"modes\": {";
    for (std::size_t i = 0; i < std::size(modes); ++i) {
        if (i) out += ", ";
        out += '"' + std::string(modes[i].first) + "\": " + std::to_string(modes[i].second);
    }
    out += "},\n  \"sent\": ";
    appendJsonString(out, hex(sent));
    out += ",\n  \"sends\": ";
    appendStringArray(out, sends);
    out += ",\n  \"events\": ";
    appendStringArray(out, events);
    out += "\n}\n";
    return out;
}

}  // namespace qn::tools
