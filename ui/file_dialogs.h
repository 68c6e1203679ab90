#pragma once
// The platform's file-open and file-save dialogs with a program's filter, as the settings
// document's flows ask for them: the chosen path, or nullopt when cancelled.

#include <QString>

#include <string_view>

#include "common/reader/settings_files.h"

class QWidget;

namespace qn::ui {

// "Qnvt Files (*.qnvt)|*.qnvt" as the document keeps it to the dialogs' "Qnvt Files (*.qnvt)".
QString dialogFilter(std::string_view documentFilter);

reader::FileChooser fileOpenChooser(QWidget* parent, QString filter);
reader::FileChooser fileSaveChooser(QWidget* parent, QString filter);

}  // namespace qn::ui
