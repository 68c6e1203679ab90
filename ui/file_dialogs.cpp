#include "ui/file_dialogs.h"

#include <QFileDialog>

namespace qn::ui {

QString dialogFilter(std::string_view documentFilter) {
    const std::string_view shown = documentFilter.substr(0, documentFilter.find('|'));
    return QString::fromLatin1(shown.data(), static_cast<qsizetype>(shown.size()));
}

reader::FileChooser fileOpenChooser(QWidget* parent, QString filter) {
    return [parent, filter = std::move(filter)]() -> std::optional<std::string> {
        const QString path = QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
        if (path.isEmpty()) return std::nullopt;
        return path.toStdString();
    };
}

reader::FileChooser fileSaveChooser(QWidget* parent, QString filter) {
    return [parent, filter = std::move(filter)]() -> std::optional<std::string> {
        const QString path = QFileDialog::getSaveFileName(parent, QString(), QString(), filter);
        if (path.isEmpty()) return std::nullopt;
        return path.toStdString();
    };
}

}  // namespace qn::ui
