#pragma once
// Configuration barcodes in the VT program: the record's layout, and the scan handler that
// changes the session record as the settings sheet does.

#include <filesystem>
#include <mutex>

#include "common/fleet/config_scan.h"
#include "vt/settings/vt_document.h"

namespace qn::vt {

fleet::RecordLayout vtRecordLayout();

fleet::ConfigScan vtConfigScan(VtSession& session, std::mutex& sessionLock, VtDocument& document,
                               platform::MessageBoxes& messages, std::filesystem::path settingsDir);

}  // namespace qn::vt
