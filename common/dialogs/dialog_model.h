#pragma once
// Dialogs as models: a caption, controls with their state and rectangle on the 240 × 320
// screen, the session-record field each control exchanges, range checks with the framework's
// messages, and behaviour hooks. The UI draws any model generically and feeds events back;
// tests drive the same models without a display.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/device/device.h"
#include "common/reader/record_fields.h"
#include "platform/message_box.h"

namespace qn::dialogs {

enum class ControlClass {
    Static,
    Button,
    CheckBox,
    RadioButton,
    Edit,
    ComboBox,
    ListBox,
    GroupBox,
    ListView,  // a grid of cells with column headers
    Spin,      // up and down arrows stepping the number edit before it
};

// The class name the layout rules know the control by.
std::string_view className(ControlClass kind);

// An integer exchanged with a record field, with an optional range checked on OK.
struct IntBinding {
    std::function<long long()> get;
    std::function<void(long long)> set;
    std::optional<std::pair<long long, long long>> range;
};

// A text exchanged with a fixed-width record field; longer input is refused on OK.
struct TextBinding {
    std::function<std::string()> get;
    std::function<void(std::string_view)> set;
    std::size_t maxChars = 0;  // 0: no limit
};

IntBinding bindFlag(std::uint8_t& field);
IntBinding bindByte(std::uint8_t& field, std::optional<std::pair<long long, long long>> range = {});
IntBinding bindInt(reader::LeInt32& field,
                   std::optional<std::pair<long long, long long>> range = {});
IntBinding bindPort(reader::LeUint16& field,
                    std::optional<std::pair<long long, long long>> range = {});
TextBinding bindText(std::span<std::uint8_t> field, std::size_t maxChars);

struct Control {
    int id = 0;
    ControlClass kind = ControlClass::Static;
    std::string text;
    device::Rect rect;        // as laid out for the screen mode
    device::Rect designRect;  // on the 240 × 320 screen; the layout works on a copy of it
    bool enabled = true;
    bool visible = true;
    bool readOnly = false;
    bool password = false;           // an edit showing stars
    bool editable = false;           // a combo box with a text of its own
    int buddy = 0;                   // a spin control: the edit it steps
    bool checked = false;            // check boxes and radio buttons
    int radioGroup = 0;              // radio buttons of one group exclude each other
    int selected = -1;               // combo and list boxes
    std::vector<std::string> items;  // combo and list boxes
    // List views: column headers with their widths, and the cells row by row.
    std::vector<std::string> columns;
    std::vector<int> columnWidths;
    std::vector<std::vector<std::string>> cells;
    std::string fontFace;  // set by the layout for the large screen
    int fontPointTenths = 0;

    // What the control exchanges on open and OK (at most one of them).
    std::optional<IntBinding> number;      // check/radio state, list index, or an edit's integer
    std::optional<TextBinding> textField;  // an edit's or an editable combo box's text
    // Converts between the stored value and the index or state shown; plain when empty.
    std::function<long long(long long stored)> shownFrom;
    std::function<std::optional<long long>(long long shown, long long stored)> storedFrom;
};

enum class DialogResult { Ok, Cancel };

class Dialog;

// Runs nested dialogs modally: the UI shows them, tests script them.
class DialogRunner {
  public:
    virtual ~DialogRunner() = default;
    virtual DialogResult runModal(Dialog& dialog) = 0;
};

struct DialogContext {
    platform::MessageBoxes& messages;
    DialogRunner& runner;
    int screenMode = 1;
};

class Dialog {
  public:
    Dialog(std::string caption, device::Rect rect)
        : caption_(std::move(caption)), rect_(rect), designRect_(rect) {}
    virtual ~Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    const std::string& caption() const { return caption_; }
    device::Rect rect() const { return rect_; }
    bool captionOkButton() const { return captionOkButton_; }
    std::vector<Control>& controls() { return controls_; }
    const std::vector<Control>& controls() const { return controls_; }
    Control& control(int id);
    const Control& control(int id) const;
    bool isOpen() const { return open_; }

    // Opening: the bind hook, bound values into the controls, the initialise hook, then the
    // layout for the screen mode, made from the design rectangles every time.
    void open(DialogContext& context);

    // Operator actions, as the UI or a test performs them. Each ends in the change hook.
    void click(int id);                           // a button, check box or radio button
    void setChecked(int id, bool checked);        // a check box set to a state
    void select(int id, int index);               // a combo or list entry
    void setText(int id, std::string_view text);  // an edit's text
    void focus(int id);                           // an edit gets the focus
    void step(int id, int delta);                 // a spin control's arrow
    void clickCell(int id, int row, int column);  // a list view's cell

    // OK: every bound control is checked, then the OK hook may refuse; only then is anything
    // stored. The first failure shows the framework's message and keeps the dialog open
    // (false). After storing, the stored hook.
    bool pressOk();
    // Cancel, Escape or closing the window: the cancel hook, nothing stored.
    void pressCancel();
    DialogResult result() const { return result_; }

    // Exchanges the controls with the record: on open (load) and on OK (store); false with the
    // message shown when a store fails.
    void loadControls();
    bool storeControls();
    // The parts of OK, which a property sheet runs page by page: the checks (with the
    // message), the OK hook, the writing with the stored hook.
    bool validateControls();
    bool approve() { return onOk(); }
    void writeControls();
    void commit();

  protected:
    // The description: called once by the constructor of the concrete dialog.
    Control& add(Control control);
    Control& addStatic(int id, std::string text, device::Rect rect);
    Control& addButton(int id, std::string text, device::Rect rect);
    Control& addCheck(int id, std::string text, device::Rect rect);
    Control& addRadio(int id, std::string text, device::Rect rect, int group);
    Control& addEdit(int id, device::Rect rect);
    Control& addCombo(int id, device::Rect rect, std::vector<std::string> items);
    Control& addList(int id, device::Rect rect, std::vector<std::string> items);
    Control& addGroup(int id, std::string text, device::Rect rect);
    Control& addListView(int id, device::Rect rect, std::vector<std::string> columns,
                         std::vector<int> widths);

    // Opening, before the controls are loaded: the place to bind them to this opening's record.
    virtual void onBind() {}
    virtual void onInit() {}
    virtual void onChanged(int /*id*/) {}
    virtual void onFocus(int /*id*/) {}
    virtual void onCell(int /*id*/, int /*row*/, int /*column*/) {}
    // May refuse OK (false keeps the dialog open); runs before anything is stored.
    virtual bool onOk() { return true; }
    // After OK stored the controls.
    virtual void onStored() {}
    virtual void onCancel() {}

    DialogContext& context();
    platform::MessageBoxes& messages() { return context().messages; }
    DialogResult runNested(Dialog& dialog);

  private:
    std::string caption_;
    device::Rect rect_;
    device::Rect designRect_;
    bool captionOkButton_ = false;
    std::vector<Control> controls_;
    DialogContext* context_ = nullptr;
    bool open_ = false;
    DialogResult result_ = DialogResult::Cancel;
};

// A property sheet: pages are dialogs. OK stores all or nothing: every page's checks and OK
// hook, then the sheet's own OK hook, and only when all of them agree is every page stored.
class PropertySheet {
  public:
    explicit PropertySheet(std::string caption) : caption_(std::move(caption)) {}
    void addPage(Dialog& page) { pages_.push_back(&page); }
    const std::string& caption() const { return caption_; }
    std::span<Dialog* const> pages() const { return pages_; }
    // The sheet's OK hook: may refuse (false keeps the sheet open, nothing stored).
    void setOkHook(std::function<bool()> hook) { okHook_ = std::move(hook); }

    void open(DialogContext& context);
    bool pressOk();
    void pressCancel();

  private:
    std::string caption_;
    std::vector<Dialog*> pages_;
    std::function<bool()> okHook_;
};

// The layout description fitDialog works on, and the result applied back.
device::DialogLayout layoutOf(const Dialog& dialog);

}  // namespace qn::dialogs
