#include "tools/quillnet-demohost/demo_host_5250.h"
#include "tools/quillnet-demohost/demo_link.h"

#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tn5250/codepage/sbcs_tables.h"

namespace qn::tools {

namespace {

constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                       kSe = 240, kEor = 239;
constexpr std::uint8_t kBinary = 0, kTtype = 24, kEndOfRecord = 25, kNewEnviron = 39;
constexpr std::uint8_t kIs = 0, kSend = 1, kInfo = 2;
constexpr std::uint8_t kEnvVar = 0, kEnvValue = 1, kEnvEsc = 2, kEnvUserVar = 3;
// A subnegotiation longer than this is cut; an inbound record longer than this is dropped.
constexpr std::size_t kSubMax = 256;
constexpr std::size_t kRecordMax = 8192;
constexpr std::size_t kDeviceNameMax = 10;

constexpr std::uint8_t kEsc = 0x04;
constexpr std::uint8_t kAidEnter = 0xF1, kAidF3 = 0x33, kAidF12 = 0x3C;
// Not an AID byte: the attention record, or a record without a body.
constexpr std::uint8_t kNoAid = 0x00;

// 5250 attribute bytes.
constexpr std::uint8_t kGreen = 0x20, kReverse = 0x21, kWhite = 0x22, kUnderline = 0x24,
                       kNonDisplay = 0x27;
// Field format word bits.
constexpr std::uint8_t kFfw = 0x40;
constexpr std::uint8_t kNumericOnly = 0x03, kDigitsOnly = 0x05;
constexpr std::uint8_t kMonocase = 0x20, kMandatoryEnter = 0x08, kRightAdjustBlank = 0x06;

// The host's own code page: US EBCDIC, both ways from the shared table.
class Ebcdic {
  public:
    Ebcdic() {
        toHost_.fill(0x6F);  // '?'
        for (int code = 0xFE; code >= 0x40; --code) {
            const std::uint8_t local = qn::tn::kSbcsUs[static_cast<std::size_t>(code)];
            if (local != 0xFF) toHost_[local] = static_cast<std::uint8_t>(code);
        }
    }
    std::uint8_t toHost(char c) const { return toHost_[static_cast<std::uint8_t>(c)]; }
    char toLocal(std::uint8_t code) const {
        if (code == 0x00) return ' ';
        const std::uint8_t local = qn::tn::kSbcsUs[code];
        return local == 0xFF || local < 0x20 ? '?' : static_cast<char>(local);
    }

  private:
    std::array<std::uint8_t, 256> toHost_{};
};

const Ebcdic& ebcdic() {
    static const Ebcdic table;
    return table;
}

// One outbound record: the GDS header, commands and orders, then framed for the wire.
class Record {
  public:
    static constexpr std::uint8_t kPutGet = 3;

    explicit Record(std::uint8_t opcode = kPutGet)
        : bytes_{0, 0, 0x12, 0xA0, 0, 0, 4, 0, 0, opcode} {}

    Record& clearUnit() { return put({kEsc, 0x40}); }
    Record& writeToDisplay(std::uint8_t cc1, std::uint8_t cc2) {
        return put({kEsc, 0x11, cc1, cc2});
    }
    // Start Of Header: the row of the message line.
    Record& header(std::uint8_t errorRow) {
        return put({0x01, 0x07, 0x00, 0x00, 0x00, errorRow, 0x00, 0x00, 0x00});
    }
    Record& at(int row, int column) { return put({0x11, byte(row), byte(column)}); }
    Record& insertCursor(int row, int column) { return put({0x13, byte(row), byte(column)}); }
    // Text after its attribute cell, which sits one column before it.
    Record& text(int row, int column, std::string_view value, std::uint8_t attribute = kGreen) {
        at(row, column - 1);
        bytes_.push_back(attribute);
        return data(value);
    }
    // An input field whose data starts at (row, column), the field attribute one cell before it
    // and a green attribute after it.
    Record& field(int row, int column, int length, std::uint8_t ffw1, std::uint8_t ffw2,
                  std::uint8_t attribute = kUnderline, std::string_view value = {}) {
        at(row, column - 1);
        put({0x1D, ffw1, ffw2, attribute, byte(length >> 8), byte(length)});
        data(value.substr(0, static_cast<std::size_t>(length)));
        at(row, column + length);
        bytes_.push_back(kGreen);
        return *this;
    }
    Record& readMdtFields(std::uint8_t cc1, std::uint8_t cc2) {
        return put({kEsc, 0x52, cc1, cc2});
    }
    // The message on the message line, with the cursor put at (row, column).
    Record& errorCode(int row, int column, std::string_view message) {
        put({kEsc, 0x21, 0x13, byte(row), byte(column), kWhite});
        data(message);
        bytes_.push_back(kGreen);
        return *this;
    }
    // Write Structured Field: the 5250 query.
    Record& query() { return put({kEsc, 0xF3, 0x00, 0x05, 0xD9, 0x70, 0x00}); }

    // The record as it goes on the wire: length filled in, 0xFF doubled, IAC EOR after it.
    std::vector<std::uint8_t> framed() const {
        std::vector<std::uint8_t> wire;
        wire.reserve(bytes_.size() + 16);
        const std::size_t length = bytes_.size();
        for (std::size_t i = 0; i < length; ++i) {
            std::uint8_t b = bytes_[i];
            if (i == 0) b = byte(static_cast<int>(length >> 8));
            if (i == 1) b = byte(static_cast<int>(length));
            wire.push_back(b);
            if (b == kIac) wire.push_back(kIac);
        }
        wire.push_back(kIac);
        wire.push_back(kEor);
        return wire;
    }

  private:
    static std::uint8_t byte(int value) { return static_cast<std::uint8_t>(value & 0xFF); }
    Record& put(std::initializer_list<std::uint8_t> bytes) {
        bytes_.insert(bytes_.end(), bytes);
        return *this;
    }
    Record& data(std::string_view value) {
        for (char c : value)
            bytes_.push_back(ebcdic().toHost(c));
        return *this;
    }

    std::vector<std::uint8_t> bytes_;
};

// What the station sent with an AID key: the cursor, the key, and the modified fields by the
// position of their first cell (1-based row, column).
struct Reply {
    int row = 0;
    int column = 0;
    std::uint8_t aid = kNoAid;
    std::map<std::pair<int, int>, std::string> fields;
};

std::optional<Reply> parseReply(const std::vector<std::uint8_t>& record) {
    if (record.size() < 10 || record[2] != 0x12 || record[3] != 0xA0) return std::nullopt;
    Reply reply;
    const std::size_t bodyStart = 6 + static_cast<std::size_t>(record[6]);
    if ((record[7] & 0x40) != 0 || bodyStart + 3 > record.size()) return reply;  // attention
    reply.row = record[bodyStart];
    reply.column = record[bodyStart + 1];
    reply.aid = record[bodyStart + 2];
    std::size_t at = bodyStart + 3;
    while (at + 2 < record.size()) {
        if (record[at] != 0x11) {
            ++at;
            continue;
        }
        const auto key = std::pair<int, int>(record[at + 1], record[at + 2]);
        at += 3;
        std::string value;
        bool shifted = false;
        for (; at < record.size() && record[at] != 0x11; ++at) {
            const std::uint8_t b = record[at];
            if (b == 0x0E || b == 0x0F) {
                shifted = b == 0x0E;
                if (!shifted) value.push_back('?');
                continue;
            }
            if (!shifted) value.push_back(ebcdic().toLocal(b));
        }
        reply.fields[key] = std::move(value);
    }
    return reply;
}

std::string trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return std::string(text);
}

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

struct Item {
    const char* number;
    const char* description;
    const char* bin;
    int stock;
};

constexpr Item kItems[] = {
    {"0123456789", "BOLT M8 X 40 ZINC", "A0703", 240},
    {"4006381333931", "PENCIL HB BOX OF 12", "B1204", 36},
    {"5012345678900", "TAPE 50MM CLEAR", "C0311", 120},
};

// Screen layout: rows and columns (1-based) of the input fields.
constexpr std::pair<int, int> kUserField{6, 16}, kPasswordField{7, 16};
constexpr std::pair<int, int> kSelectionField{9, 16};
constexpr std::pair<int, int> kItemField{5, 16}, kQuantityField{6, 16}, kBinField{7, 16};
constexpr int kItemLength = 13, kQuantityLength = 5, kBinLength = 6, kNameLength = 10;
constexpr std::uint8_t kMessageRow = 24;

class Tn5250Session {
  public:
    Tn5250Session(int fd, const RecordObserver& observer) : link_(fd), observer_(observer) {}

    void serve() {
        if (!negotiate()) return;
        if (!terminalType_.starts_with("IBM-")) {
            send(std::string_view("This host serves 5250 display stations only.\r\n"));
            return;
        }
        // The station describes itself in its answer to the query; the demo needs nothing of it.
        send(Record(0).query());
        if (!readRecord()) return;
        show(Screen::SignOn);
        for (;;) {
            const auto record = readRecord();
            if (!record) return;
            const auto reply = parseReply(*record);
            if (!reply || reply->aid == kNoAid) continue;
            for (const auto& [position, value] : reply->fields)
                values_[position] = value;
            if (!answer(*reply)) {
                signOff();
                return;
            }
        }
    }

  private:
    enum class Screen { SignOn, Menu, Picking };

    // False when the session ends.
    bool answer(const Reply& reply) {
        if (reply.aid == kAidF3) return false;
        if (reply.aid == kAidF12 && screen_ == Screen::Picking) {
            show(Screen::Menu);
            return true;
        }
        if (reply.aid != kAidEnter) {
            error(reply.row, reply.column, "Function key not allowed.");
            return true;
        }
        switch (screen_) {
            case Screen::SignOn: {
                const std::string user = upper(trimmed(value(kUserField)));
                if (user.empty()) {
                    error(kUserField, "User must be entered.");
                } else {
                    user_ = user;
                    show(Screen::Menu);
                }
                return true;
            }
            case Screen::Menu: {
                const std::string option = trimmed(value(kSelectionField));
                if (option == "1") {
                    show(Screen::Picking);
                } else if (option == "90") {
                    return false;
                } else if (option.empty()) {
                    error(kSelectionField, "Type an option number.");
                } else {
                    error(kSelectionField, "Option " + option + " not valid.");
                }
                return true;
            }
            case Screen::Picking:
                pick();
                return true;
        }
        return true;
    }

    void pick() {
        const std::string number = trimmed(value(kItemField));
        const std::string quantityText = trimmed(value(kQuantityField));
        const std::string bin = upper(trimmed(value(kBinField)));
        if (number.empty()) {
            error(kItemField, "Enter or scan an item.");
            return;
        }
        const auto found =
            std::ranges::find_if(kItems, [&](const Item& item) { return number == item.number; });
        if (found == std::end(kItems)) {
            item_ = nullptr;
            error(kItemField, "Item " + number + " not found.");
            return;
        }
        if (found != item_ || (quantityText.empty() && bin.empty())) {
            // A new item: its answer, and the cursor to the quantity.
            item_ = found;
            show(Screen::Picking);
            return;
        }
        const int stock = stock_.contains(found->number) ? stock_[found->number] : found->stock;
        int quantity = 0;
        const bool digits =
            !quantityText.empty() && quantityText.size() <= 4 &&
            std::ranges::all_of(quantityText, [](char c) { return c >= '0' && c <= '9'; });
        if (digits) quantity = std::stoi(quantityText);
        if (quantity < 1 || quantity > stock) {
            error(kQuantityField, "Quantity not valid.");
            return;
        }
        if (bin.empty()) {
            error(kBinField, "Bin must be entered.");
            return;
        }
        if (bin != found->bin) {
            error(kBinField, "Wrong bin: pick from " + std::string(found->bin) + ".");
            return;
        }
        stock_[found->number] = stock - quantity;
        ++picked_;
        lastPick_ = "Picked " + std::to_string(quantity) + " x " + found->number;
        item_ = nullptr;
        show(Screen::Picking);
    }

    std::string value(std::pair<int, int> field) const {
        const auto it = values_.find(field);
        return it == values_.end() ? std::string() : it->second;
    }

    void error(std::pair<int, int> field, std::string_view message) {
        error(field.first, field.second, message);
    }
    // The message locks the keyboard until the operator's Reset; the read stays pending.
    void error(int row, int column, std::string_view message) {
        send(Record().errorCode(row, column, message).readMdtFields(0x00, 0x40));
    }

    // A fresh screen: the field values are what the host writes into them.
    void show(Screen screen) {
        screen_ = screen;
        values_.clear();
        Record record;
        record.clearUnit().writeToDisplay(0x00, 0x00).header(kMessageRow);
        switch (screen) {
            case Screen::SignOn:
                record.text(1, 2, "QUILLNET SIGN ON", kWhite)
                    .text(3, 2, "System . . :  QUILLNET")
                    .text(4, 2, "Display  . :  " + (deviceName_.empty() ? "DSP01" : deviceName_))
                    .text(6, 2, "User . . . .")
                    .field(kUserField.first, kUserField.second, kNameLength, kFfw, kMonocase)
                    .text(7, 2, "Password . .")
                    .field(kPasswordField.first, kPasswordField.second, kNameLength, kFfw, 0x00,
                           kNonDisplay)
                    .text(22, 2, "F3=Exit", kWhite)
                    .insertCursor(kUserField.first, kUserField.second);
                break;
            case Screen::Menu:
                record.text(1, 2, "MAIN MENU", kWhite)
                    .text(2, 2, "User: " + user_)
                    .text(4, 2, "1. Picking")
                    .text(5, 2, "90. Sign off")
                    .text(9, 2, "Selection ==>")
                    .field(kSelectionField.first, kSelectionField.second, 2, kFfw | kDigitsOnly,
                           0x00)
                    .text(22, 2, "F3=Exit", kWhite)
                    .insertCursor(kSelectionField.first, kSelectionField.second);
                break;
            case Screen::Picking: {
                record.text(1, 2, " PICKING  Order 10042 ", kReverse)
                    .text(2, 2, "User: " + user_ + "  Picked: " + std::to_string(picked_))
                    .text(kItemField.first, 2, "Item . . . .")
                    .field(kItemField.first, kItemField.second, kItemLength, kFfw | kNumericOnly,
                           0x00, kUnderline, item_ != nullptr ? item_->number : "")
                    .text(kQuantityField.first, 2, "Quantity . .")
                    .field(kQuantityField.first, kQuantityField.second, kQuantityLength,
                           kFfw | kNumericOnly, kRightAdjustBlank)
                    .text(kBinField.first, 2, "Bin  . . . .")
                    .field(kBinField.first, kBinField.second, kBinLength, kFfw,
                           kMonocase | kMandatoryEnter);
                if (item_ != nullptr) {
                    values_[kItemField] = item_->number;
                    const int stock =
                        stock_.contains(item_->number) ? stock_[item_->number] : item_->stock;
                    record.text(9, 2, item_->description, kWhite)
                        .text(10, 2,
                              "Pick from " + std::string(item_->bin) + "  Stock " +
                                  std::to_string(stock))
                        .insertCursor(kQuantityField.first, kQuantityField.second);
                } else {
                    record.insertCursor(kItemField.first, kItemField.second);
                }
                if (!lastPick_.empty()) record.text(12, 2, lastPick_);
                record.text(22, 2, "F3=Exit  F12=Menu", kWhite);
                break;
            }
        }
        record.readMdtFields(0x00, 0x08);
        send(record);
    }

    void signOff() {
        send(Record(2)
                 .clearUnit()
                 .writeToDisplay(0x00, 0x40)
                 .text(1, 2, "Signed off. Goodbye, " + (user_.empty() ? "guest" : user_) + "."));
    }

    // Sets the options a 5250 session needs and learns the terminal type and device name.
    // False when the station refuses one of them or goes away.
    bool negotiate() {
        send(std::initializer_list<std::uint8_t>{kIac, kDo, kTtype, kIac, kDo, kNewEnviron, kIac,
                                                 kDo, kEndOfRecord, kIac, kWill, kEndOfRecord, kIac,
                                                 kDo, kBinary, kIac, kWill, kBinary});
        while (!(terminalTypeKnown_ && environKnown_ && agreed_ == kAllAgreed)) {
            const Unit unit = next();
            if (unit.kind == Unit::Closed || refused_) return false;
        }
        return true;
    }

    struct Unit {
        enum Kind { Data, EndOfRecord, Command, Closed } kind;
        std::uint8_t byte = 0;
    };

    // One inbound record up to IAC EOR; nullopt when the connection ends.
    std::optional<std::vector<std::uint8_t>> readRecord() {
        std::vector<std::uint8_t> record;
        bool overlong = false;
        for (;;) {
            const Unit unit = next();
            if (unit.kind == Unit::Closed) return std::nullopt;
            if (unit.kind == Unit::EndOfRecord) {
                if (!overlong) {
                    if (observer_) observer_(record);
                    return record;
                }
                record.clear();
                overlong = false;
                continue;
            }
            if (unit.kind == Unit::Command) continue;
            if (record.size() < kRecordMax) {
                record.push_back(unit.byte);
            } else {
                overlong = true;
            }
        }
    }

    // The next data byte, record end, or telnet command (handled here).
    Unit next() {
        auto b = rawByte();
        if (!b) return {Unit::Closed};
        if (*b != kIac) return {Unit::Data, *b};
        auto command = rawByte();
        if (!command) return {Unit::Closed};
        if (*command == kIac) return {Unit::Data, kIac};
        if (*command == kEor) return {Unit::EndOfRecord};
        if (*command == kSb) {
            if (!subnegotiation()) return {Unit::Closed};
        } else if (*command >= kWill && *command <= kDont) {
            auto option = rawByte();
            if (!option) return {Unit::Closed};
            optionVerb(*command, *option);
        }
        return {Unit::Command};
    }

    void optionVerb(std::uint8_t verb, std::uint8_t option) {
        const bool yes = verb == kWill || verb == kDo;
        switch (option) {
            case kTtype:
                if (verb == kWill) send({kIac, kSb, kTtype, kSend, kIac, kSe});
                if (verb == kWont) refused_ = true;
                return;
            case kNewEnviron:
                if (verb == kWill) {
                    send({kIac, kSb, kNewEnviron, kSend, kEnvUserVar, 'D', 'E', 'V', 'N', 'A', 'M',
                          'E', kIac, kSe});
                }
                if (verb == kWont) environKnown_ = true;
                return;
            case kEndOfRecord:
            case kBinary: {
                const int bit = (option == kBinary ? 1 : 4) << (verb == kWill || verb == kWont);
                if (yes) {
                    agreed_ |= bit;
                } else {
                    refused_ = true;
                }
                return;
            }
            default:
                if (verb == kWill) send({kIac, kDont, option});
                if (verb == kDo) send({kIac, kWont, option});
        }
    }

    bool subnegotiation() {
        std::vector<std::uint8_t> body;
        for (;;) {
            auto b = rawByte();
            if (!b) return false;
            if (*b == kIac) {
                auto next = rawByte();
                if (!next) return false;
                if (*next == kSe) break;
                b = next;
            }
            if (body.size() < kSubMax) body.push_back(*b);
        }
        if (body.size() < 2) return true;
        if (body[0] == kTtype && body[1] == kIs) {
            terminalType_.assign(body.begin() + 2, body.end());
            terminalTypeKnown_ = true;
        } else if (body[0] == kNewEnviron && (body[1] == kIs || body[1] == kInfo)) {
            readEnvironment(std::span(body).subspan(2));
            environKnown_ = true;
        }
        return true;
    }

    // VAR / USERVAR name VALUE value ...: only DEVNAME matters here.
    void readEnvironment(std::span<const std::uint8_t> list) {
        std::string name, content;
        std::string* target = nullptr;
        auto finish = [&] {
            if (name == "DEVNAME") deviceName_ = printable(content).substr(0, kDeviceNameMax);
            name.clear();
            content.clear();
        };
        for (std::size_t i = 0; i < list.size(); ++i) {
            const std::uint8_t b = list[i];
            if (b == kEnvVar || b == kEnvUserVar) {
                finish();
                target = &name;
            } else if (b == kEnvValue) {
                target = &content;
            } else if (target != nullptr) {
                if (b == kEnvEsc && i + 1 < list.size()) ++i;
                target->push_back(static_cast<char>(list[i]));
            }
        }
        finish();
    }

    static std::string printable(std::string text) {
        std::erase_if(text, [](char c) { return c < 0x21 || c > 0x7E; });
        return upper(std::move(text));
    }

    std::optional<std::uint8_t> rawByte() { return link_.rawByte(); }

    void send(const Record& record) {
        const auto wire = record.framed();
        send(std::span<const std::uint8_t>(wire));
    }
    void send(std::initializer_list<std::uint8_t> bytes) {
        send(std::span<const std::uint8_t>(std::data(bytes), bytes.size()));
    }
    void send(std::string_view text) { link_.send(text); }
    void send(std::span<const std::uint8_t> bytes) { link_.send(bytes); }

    // Bits of agreed_: BINARY and EOR, each asked with DO and WILL.
    static constexpr int kAllAgreed = 0x0F;

    DemoLink link_;
    const RecordObserver& observer_;

    bool terminalTypeKnown_ = false;
    bool environKnown_ = false;
    bool refused_ = false;
    int agreed_ = 0;
    std::string terminalType_;
    std::string deviceName_;

    Screen screen_ = Screen::SignOn;
    std::map<std::pair<int, int>, std::string> values_;
    std::string user_;
    const Item* item_ = nullptr;
    std::map<std::string, int> stock_;
    int picked_ = 0;
    std::string lastPick_;
};

}  // namespace

void serveTn5250Session(int fd, const RecordObserver& observer) {
    Tn5250Session session(fd, observer);
    session.serve();
}

}  // namespace qn::tools
