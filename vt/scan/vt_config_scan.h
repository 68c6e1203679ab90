#pragma once
// Configuration barcodes in the VT program: the record's layout, and the scan handler that
// changes the session record as the settings sheet does. saveDocument false keeps the change in
// the session only (the replay, whose document is no file of the operator's).

#include <filesystem>
#include <mutex>

#include "common/fleet/config_scan.h"
#include "vt/settings/vt_document.h"

namespace qn::vt {

fleet::RecordLayout vtRecordLayout();

fleet::ConfigScan vtConfigScan(VtSession& session, std::mutex& sessionLock, VtDocument& document,
                               platform::MessageBoxes& messages, std::filesystem::path settingsDir,
                               bool saveDocument = true);

}  // namespace qn::vt
