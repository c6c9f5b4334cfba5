#include "persistence/errors.h"
#include "persistence/serializers.h"
#include "temp_dir.h"
#include "test_controls.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

using namespace persistence;
using namespace test_controls;
using testing_support::TempDir;

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void SetItems(TStrings& list, std::initializer_list<std::string> lines) {
    list.Clear();
    for (const std::string& l : lines) {
        list.Add(l);
    }
}

class SerializerTest : public ::testing::Test {
protected:
    TempDir dir;
    TclIniSerializer s;
    std::string file = dir.path() + "/settings.dsw";

    std::string Write(const std::string& content) { return dir.Write("settings.dsw", content); }
    std::string Load(TObject* target, const std::string& section) {
        std::string missing = "(untouched)";
        s.LoadObjFromIniFile(target, file, missing, section);
        return missing;
    }
};

TEST_F(SerializerTest, PathsUseBackslashes) {
    EXPECT_EQ(s.CombinePath("TComboBox0", "Items"), "TComboBox0\\Items");
    EXPECT_EQ(s.ParentPath("A\\B\\C"), "A\\B\\");
    EXPECT_EQ(s.ParentPath("drive:leaf"), "drive:");
    EXPECT_EQ(s.ParentPath("plain"), "");
    EXPECT_EQ(s.LeafName("A\\B\\C"), "C");
    EXPECT_EQ(s.LeafName("x:y"), "y");
    EXPECT_EQ(s.LeafName("plain"), "plain");
}

TEST_F(SerializerTest, RestrictedModeWritesTextItemsCheckedAndState) {
    TTestComboBox combo;
    combo.text = "CNT";
    SetItems(combo.items, {"CNT", "SINE"});
    combo.font.Size = 12; // never written in restricted mode
    combo.constraints.MaxWidth = 300;
    TTestCheckBox box;
    box.SetChecked(true);
    box.caption = "on";
    s.RegisterComponent(&combo);
    s.RegisterComponent(&box);
    s.SetRestrictedMode(true);
    s.SaveRegistered(file);
    EXPECT_EQ(Slurp(file), "[TComboBox0\\Items]\n"
                           "Line0=CNT\n"
                           "Line1=SINE\n"
                           "[TComboBox0]\n"
                           "Text=CNT\n"
                           "[TCheckBox1]\n"
                           "Checked=True\n"
                           "State=cbChecked\n");
}

TEST_F(SerializerTest, UnrestrictedModeWritesEveryStorableProperty) {
    TTestComboBox combo;
    combo.text = "CNT";
    SetItems(combo.items, {"CNT"});
    TPopupMenu menu;
    combo.popupMenu = &menu; // a reference to another control: never stored
    s.SaveObjToIniFile(&combo, file, "TComboBox0");
    EXPECT_EQ(Slurp(file), "[TComboBox0]\n"
                           "Anchors=[akLeft,akTop]\n"
                           "DropDownCount=8\n"
                           "Enabled=True\n"
                           "Name=\n"
                           "Tag=0\n"
                           "Text=CNT\n"
                           "[TComboBox0\\Constraints]\n"
                           "MaxHeight=0\n"
                           "MaxWidth=0\n"
                           "MinHeight=0\n"
                           "MinWidth=0\n"
                           "[TComboBox0\\Font]\n"
                           "Charset=1\n"
                           "Color=-16777208\n"
                           "Height=-11\n"
                           "Name=MS Sans Serif\n"
                           "Pitch=fpDefault\n"
                           "Size=8\n"
                           "Style=[]\n"
                           "[TComboBox0\\Items]\n"
                           "Line0=CNT\n");

    TTestComboBox other;
    other.anchors = 0;
    other.enabled = false;
    other.font.Name = "Courier";
    other.SetTag(5);
    EXPECT_EQ(Load(&other, "TComboBox0"), "OnChange,PopupMenu");
    EXPECT_EQ(other.anchors, kDefaultAnchors);
    EXPECT_TRUE(other.enabled);
    EXPECT_EQ(other.font.Name, "MS Sans Serif");
    EXPECT_EQ(other.Tag(), 0);
    EXPECT_EQ(other.text, "CNT");
    EXPECT_EQ(other.items.ToVector(), std::vector<std::string>{"CNT"});
}

TEST_F(SerializerTest, SecondSaveWithShorterListLeavesNoStaleLines) {
    TTestComboBox combo;
    s.RegisterComponent(&combo);
    s.SetRestrictedMode(true);
    combo.text = "B";
    SetItems(combo.items, {"A", "B", "C"});
    s.SaveRegistered(file);
    SetItems(combo.items, {"B"});
    s.SaveRegistered(file);
    EXPECT_EQ(Slurp(file), "[TComboBox0\\Items]\n"
                           "Line0=B\n"
                           "[TComboBox0]\n"
                           "Text=B\n");
}

TEST_F(SerializerTest, EmptyListWritesNoItemsAndLoadingKeepsTheItems) {
    TTestComboBox combo;
    combo.text = "ALONE";
    s.RegisterComponent(&combo);
    s.SetRestrictedMode(true);
    s.SaveRegistered(file);
    EXPECT_EQ(Slurp(file), "[TComboBox0]\nText=ALONE\n");

    TTestComboBox target;
    SetItems(target.items, {"KEEP1", "KEEP2"});
    EXPECT_EQ(Load(&target, "TComboBox0"),
              "Anchors,Constraints,DropDownCount,Enabled,Font,Items,Name,OnChange,PopupMenu,Tag");
    EXPECT_EQ(target.items.ToVector(), (std::vector<std::string>{"KEEP1", "KEEP2"}));
    EXPECT_EQ(target.text, "ALONE");
}

TEST_F(SerializerTest, StringListEndsAtTheFirstGap) {
    Write("[TComboBox0\\Items]\nLine0=first\nLine2=third\n[TComboBox0]\nText=first\n");
    TTestComboBox combo;
    SetItems(combo.items, {"old"});
    Load(&combo, "TComboBox0");
    EXPECT_EQ(combo.items.ToVector(), std::vector<std::string>{"first"});

    // Keys but no Line0: the list is there, and empty.
    Write("[TComboBox0\\Items]\nLine1=second\n");
    SetItems(combo.items, {"old"});
    Load(&combo, "TComboBox0");
    EXPECT_EQ(combo.items.Count(), 0);
}

TEST_F(SerializerTest, LongListsLoadAndSaveInLinearTime) {
    // Lookups by name must not scan the file: 50000 lines would otherwise take minutes.
    std::string text = "[TComboBox0\\Items]\n";
    for (int i = 0; i < 50000; ++i) {
        text += "Line" + std::to_string(i) + "=V" + std::to_string(i) + "\n";
    }
    TIniFile f = TIniFile::FromText(text);
    TTestComboBox combo;
    std::string missing;
    s.LoadObjFromIni(f, "TComboBox0", missing, &combo);
    ASSERT_EQ(combo.items.Count(), 50000);
    EXPECT_EQ(combo.items.Get(49999), "V49999");
    s.SetRestrictedMode(true);
    TrtWrapper w(&combo);
    s.SaveWrapperToIni(&w, f, "TComboBox0");
    EXPECT_EQ(f.Text(), text + "[TComboBox0]\nText=\n");
}

TEST_F(SerializerTest, CheckedThenStateLeavesTheBoxCleared) {
    Write("[TCheckBox0]\nState=cbUnchecked\nChecked=True\n");
    TTestCheckBox box;
    Load(&box, "TCheckBox0");
    EXPECT_FALSE(box.Checked());
    EXPECT_EQ(box.state, 0);
    EXPECT_EQ(box.stateChanges, 2); // checked by Checked, cleared again by State
}

TEST_F(SerializerTest, SectionAndKeyNamesInAnotherCaseAreFound) {
    Write("[tcombobox0]\ntext=lower\n[TCOMBOBOX0\\ITEMS]\nLINE0=upper\n");
    TTestComboBox combo;
    Load(&combo, "TComboBox0");
    EXPECT_EQ(combo.text, "lower");
    EXPECT_EQ(combo.items.ToVector(), std::vector<std::string>{"upper"});
}

TEST_F(SerializerTest, HandWrittenKeysOfOtherPropertiesAreApplied) {
    Write("[TComboBox0]\n"
          "Text=x\n"
          "DropDownCount=$10\n"
          "Tag=0x20\n"
          "Enabled=False\n"
          "Anchors=[akRight]\n"
          "PopupMenu=PopupMenu1\n"
          "[TComboBox0\\Font]\n"
          "Size=bogus\n"
          "Name=Courier\n");
    TTestComboBox combo;
    TPopupMenu menu;
    combo.popupMenu = &menu;
    s.SetRestrictedMode(true); // reading ignores it
    Load(&combo, "TComboBox0");
    EXPECT_EQ(combo.dropDownCount, 16);
    EXPECT_EQ(combo.Tag(), 32);
    EXPECT_FALSE(combo.enabled);
    EXPECT_EQ(combo.anchors, 0x4u);
    EXPECT_EQ(combo.font.Size, 0); // malformed numbers load as 0
    EXPECT_EQ(combo.font.Name, "Courier");
    EXPECT_EQ(combo.popupMenu, &menu); // component references are not restored
}

TEST_F(SerializerTest, UnknownElementStopsTheLoadAndKeepsEarlierValues) {
    Write("[TComboBox0]\nText=A\n"
          "[TCheckBox1]\nChecked=True\nState=cbSometimes\n"
          "[TComboBox2]\nText=C\n");
    TTestComboBox first;
    TTestCheckBox box;
    TTestComboBox last;
    last.text = "unchanged";
    s.RegisterComponent(&first);
    s.RegisterComponent(&box);
    s.RegisterComponent(&last);
    try {
        s.LoadRegistered(file);
        FAIL() << "the load must stop";
    } catch (const EPropertyConvertError& e) {
        EXPECT_STREQ(e.what(), "Invalid property element: cbSometimes");
    }
    EXPECT_EQ(first.text, "A");
    EXPECT_TRUE(box.Checked());
    EXPECT_EQ(last.text, "unchanged");
    EXPECT_EQ(s.CurrentFile(), nullptr);
}

TEST_F(SerializerTest, FailedSavesRaiseAndKeepWhatWasWritten) {
    TTestComboBox combo;
    combo.text = "KEPT";
    s.RegisterComponent(&combo);
    s.SetRestrictedMode(true);

    const std::string nowhere = dir.path() + "/missing/folder/recent.dsw";
    try {
        s.SaveRegistered(nowhere);
        FAIL() << "a file in a missing folder cannot be written";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + nowhere);
    }

    // The second component fails half-way: the first stays written, none of the second is.
    TTestCheckBox broken;
    broken.state = 7;
    s.RegisterComponent(&broken);
    Write("[TCheckBox1]\nChecked=False\nState=cbUnchecked\n");
    EXPECT_THROW(s.SaveRegistered(file), EPropertyConvertError);
    EXPECT_EQ(Slurp(file), "[TCheckBox1]\nChecked=False\nState=cbUnchecked\n"
                           "[TComboBox0]\nText=KEPT\n");
}

TEST_F(SerializerTest, UntouchedSectionsStayAsTheyWere) {
    Write("; hand-made notes\n"
          "[Window]\n"
          "Left = 10\n"
          "\n"
          "[TComboBox0]\n"
          "Text=old\n"
          "Stale=1\n"
          "\n"
          "[Other]\n"
          "k=v\n");
    TTestComboBox combo;
    combo.text = "new";
    s.RegisterComponent(&combo);
    s.SetRestrictedMode(true);
    s.SaveRegistered(file);
    EXPECT_EQ(Slurp(file), "; hand-made notes\n"
                           "[Window]\n"
                           "Left = 10\n"
                           "\n"
                           "[Other]\n"
                           "k=v\n"
                           "[TComboBox0]\n"
                           "Text=new\n");
}

TEST_F(SerializerTest, MissingFileOrSectionChangesNothing) {
    TTestCheckBox box;
    box.SetChecked(true);
    file = dir.path() + "/absent.dsw";
    EXPECT_EQ(Load(&box, "TCheckBox0"),
              "AllowGrayed,Caption,Checked,Constraints,Enabled,Font,Name,OnClick,PopupMenu,State,"
              "Tag");
    EXPECT_TRUE(box.Checked());
    s.RegisterComponent(&box);
    s.LoadRegistered(file);
    EXPECT_TRUE(box.Checked());
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(SerializerTest, EmptyFileNameDoesNothing) {
    TTestComboBox combo;
    s.RegisterComponent(&combo);
    EXPECT_NO_THROW(s.SaveRegistered(""));
    EXPECT_NO_THROW(s.LoadRegistered(""));
}

TEST_F(SerializerTest, EveryKindAndCollectionsRoundTrip) {
    TGadget g;
    g.alarm = ini_value::EncodeTime(13, 5, 9, 0);
    g.birthday = ini_value::EncodeDate(2024, 2, 29);
    g.count = 5;
    g.flag = true;
    g.label = "lbl";
    g.letter = 'A';
    g.SetName("gadget");
    SetItems(g.names, {"n1"});
    g.note = "wide";
    g.part.Style = 1u << fsItalic;
    g.ratio = 2.5;
    g.stamp = g.birthday + g.alarm;
    g.styles = (1u << fsBold) | (1u << fsUnderline);
    g.SetTag(3);
    g.title = "ttl";
    auto& first = static_cast<TGadgetItem&>(g.entries.Add());
    first.checked = true;
    first.level = 1;
    first.text = "first";
    auto& second = static_cast<TGadgetItem&>(g.entries.Add());
    second.level = 2;
    second.text = "second";

    s.SaveObjToIniFile(&g, file, "G");
    const std::string expected = "[G]\n"
                                 "Alarm=13:05:09\n"
                                 "Birthday=2024-02-29\n"
                                 "Count=5\n"
                                 "Flag=True\n"
                                 "Label=lbl\n"
                                 "Letter=65\n"
                                 "Name=gadget\n"
                                 "Note=wide\n"
                                 "Ratio=2.5\n"
                                 "Stamp=2024-02-29 13:05:09\n"
                                 "Styles=[fsBold,fsUnderline]\n"
                                 "Tag=3\n"
                                 "Title=ttl\n"
                                 "[G\\Entries]\n"
                                 "rt_TCollection=1\n"
                                 "[G\\Entries\\CItem0]\n"
                                 "Checked=True\n"
                                 "Level=1\n"
                                 "Text=first\n"
                                 "[G\\Entries\\CItem1]\n"
                                 "Checked=False\n"
                                 "Level=2\n"
                                 "Text=second\n"
                                 "[G\\Names]\n"
                                 "Line0=n1\n"
                                 "[G\\Part]\n"
                                 "Charset=1\n"
                                 "Color=-16777208\n"
                                 "Height=-11\n"
                                 "Name=MS Sans Serif\n"
                                 "Pitch=fpDefault\n"
                                 "Size=8\n"
                                 "Style=[fsItalic]\n";
    EXPECT_EQ(Slurp(file), expected);

    TGadget back;
    back.entries.Add(); // replaced by the loaded items
    back.entries.Add();
    back.entries.Add();
    const std::string missing = Load(&back, "G");
    EXPECT_EQ(missing, "Anything,Big,Grid,Handler,Menu,Mystery,Origin,Samples,Service,WideLetter");
    EXPECT_EQ(back.alarm, g.alarm);
    EXPECT_EQ(back.birthday, g.birthday);
    EXPECT_DOUBLE_EQ(back.stamp, g.stamp);
    EXPECT_EQ(back.count, 5);
    EXPECT_TRUE(back.flag);
    EXPECT_EQ(back.label, "lbl");
    EXPECT_EQ(back.letter, 'A');
    EXPECT_EQ(back.Name(), "gadget");
    EXPECT_EQ(back.names.ToVector(), std::vector<std::string>{"n1"});
    EXPECT_EQ(back.note, "wide");
    EXPECT_EQ(back.part.Style, 1u << fsItalic);
    EXPECT_EQ(back.ratio, 2.5);
    EXPECT_EQ(back.styles, g.styles);
    EXPECT_EQ(back.Tag(), 3);
    EXPECT_EQ(back.title, "ttl");
    ASSERT_EQ(back.entries.Count(), 2);
    EXPECT_TRUE(back.entries.At(0).checked);
    EXPECT_EQ(back.entries.At(1).level, 2);
    EXPECT_EQ(back.entries.At(1).text, "second");

    // A shorter collection saved over it leaves no stale item sections.
    g.entries.Delete(1);
    s.SaveObjToIniFile(&g, file, "G");
    const std::string shorter = Slurp(file);
    EXPECT_EQ(shorter.find("CItem1"), std::string::npos);
    EXPECT_NE(shorter.find("[G\\Entries\\CItem0]\nChecked=True\nLevel=1\nText=first\n"),
              std::string::npos);
    Load(&back, "G");
    EXPECT_EQ(back.entries.Count(), 1);
}

TEST_F(SerializerTest, ReadOnlyPropertiesAreNeitherWrittenNorRead) {
    Write("[G]\nSerial=99\n");
    TGadget g;
    const std::string missing = Load(&g, "G");
    EXPECT_EQ(g.serial, 7);
    EXPECT_EQ(missing.find("Serial"), std::string::npos);
}

TEST_F(SerializerTest, CollectionItemsEndAtTheFirstGap) {
    Write("[G\\Entries]\nrt_TCollection=1\n"
          "[G\\Entries\\CItem0]\nText=a\n"
          "[G\\Entries\\CItem1]\nText=b\n"
          "[G\\Entries\\CItem3]\nText=d\n");
    TGadget g;
    g.entries.Add();
    Load(&g, "G");
    ASSERT_EQ(g.entries.Count(), 2);
    EXPECT_EQ(g.entries.At(1).text, "b");
}

TEST_F(SerializerTest, KindFilterAndExcludedNamesReachNestedObjects) {
    TTestComboBox combo;
    combo.text = "skipped";
    TrtWrapper w(&combo, {"Height", "Items"}, TTypeKinds{TypeKind::tkClass, TypeKind::tkInteger});
    s.SaveObjToIniFile(&w, file, "C");
    // Constraints comes first in name order, so its sub-section is written before the top.
    EXPECT_EQ(Slurp(file), "[C\\Constraints]\n"
                           "MaxHeight=0\n"
                           "MaxWidth=0\n"
                           "MinHeight=0\n"
                           "MinWidth=0\n"
                           "[C]\n"
                           "DropDownCount=8\n"
                           "Tag=0\n"
                           "[C\\Font]\n"
                           "Charset=1\n"
                           "Color=-16777208\n"
                           "Size=8\n");
}

TEST_F(SerializerTest, NilArgumentsFailWithTheirAssertions) {
    TrtWrapper classOnly(TTestComboBox::StaticClass());
    std::string missing;
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"DoSerializeFrom: Source cannot be nil (tools\\clSerializers, line 542)",
         [&] { s.SerializeFrom(nullptr, "S"); }},
        {"DoSerializeFrom: Source cannot be nil (tools\\clSerializers, line 471)",
         [&] { s.DoSerializeFrom(nullptr, "S"); }},
        {"DoSerializeFrom: Source wrapper's object cannot be nil (tools\\clSerializers, line 473)",
         [&] { s.DoSerializeFrom(&classOnly, "S"); }},
        {"DoDeserializeTo: Target cannot be nil (tools\\clSerializers, line 388)",
         [&] { s.DeserializeTo(nullptr, "S", missing); }},
        {"DoDeserializeTo: Target cannot be nil (tools\\clSerializers, line 321)",
         [&] { s.DoDeserializeTo(nullptr, "S", missing); }},
        {"SaveObjToIniFile: Source cannot be nil (tools\\clSerializers, line 679)",
         [&] { s.SaveObjToIniFile(static_cast<TObject*>(nullptr), file, "S"); }},
        {"SaveObjToIniFile: Source cannot be nil (tools\\clSerializers, line 695)",
         [&] { s.SaveObjToIniFile(static_cast<TrtWrapper*>(nullptr), file, "S"); }},
        {"LoadObjFromIniFile: Target cannot be nil (tools\\clSerializers, line 614)",
         [&] { s.LoadObjFromIniFile(nullptr, file, missing, "S"); }},
    };
    for (const auto& [text, call] : cases) {
        try {
            call();
            ADD_FAILURE() << "no assertion: " << text;
        } catch (const EAssertionFailed& e) {
            EXPECT_EQ(e.what(), text);
            EXPECT_EQ(e.unit(), "tools\\clSerializers");
        }
    }
    // A registered nil component meets the same assertions.
    s.RegisterComponent(nullptr);
    EXPECT_THROW(s.SaveRegistered(file), EAssertionFailed);
    EXPECT_THROW(s.LoadRegistered(file), EAssertionFailed);
    // Storage operations outside a save or load have no file to act on.
    EXPECT_THROW(s.ReadString("S", "k"), std::logic_error);
}

TEST(GlobalSerializer, CreatedOnFirstRequestAndFreedOnDemand) {
    FreeGlobalSerializer();
    TclIniSerializer& g = GlobalSerializer();
    EXPECT_EQ(&GlobalSerializer(), &g);
    EXPECT_FALSE(g.RestrictedMode());
    TTestComboBox combo;
    g.RegisterComponent(&combo);
    g.SetRestrictedMode(true);
    EXPECT_EQ(GlobalSerializer().RegisteredComponents().size(), 1u);
    FreeGlobalSerializer();
    EXPECT_TRUE(GlobalSerializer().RegisteredComponents().empty());
    EXPECT_FALSE(GlobalSerializer().RestrictedMode());
    FreeGlobalSerializer();
}

// The scope window's eleven stored controls, registered in the window's order.
struct ScopeControls {
    TTestComboBox VarName1, VarName2, VarName3, VarNameX, SetterName1, SetterName2, TriggerName;
    TTestCheckBox VarSelected2, VarSelected3, VarSelectedX, NoHisSelected;

    void Register(TclIniSerializer& s) {
        for (TComponent* c : std::initializer_list<TComponent*>{
                 &VarName1, &VarName2, &VarSelected2, &VarName3, &VarSelected3, &VarNameX,
                 &VarSelectedX, &NoHisSelected, &SetterName1, &SetterName2, &TriggerName}) {
            s.RegisterComponent(c);
        }
    }
};

TEST_F(SerializerTest, ScopeSettingsFileLayout) {
    ScopeControls scope;
    scope.VarName1.text = "CNT";
    SetItems(scope.VarName1.items, {"CNT", "SINE"});
    scope.VarName2.text = "SINE";
    SetItems(scope.VarName2.items, {"SINE"});
    scope.VarSelected2.SetChecked(true);
    scope.VarSelected3.SetState(2);
    scope.VarNameX.text = "SQUARE.3";
    SetItems(scope.VarNameX.items, {"SQUARE.3", "CNT"});
    scope.NoHisSelected.SetChecked(true);
    scope.SetterName1.text = "PWM";
    SetItems(scope.SetterName1.items, {"PWM"});
    scope.TriggerName.text = "CNT[2]";
    SetItems(scope.TriggerName.items, {"CNT[2]", "BITS"});
    scope.Register(s);
    s.SetRestrictedMode(true);
    s.SaveRegistered(file);

    const std::string expected = "[TComboBox0\\Items]\n"
                                 "Line0=CNT\n"
                                 "Line1=SINE\n"
                                 "[TComboBox0]\n"
                                 "Text=CNT\n"
                                 "[TComboBox1\\Items]\n"
                                 "Line0=SINE\n"
                                 "[TComboBox1]\n"
                                 "Text=SINE\n"
                                 "[TCheckBox2]\n"
                                 "Checked=True\n"
                                 "State=cbChecked\n"
                                 "[TComboBox3]\n"
                                 "Text=\n"
                                 "[TCheckBox4]\n"
                                 "Checked=False\n"
                                 "State=cbGrayed\n"
                                 "[TComboBox5\\Items]\n"
                                 "Line0=SQUARE.3\n"
                                 "Line1=CNT\n"
                                 "[TComboBox5]\n"
                                 "Text=SQUARE.3\n"
                                 "[TCheckBox6]\n"
                                 "Checked=False\n"
                                 "State=cbUnchecked\n"
                                 "[TCheckBox7]\n"
                                 "Checked=True\n"
                                 "State=cbChecked\n"
                                 "[TComboBox8\\Items]\n"
                                 "Line0=PWM\n"
                                 "[TComboBox8]\n"
                                 "Text=PWM\n"
                                 "[TComboBox9]\n"
                                 "Text=\n"
                                 "[TComboBox10\\Items]\n"
                                 "Line0=CNT[2]\n"
                                 "Line1=BITS\n"
                                 "[TComboBox10]\n"
                                 "Text=CNT[2]\n";
    EXPECT_EQ(Slurp(file), expected);

    // Saving the same state again gives the same file, line for line.
    s.SaveRegistered(file);
    EXPECT_EQ(Slurp(file), expected);

    TclIniSerializer fresh;
    ScopeControls loaded;
    loaded.Register(fresh);
    fresh.LoadRegistered(file);
    EXPECT_EQ(loaded.VarName1.text, "CNT");
    EXPECT_EQ(loaded.VarName1.items.ToVector(), (std::vector<std::string>{"CNT", "SINE"}));
    EXPECT_TRUE(loaded.VarSelected2.Checked());
    EXPECT_EQ(loaded.VarSelected3.state, 2);
    EXPECT_EQ(loaded.VarNameX.items.ToVector(), (std::vector<std::string>{"SQUARE.3", "CNT"}));
    EXPECT_FALSE(loaded.VarSelectedX.Checked());
    EXPECT_TRUE(loaded.NoHisSelected.Checked());
    EXPECT_EQ(loaded.SetterName2.text, "");
    EXPECT_EQ(loaded.TriggerName.text, "CNT[2]");
    EXPECT_EQ(loaded.TriggerName.items.ToVector(), (std::vector<std::string>{"CNT[2]", "BITS"}));
}

} // namespace
