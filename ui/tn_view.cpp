#include "ui/tn_view.h"

#include <QMetaObject>
#include <QPainter>

#include <iconv.h>

#include <array>
#include <mutex>
#include <unordered_map>

#include "common/device/virtual_keys.h"
#include "tn5250/codepage/translation.h"
#include "tn5250/screen/screen_model.h"
#include "tn5250/shell/tn_program.h"

namespace qn::ui {

namespace {

using tn::kColumns;
using tn::kRows;

// The handheld's code page for each language: the single-byte ones, and the double-byte
// pages the translation tables were built for.
const char* codePageName(std::uint8_t language) {
    switch (language) {
        case 1:
            return "CP950";
        case 2:
            return "CP936";
        case 3:
            return "CP949";
        case 4:
            return "IBM943";
        case 5:
            return "CP1253";
        default:
            return "CP1252";
    }
}

constexpr char16_t kUnknown = 0x00B7;  // a byte the code page does not have: a middle dot

// One code page's bytes to characters: single bytes in a table made once, pairs looked up
// once each. Used on the UI thread only.
class CodePage {
  public:
    explicit CodePage(std::uint8_t language)
        : converter_(::iconv_open("UTF-16LE", codePageName(language))) {
        for (int byte = 0; byte < 256; ++byte) {
            const std::uint8_t input = static_cast<std::uint8_t>(byte);
            singles_[static_cast<std::size_t>(byte)] =
                byte == 0 ? QChar(u' ') : convert(&input, 1).value_or(QChar(kUnknown));
        }
        singles_[0x7F] = QChar(kUnknown);
    }
    ~CodePage() {
        if (converter_ != reinterpret_cast<iconv_t>(-1)) ::iconv_close(converter_);
    }
    CodePage(const CodePage&) = delete;
    CodePage& operator=(const CodePage&) = delete;

    QChar single(std::uint8_t byte) const { return singles_[byte]; }
    QChar pair(std::uint8_t lead, std::uint8_t trail) {
        const auto key = static_cast<std::uint16_t>(lead << 8 | trail);
        auto it = pairs_.find(key);
        if (it != pairs_.end()) return it->second;
        const std::uint8_t input[2] = {lead, trail};
        const QChar shown = convert(input, 2).value_or(QChar(kUnknown));
        pairs_.emplace(key, shown);
        return shown;
    }

  private:
    std::optional<QChar> convert(const std::uint8_t* bytes, std::size_t count) {
        if (converter_ == reinterpret_cast<iconv_t>(-1)) {
            if (count == 1 && bytes[0] < 0x80) return QChar(static_cast<char16_t>(bytes[0]));
            return std::nullopt;
        }
        ::iconv(converter_, nullptr, nullptr, nullptr, nullptr);
        char input[2] = {static_cast<char>(bytes[0]), static_cast<char>(count > 1 ? bytes[1] : 0)};
        char output[8] = {};
        char* in = input;
        char* out = output;
        std::size_t inLeft = count;
        std::size_t outLeft = sizeof output;
        if (::iconv(converter_, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) ||
            inLeft != 0 || sizeof output - outLeft != 2) {
            return std::nullopt;
        }
        const char16_t unit = static_cast<char16_t>(static_cast<std::uint8_t>(output[0]) |
                                                    static_cast<std::uint8_t>(output[1]) << 8);
        if (unit < 0x20 || (unit >= 0x7F && unit < 0xA0)) return std::nullopt;
        return QChar(unit);
    }

    iconv_t converter_;
    std::array<QChar, 256> singles_{};
    std::unordered_map<std::uint16_t, QChar> pairs_;
};

CodePage& codePage(std::uint8_t language) {
    static std::array<std::unique_ptr<CodePage>, 7> pages;
    if (language >= pages.size()) language = 0;
    auto& page = pages[language];
    if (!page) page = std::make_unique<CodePage>(language);
    return *page;
}

struct ScreenCopy {
    std::array<std::uint8_t, kRows * kColumns> chars;
    std::array<std::uint8_t, kRows * kColumns> attributes;
    int cursorRow = 0;
    int cursorColumn = 0;
    std::uint8_t language = 0;
};

}  // namespace

LocalText localText(std::uint8_t language, const std::uint8_t* bytes, int count) {
    CodePage& page = codePage(language);
    const bool doubleByte = tn::isDbcsLanguage(language);
    LocalText shown;
    shown.text.reserve(count);
    shown.cells.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (doubleByte && i + 1 < count && tn::isLocalDbcsPair(language, bytes[i], bytes[i + 1])) {
            shown.text.append(page.pair(bytes[i], bytes[i + 1]));
            shown.cells.push_back(i);
            shown.wide = true;
            ++i;
            continue;
        }
        shown.text.append(page.single(bytes[i]));
        shown.cells.push_back(i);
    }
    return shown;
}

CQuillNetTNView::CQuillNetTNView(QWidget* parent) : CellView(parent) {}

void CQuillNetTNView::rebuildFont() {
    int height = 16;
    int width = 8;
    if (program_ != nullptr) {
        std::lock_guard lock(program_->sessionLock());
        height = program_->session().fontHeight;
        width = program_->session().fontWidth;
    }
    // The cell is the session's: width × height, never the face's own.
    fitFont(height, width == 0 ? 8 : width);
}

void CQuillNetTNView::applyScrollBarsSetting() {
    bool shown = true;
    if (program_ != nullptr) {
        std::lock_guard lock(program_->sessionLock());
        shown = scrollBarsShown(program_->session().scrollBarsSetting);
    }
    showScrollBars(shown);
}

QSize CQuillNetTNView::contentSize() const {
    return {kColumns * cellWidth(), kRows * rowPitch()};
}

QPoint CQuillNetTNView::trackingTarget(int row, int column, int w, int h) const {
    // The cursor towards the middle where the screen's edges allow; the vertical step counts
    // rows of the cell height alone.
    return {std::min(kColumns * cellWidth() - w, column * cellWidth() - w / 2),
            std::min(kRows * rowPitch() - h, row * cellHeight() - h / 2)};
}

void CQuillNetTNView::followCursor() {
    if (program_ == nullptr) return;
    int row;
    int column;
    {
        std::lock_guard lock(program_->sessionLock());
        if (program_->session().cursorTracking == 0) return;
        row = program_->screen().state.row;
        column = program_->screen().state.column;
    }
    followCell(row, column);
}

void CQuillNetTNView::postKeyUpdate(bool redraw) {
    if (redraw) viewport()->update();
    followCursor();
    // The caret follows the cursor.
    viewport()->update();
}

QPoint CQuillNetTNView::cellAt(QPoint client) const {
    return {(client.x() + scrollX()) / cellWidth(), (client.y() + scrollY()) / rowPitch()};
}

void CQuillNetTNView::paintCells(QPainter& painter) {
    if (program_ == nullptr || !program_->connected()) return;

    ScreenCopy screen;
    {
        std::lock_guard lock(program_->sessionLock());
        const tn::TnScreen& s = program_->screen();
        for (int row = 0; row < kRows; ++row) {
            const auto chars = s.charRow(row);
            const auto attributes = s.attributeRow(row);
            std::copy_n(chars.begin(), kColumns, screen.chars.begin() + row * kColumns);
            std::copy_n(attributes.begin(), kColumns, screen.attributes.begin() + row * kColumns);
        }
        screen.cursorRow = s.state.row;
        screen.cursorColumn = s.state.column;
        screen.language = program_->session().language;
    }

    namespace attribute = tn::cell_attribute;
    const int sx = scrollX();
    const int sy = scrollY();
    const int viewHeight = viewport()->height();
    for (int row = 0; row < kRows; ++row) {
        const int y = row * rowPitch() - sy;
        if (y + rowPitch() < 0 || y > viewHeight) continue;
        const std::uint8_t* chars = screen.chars.data() + row * kColumns;
        const std::uint8_t* attributes = screen.attributes.data() + row * kColumns;
        int start = 0;
        while (start < kColumns) {
            const std::uint8_t kind = attributes[start] & attribute::kNonDisplay;
            int end = start + 1;
            while (end < kColumns && (attributes[end] & attribute::kNonDisplay) == kind)
                ++end;
            const int x = start * cellWidth() - sx;
            const int cells = end - start;
            if (kind != attribute::kNonDisplay) {
                const LocalText shown = localText(screen.language, chars + start, cells);
                drawRun(painter, x, y, 0, shown.text, cells, (kind & attribute::kReverse) != 0,
                        shown.wide ? shown.cells.data() : nullptr);
                if ((kind & attribute::kUnderline) != 0)
                    painter.fillRect(QRect(x, y + cellHeight() + 1, cells * cellWidth(), 1),
                                     Qt::black);
            }
            start = end;
        }
    }
    drawCaret(painter, screen.cursorRow, screen.cursorColumn);
}

void CQuillNetTNView::repaintNow() {
    viewport()->update();
    followCursor();
}

void CQuillNetTNView::connected() {
    // The model was reset before the socket existed: the view starts empty.
    rebuildFont();
    setCaretShown(true);
    viewport()->update();
    connectionChanged();
}

void CQuillNetTNView::chunkReceived() {
    endReconnecting();
    requestRepaint();
}

void CQuillNetTNView::disconnected() {
    endReconnecting();
    setCaretShown(false);
    QMetaObject::invokeMethod(
        this,
        [this] {
            viewport()->update();
            connectionChanged();
        },
        Qt::QueuedConnection);
}

void CQuillNetTNView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || program_ == nullptr) return;
    const QPoint cell = cellAt(event->position().toPoint());
    if (program_->tap(cell.y(), cell.x())) viewport()->update();
}

void CQuillNetTNView::keyDownAndChar(int qtKey, Qt::KeyboardModifiers modifiers,
                                     const QString& text) {
    if (program_ == nullptr) return;
    const int virtualKey = virtualKeyFor(qtKey);
    bool keyTaken = false;
    if (virtualKey != 0) {
        bool fullScreen;
        {
            std::lock_guard lock(program_->sessionLock());
            fullScreen = program_->session().fullScreenOn.get() != 0;
        }
        const tn::TnViewInput::KeyResult result = program_->keyDown(virtualKey, fullScreen);
        if (result.leaveFullScreen) {
            toFrame(vk::kEscape);
            return;
        }
        postKeyUpdate(result.redraw);
        // Without a connection nothing takes the key: the frame sees it (Escape leaves full
        // screen, which the handheld's escape prefix cannot reach on a desktop keyboard).
        if (!program_->connected()) toFrame(virtualKey);
        keyTaken = tn::TnViewInput::takesKeyDown(virtualKey);
    }
    // A key the editor took as a key-down does not come again as its control character.
    const int c = characterFor(qtKey, modifiers, text);
    if (c >= 0 && !(keyTaken && c < 0x20))
        postKeyUpdate(program_->character(static_cast<std::uint8_t>(c)));
}

}  // namespace qn::ui
