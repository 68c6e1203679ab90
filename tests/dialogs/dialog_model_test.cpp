#include "common/dialogs/dialog_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

namespace qn::dialogs {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A record of the kinds of fields dialogs exchange.
struct Record {
    std::uint8_t flag = 1;
    std::uint8_t length = 15;
    reader::LeInt32 beeper;
    std::uint8_t choice = 1;
    reader::Bytes<9> code{};
    reader::LeUint16 port;
};

enum Id { kFlag = 1, kLength, kBeeper, kRadioA, kRadioB, kRadioC, kCode, kMore, kPort };

class SampleDialog final : public Dialog {
  public:
    explicit SampleDialog(Record& r) : Dialog("Sample", {10, 20, 200, 150}) {
        addCheck(kFlag, "Check Code Length", {5, 5, 80, 12}).number = bindFlag(r.flag);
        addEdit(kLength, {90, 5, 30, 12}).number = bindByte(r.length, {{1, 50}});
        addCombo(kBeeper, {5, 20, 60, 12}, {"Mute", "S1", "S2"}).number = bindInt(r.beeper);
        addRadio(kRadioA, "Always Enable", {5, 40, 80, 12}, 1).number = bindByte(r.choice);
        addRadio(kRadioB, "Ctrl by ESC cmd", {5, 55, 80, 12}, 1);
        addRadio(kRadioC, "Other group", {5, 70, 80, 12}, 2);
        addEdit(kCode, {5, 85, 60, 12}).textField = bindText(r.code, 9);
        addButton(kMore, "more", {100, 85, 40, 14});
        addEdit(kPort, {5, 100, 40, 12}).number = bindPort(r.port, {{0, 65535}});
    }
    std::function<void(int)> changed;
    std::function<bool()> ok;
    int inits = 0;

  protected:
    void onInit() override {
        ++inits;
        control(kLength).enabled = control(kFlag).checked;
    }
    void onChanged(int id) override {
        if (id == kFlag) control(kLength).enabled = control(kFlag).checked;
        if (changed) changed(id);
    }
    bool onOk() override { return ok ? ok() : true; }
};

class ScriptedRunner final : public DialogRunner {
  public:
    std::function<DialogResult(Dialog&)> script;
    DialogResult runModal(Dialog& dialog) override { return script(dialog); }
};

struct Fixture {
    Fixture() {
        record.beeper.set(2);
        record.port.set(23);
    }
    Record record;
    platform::RecordingMessageBoxes messages;
    ScriptedRunner runner;
    DialogContext context{messages, runner, 1};
};

TEST(Dialog, OpenLoadsBoundValuesAndRunsInit) {
    Fixture f;
    reader::storeText(f.record.code, "ABC");
    SampleDialog d(f.record);
    d.open(f.context);
    EXPECT_EQ(d.inits, 1);
    EXPECT_TRUE(d.control(kFlag).checked);
    EXPECT_TRUE(d.control(kLength).enabled);
    EXPECT_EQ(d.control(kLength).text, "15");
    EXPECT_EQ(d.control(kBeeper).selected, 2);
    EXPECT_FALSE(d.control(kRadioA).checked);
    EXPECT_TRUE(d.control(kRadioB).checked);
    EXPECT_FALSE(d.control(kRadioC).checked) << "another group";
    EXPECT_EQ(d.control(kCode).text, "ABC");
    EXPECT_EQ(d.control(kPort).text, "23");
}

TEST(Dialog, OkStoresEveryControl) {
    Fixture f;
    SampleDialog d(f.record);
    d.open(f.context);
    d.setText(kLength, "40");
    d.select(kBeeper, 1);
    d.click(kRadioA);
    d.setText(kCode, "123456789");
    d.setText(kPort, "2323");
    d.click(kFlag);
    EXPECT_FALSE(d.control(kLength).enabled);
    ASSERT_TRUE(d.pressOk());
    EXPECT_EQ(d.result(), DialogResult::Ok);
    EXPECT_EQ(f.record.flag, 0);
    EXPECT_EQ(f.record.length, 40);
    EXPECT_EQ(f.record.beeper.get(), 1);
    EXPECT_EQ(f.record.choice, 0);
    EXPECT_EQ(reader::fixedText(f.record.code), "123456789");
    EXPECT_EQ(f.record.code[8], '9') << "a text that fills its field has no terminator";
    EXPECT_EQ(f.record.port.get(), 2323);
    EXPECT_THAT(f.messages.texts(), IsEmpty());
}

struct RefusalCase {
    const char* name;
    int control;
    const char* text;
    const char* message;
};

class DialogRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(DialogRefusalTest, KeepsTheDialogOpenAndTheRecordUnchanged) {
    Fixture f;
    SampleDialog d(f.record);
    d.open(f.context);
    d.select(kBeeper, 0);  // a change that must not be stored either
    d.setText(GetParam().control, GetParam().text);
    EXPECT_FALSE(d.pressOk());
    EXPECT_TRUE(d.isOpen());
    EXPECT_THAT(f.messages.texts(), ElementsAre(GetParam().message));
    EXPECT_EQ(f.record.beeper.get(), 2);
    EXPECT_EQ(f.record.length, 15);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, DialogRefusalTest,
    ::testing::Values(
        RefusalCase{"Empty", kLength, "", "Enter an integer."},
        RefusalCase{"NotANumber", kLength, "1x", "Enter an integer."},
        RefusalCase{"Decimal", kLength, "1.5", "Enter an integer."},
        RefusalCase{"BelowRange", kLength, "0", "Enter an integer between 1 and 50."},
        RefusalCase{"AboveRange", kLength, "51", "Enter an integer between 1 and 50."},
        RefusalCase{"Huge", kLength, "99999999999999999999", "Enter an integer."},
        RefusalCase{"PortAbove", kPort, "65536", "Enter an integer between 0 and 65535."},
        RefusalCase{"TooLong", kCode, "0123456789", "Enter no more than 9 characters."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Dialog, CancelStoresNothing) {
    Fixture f;
    SampleDialog d(f.record);
    d.open(f.context);
    d.setText(kLength, "33");
    d.click(kFlag);
    d.pressCancel();
    EXPECT_EQ(d.result(), DialogResult::Cancel);
    EXPECT_EQ(f.record.length, 15);
    EXPECT_EQ(f.record.flag, 1);
}

TEST(Dialog, OkHookMayRefuse) {
    Fixture f;
    SampleDialog d(f.record);
    d.ok = [] { return false; };
    d.open(f.context);
    EXPECT_FALSE(d.pressOk());
    EXPECT_TRUE(d.isOpen());
}

TEST(Dialog, DisabledAndReadOnlyControlsIgnoreTheOperator) {
    Fixture f;
    SampleDialog d(f.record);
    std::vector<int> changes;
    d.changed = [&](int id) { changes.push_back(id); };
    d.open(f.context);
    d.click(kFlag);  // disables the length
    d.setText(kLength, "20");
    EXPECT_EQ(d.control(kLength).text, "15");
    d.control(kCode).readOnly = true;
    d.setText(kCode, "zz");
    d.select(kBeeper, 7);  // no such entry
    EXPECT_THAT(changes, ElementsAre(kFlag));
}

TEST(Dialog, LayoutFollowsTheScreenMode) {
    for (int mode : {1, 2}) {
        Fixture f;
        f.context.screenMode = mode;
        SampleDialog d(f.record);
        d.open(f.context);
        EXPECT_TRUE(d.captionOkButton());
        const auto& combo = d.control(kBeeper);
        const auto& check = d.control(kFlag);
        if (mode == 1) {
            EXPECT_EQ(d.rect(), (device::Rect{0, 0, 240, 320}));
            EXPECT_EQ(combo.rect, (device::Rect{5, 20, 60, 12}));
            EXPECT_EQ(check.fontFace, "");
        } else {
            EXPECT_EQ(d.rect(), (device::Rect{0, 0, 480, 640}));
            EXPECT_EQ(combo.rect, (device::Rect{10, 30, 120, 212}));
            EXPECT_EQ(check.rect, (device::Rect{10, 7, 80, 18}));
            EXPECT_EQ(check.fontFace, "Tahoma");
            EXPECT_EQ(check.fontPointTenths, 150);
        }
    }
}

class PageWithRange final : public Dialog {
  public:
    explicit PageWithRange(std::uint8_t& field) : Dialog("Page", {0, 0, 240, 320}) {
        addEdit(1, {0, 0, 10, 10}).number = bindByte(field, {{1, 20}});
    }
};

TEST(PropertySheet, AFailingPageKeepsEveryPageUnstored) {
    Fixture f;
    std::uint8_t first = 5, second = 6;
    PageWithRange a(first), b(second);
    PropertySheet sheet("Settings");
    sheet.addPage(a);
    sheet.addPage(b);
    sheet.open(f.context);
    a.setText(1, "7");
    b.setText(1, "99");
    EXPECT_FALSE(sheet.pressOk());
    EXPECT_EQ(first, 5);
    EXPECT_EQ(second, 6);
    b.setText(1, "8");
    EXPECT_TRUE(sheet.pressOk());
    EXPECT_EQ(first, 7);
    EXPECT_EQ(second, 8);
}

TEST(DialogRunner, NestedDialogsAreScripted) {
    Fixture f;
    std::uint8_t nestedValue = 3;
    f.runner.script = [](Dialog& nested) {
        nested.setText(1, "12");
        return nested.pressOk() ? DialogResult::Ok : DialogResult::Cancel;
    };
    class Outer final : public Dialog {
      public:
        explicit Outer(std::uint8_t& value) : Dialog("Outer", {0, 0, 240, 320}), inner_(value) {
            addButton(1, "more", {0, 0, 10, 10});
        }
        DialogResult last = DialogResult::Cancel;

      protected:
        void onChanged(int) override {
            inner_.open(context());
            last = runNested(inner_);
        }

      private:
        PageWithRange inner_;
    } outer(nestedValue);
    outer.open(f.context);
    outer.click(1);
    EXPECT_EQ(outer.last, DialogResult::Ok);
    EXPECT_EQ(nestedValue, 12);
}

}  // namespace
}  // namespace qn::dialogs
