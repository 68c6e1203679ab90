#pragma once
// Configuration barcodes in the 5250 program: the record's layout, and the scan handler that
// changes the session record as the settings sheet does. saveDocument false keeps the change in
// the session only (the replay, whose document is no file of the operator's).

#include <filesystem>
#include <mutex>

#include "common/fleet/config_scan.h"
#include "tn5250/settings/tn_document.h"

namespace qn::tn {

fleet::RecordLayout tnRecordLayout();

fleet::ConfigScan tnConfigScan(TnSessionState& state, std::mutex& sessionLock, TnDocument& document,
                               platform::MessageBoxes& messages, std::filesystem::path settingsDir,
                               bool saveDocument = true);

}  // namespace qn::tn
