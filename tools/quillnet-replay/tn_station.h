#pragma once
// The 5250 terminal put together as the program does it, without its window and without its
// socket: the interpreter and the editor queue their sends and alarms under the session lock
// and they are carried out once it is released, through the program's own host, onto `wire`;
// scans go through the program's decode handling. The replay feeds it recorded host bytes, the
// session tool a live connection.

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "common/device/device.h"
#include "common/reader/reader_library.h"
#include "platform/paths.h"
#include "tn5250/datastream/data_stream.h"
#include "tn5250/input/field_editor.h"
#include "tn5250/input/tn_program_host.h"
#include "tn5250/input/view_input.h"
#include "tn5250/scan/tn_config_scan.h"
#include "tn5250/scan/tn_decode_handler.h"
#include "tn5250/screen/screen_model.h"
#include "tn5250/settings/tn_document.h"
#include "tools/quillnet-replay/offline_handheld.h"
#include "tools/quillnet-replay/script_steps.h"

namespace qn::tools {

struct TnStation final : OperatorInput {
    TnStation(OfflineHandheld& handheld, StationWire& wire);

    // The model and the reader library, as at start-up; the session's defaults.
    void start();

    template <class Operation>
    void locked(Operation&& operation) {
        tn::DeferredTnHost::Batch batch;
        {
            std::lock_guard lock(sessionLock);
            operation();
            batch = deferred.take();
        }
        batch.run(effects);
    }

    // The operator's input: key-downs and characters through the view's key filter, a key
    // whose function is code (with the keyboard locked only Reset and Attention act), decodes,
    // taps.
    void key(int virtualKey) override {
        view.keyDown(virtualKey, /*fullScreen=*/false, /*socketOpen=*/wire.open());
    }
    void character(std::uint8_t c) override { view.character(c, /*socketOpen=*/wire.open()); }
    void function(int code) override;
    void scan(std::span<const std::uint8_t> decoded) override;
    void rfid(std::span<const std::uint8_t> uid, std::span<const std::uint8_t> userData) override;
    void tap(int row, int column) override;

    // Under the session lock: row text (nulls as blanks), the cursor, the whole report as JSON
    // with the given sends, and the screen as 24 lines.
    std::string rowText(int row) const;
    std::pair<int, int> cursor() const { return {screen.state.row, screen.state.column}; }
    std::string report(const std::vector<std::vector<std::uint8_t>>& sends) const;
    std::string screenText() const;

    OfflineHandheld& handheld;
    StationWire& wire;
    device::DeviceLayer device{handheld.services};
    reader::ReaderLibrary reader{handheld.services};
    tn::TnSessionState state;
    tn::TnDocument document{state, reader, handheld.events, {}};
    tn::TnSession& session = state.settings;
    std::mutex sessionLock;
    tn::TnProgramHost effects;
    tn::DeferredTnHost deferred;
    tn::TnScreen screen;
    tn::TnDataStream stream{screen, session, deferred};
    tn::TnFieldEditor editor{screen, stream, session, deferred};
    tn::TnViewInput view{editor, [this](const std::function<void()>& run) { locked(run); }};
    // Configuration codes with the site key of the settings folder; the session takes them, no
    // file does.
    fleet::ConfigScan configScan{tn::tnConfigScan(state, sessionLock, document, handheld.events,
                                                  platform::settingsDir(), false)};
    tn::TnDecodeHandler decoder{
        {handheld.events,
         reader,
         device,
         session,
         sessionLock,
         editor,
         deferred,
         effects,
         {},
         [this](std::span<const std::uint8_t> code) { return configScan.handle(code); }}};
};

}  // namespace qn::tools
