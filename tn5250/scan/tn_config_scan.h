#pragma once
// Configuration barcodes in the 5250 program: the record's layout, and the scan handler that
// changes the session record as the settings sheet does.

#include <filesystem>
#include <mutex>

#include "common/fleet/config_scan.h"
#include "tn5250/settings/tn_document.h"

namespace qn::tn {

fleet::RecordLayout tnRecordLayout();

fleet::ConfigScan tnConfigScan(TnSessionState& state, std::mutex& sessionLock, TnDocument& document,
                               platform::MessageBoxes& messages, std::filesystem::path settingsDir);

}  // namespace qn::tn
