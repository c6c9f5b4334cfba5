#include "persistence/errors.h"
#include "persistence/rtti.h"
#include "test_controls.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

using namespace persistence;
using namespace test_controls;

namespace {

std::vector<std::string> Names(TrtWrapper& w) {
    std::vector<std::string> out;
    for (int i = 0; i < w.PropCount(); ++i) {
        out.push_back(w.GetProperty(i).Name());
    }
    return out;
}

template <class E, class F> std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(ClassRecords, AncestryAndPublishedProperties) {
    const TClass& combo = TTestComboBox::StaticClass();
    EXPECT_EQ(combo.ClassName(), "TComboBox");
    EXPECT_TRUE(combo.InheritsFrom(TComponent::StaticClass()));
    EXPECT_TRUE(combo.InheritsFrom(TPersistent::StaticClass()));
    EXPECT_TRUE(TStringList::StaticClass().InheritsFrom(TStrings::StaticClass()));
    EXPECT_FALSE(TFont::StaticClass().InheritsFrom(TComponent::StaticClass()));
    EXPECT_FALSE(TPersistent::StaticClass().InheritsFrom(combo));

    // Own properties and the component's Name and Tag.
    EXPECT_EQ(combo.PublishedProperties().size(), 11u);
    ASSERT_NE(combo.FindProperty("tag"), nullptr);
    EXPECT_EQ(combo.FindProperty("tag")->name, "Tag");
    EXPECT_EQ(combo.FindProperty("Nothing"), nullptr);

    TTestCheckBox box;
    const TObject& asObject = box;
    EXPECT_EQ(asObject.ClassName(), "TCheckBox");
}

TEST(ClassRecords, PublishingRulesAndHiding) {
    struct Base : TObject {
        static const TClass& StaticClass() {
            static const TClass cls("TBase", &TObject::StaticClass(), [](TClass& c) {
                TPublisher<Base>(c)
                    .Integer("Value", [](Base&) { return 1; })
                    .Integer("Other", [](Base&) { return 2; });
            });
            return cls;
        }
    };
    TClass derived("TDerived", &Base::StaticClass(), [](TClass& c) {
        TPublisher<Base>(c).Integer(
            "VALUE", [](Base&) { return 3; }, [](Base&, std::int32_t) {});
    });
    auto all = derived.PublishedProperties();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0]->name, "VALUE"); // the descendant's declaration hides the ancestor's
    EXPECT_TRUE(static_cast<bool>(derived.FindProperty("value")->write));

    TClass c("TBad", nullptr);
    TPublisher<Base> p(c);
    p.Integer("A", [](Base&) { return 0; });
    EXPECT_THROW(p.Integer("a", [](Base&) { return 0; }), std::invalid_argument);
    EXPECT_THROW(p.Integer("", [](Base&) { return 0; }), std::invalid_argument);
    EXPECT_THROW(p.Integer(std::string(256, 'x'), [](Base&) { return 0; }), std::invalid_argument);
    EXPECT_NO_THROW(p.Integer(std::string(255, 'x'), [](Base&) { return 0; }));
    EXPECT_THROW(p.Property(TPropInfo{"NoReader", {}, {}, {}, {}}), std::invalid_argument);
}

TEST(SortOrder, LettersFoldedAndPrefixFirst) {
    EXPECT_TRUE(PropNameLess("Item", "Items"));
    EXPECT_FALSE(PropNameLess("Items", "Item"));
    EXPECT_TRUE(PropNameLess("alpha", "Beta"));
    EXPECT_TRUE(PropNameLess("ItemIndex", "Items"));
    // With letters folded to upper case "_" (0x5F) sorts after every letter.
    EXPECT_TRUE(PropNameLess("Ab", "A_x"));
    EXPECT_TRUE(PropNameLess("A1", "Ab"));

    TTestComboBox combo;
    TrtWrapper w(&combo);
    EXPECT_EQ(Names(w), (std::vector<std::string>{"Anchors", "Constraints", "DropDownCount",
                                                  "Enabled", "Font", "Items", "Name", "OnChange",
                                                  "PopupMenu", "Tag", "Text"}));
    TTestCheckBox box;
    TrtWrapper wb(&box);
    EXPECT_EQ(Names(wb), (std::vector<std::string>{"AllowGrayed", "Caption", "Checked",
                                                   "Constraints", "Enabled", "Font", "Name",
                                                   "OnClick", "PopupMenu", "State", "Tag"}));
}

TEST(TrtPropertyDescription, ConstructorsAndDescriptors) {
    TTestCheckBox box;
    TrtProperty fromInstance(&box, "state");
    EXPECT_EQ(fromInstance.Name(), "State");
    EXPECT_EQ(fromInstance.Kind(), TypeKind::tkEnumeration);
    EXPECT_EQ(fromInstance.TypeInfo().name, "TCheckBoxState");
    EXPECT_EQ(fromInstance.TypeData().EnumNames(),
              (std::vector<std::string>{"cbUnchecked", "cbChecked", "cbGrayed"}));
    EXPECT_EQ(fromInstance.Instance(), &box);
    EXPECT_EQ(fromInstance.ObjectClass(), &TTestCheckBox::StaticClass());
    EXPECT_FALSE(fromInstance.IsReadOnly());

    TrtProperty fromClass(TGadget::StaticClass(), "Serial");
    EXPECT_EQ(fromClass.Name(), "Serial");
    EXPECT_EQ(fromClass.Kind(), TypeKind::tkInteger);
    EXPECT_TRUE(fromClass.IsReadOnly());
    EXPECT_EQ(fromClass.Instance(), nullptr);

    TrtProperty fromDescriptor(*TFont::StaticClass().FindProperty("Style"));
    EXPECT_EQ(fromDescriptor.Kind(), TypeKind::tkSet);
    EXPECT_EQ(fromDescriptor.TypeData().setElementType, &FontStyleType());
    EXPECT_EQ(fromDescriptor.ObjectClass(), nullptr);

    EXPECT_EQ(MessageOf<EPropertyError>([&] { TrtProperty(&box, "Colour"); }),
              "Property Colour does not exist in TCheckBox");
    EXPECT_THROW(TrtProperty(static_cast<TObject*>(nullptr), "State"), EPropertyError);
    EXPECT_THROW(TrtProperty(TTestComboBox::StaticClass(), "Colour"), EPropertyError);
}

TEST(TrtPropertyDescription, ClassKindAndPersistence) {
    TTestComboBox combo;
    EXPECT_TRUE(TrtProperty(&combo, "Font").IsPersistentClass());
    EXPECT_TRUE(TrtProperty(&combo, "Constraints").IsPersistentClass());
    EXPECT_TRUE(TrtProperty(&combo, "Items").IsPersistentClass());
    EXPECT_EQ(&TrtProperty(&combo, "Items").PropClassType(), &TStrings::StaticClass());
    // A component is a reference to another control, not a nested part.
    EXPECT_FALSE(TrtProperty(&combo, "PopupMenu").IsPersistentClass());

    TrtProperty text(&combo, "Text");
    try {
        (void)text.PropClassType();
        FAIL() << "PropClassType of a string property must fail";
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "PropClassType property is only valid for tkClass properties "
                               "(tools\\clRTTI, line 737)");
        EXPECT_EQ(e.line(), 737);
    }
}

TEST(TrtPropertyValues, EnumerationsAndBooleans) {
    TTestCheckBox box;
    TrtProperty checked(&box, "Checked");
    TrtProperty state(&box, "State");
    EXPECT_EQ(checked.AsString(), "False");
    checked.SetAsString("True");
    EXPECT_EQ(checked.AsString(), "True");
    EXPECT_EQ(state.AsString(), "cbChecked");
    EXPECT_EQ(state.AsInteger(), 1);

    state.SetAsInteger(2);
    EXPECT_EQ(box.state, 2);
    EXPECT_EQ(checked.AsString(), "False");
    state.SetAsString("cbUnchecked");
    EXPECT_EQ(state.AsInteger(), 0);

    EXPECT_EQ(MessageOf<EPropertyConvertError>([&] { checked.SetAsString("Yes"); }),
              "Invalid property element: Yes");
    EXPECT_EQ(MessageOf<EPropertyConvertError>([&] { state.SetAsString("cbMaybe"); }),
              "Invalid property element: cbMaybe");
    EXPECT_EQ(MessageOf<EPropertyConvertError>([&] { state.SetAsInteger(3); }),
              "Invalid property element: 3");
    EXPECT_EQ(box.state, 0);

    // Element names are matched as file names are: without regard to letter case.
    checked.SetAsString("true");
    EXPECT_TRUE(box.Checked());

    box.state = 9; // a value the enumeration cannot name
    EXPECT_EQ(MessageOf<EPropertyConvertError>([&] { (void)state.AsString(); }),
              "Invalid property element: 9");
}

TEST(TrtPropertyValues, SetsNumbersTextsAndKindMismatches) {
    TTestComboBox combo;
    TrtProperty anchors(&combo, "Anchors");
    EXPECT_EQ(anchors.AsString(), "[akLeft,akTop]");
    anchors.SetAsString("[]");
    EXPECT_EQ(anchors.AsString(), "[]");
    anchors.SetAsString("[ akBottom , akLeft ]");
    EXPECT_EQ(anchors.AsString(), "[akLeft,akBottom]");
    EXPECT_EQ(anchors.AsInteger(), 0x9);
    anchors.SetAsInteger(0x6);
    EXPECT_EQ(anchors.AsString(), "[akTop,akRight]");
    EXPECT_EQ(MessageOf<EPropertyConvertError>([&] { anchors.SetAsString("[akLeft,akMiddle]"); }),
              "Invalid property element: akMiddle");
    EXPECT_EQ(combo.anchors, 0x6u);

    TrtProperty count(&combo, "DropDownCount");
    count.SetAsInteger(-12);
    EXPECT_EQ(combo.dropDownCount, -12);
    EXPECT_EQ(count.AsInteger(), -12);

    TGadget g;
    TrtProperty ratio(&g, "Ratio");
    ratio.SetAsFloat(2.5);
    EXPECT_EQ(ratio.AsFloat(), 2.5);
    TrtProperty letter(&g, "Letter");
    EXPECT_EQ(letter.AsInteger(), 'A');
    TrtProperty label(&g, "Label");
    label.SetAsString("short");
    EXPECT_EQ(label.AsString(), "short");

    TrtProperty text(&combo, "Text");
    text.SetAsString("  spaced  ");
    EXPECT_EQ(text.AsString(), "  spaced  ");
    EXPECT_EQ(MessageOf<EPropertyConvertError>([&] { (void)text.AsInteger(); }),
              "Invalid property type: TCaption");
    EXPECT_THROW((void)count.AsString(), EPropertyConvertError);
    EXPECT_THROW(ratio.SetAsString("1"), EPropertyConvertError);
    EXPECT_THROW((void)text.AsObject(), EPropertyConvertError);
    EXPECT_THROW((void)TrtProperty(&g, "Samples").AsInteger(), EPropertyConvertError);

    TrtProperty serial(&g, "Serial");
    EXPECT_EQ(serial.AsInteger(), 7);
    EXPECT_THROW(serial.SetAsInteger(8), EPropertyError);
}

TEST(TrtPropertyValues, ObjectsAreCheckedAgainstThePropertyClass) {
    TTestComboBox combo;
    TrtProperty font(&combo, "Font");
    EXPECT_EQ(font.AsObject(), &combo.font);

    TFont bold;
    bold.Style = 1u << fsBold;
    bold.Name = "Courier";
    font.SetAsObject(&bold);
    EXPECT_EQ(combo.font.Name, "Courier");
    EXPECT_EQ(combo.font.Style, 1u);

    TSizeConstraints wrongClass;
    wrongClass.MaxWidth = 99;
    combo.font.Name = "Unchanged";
    font.SetAsObject(&wrongClass);
    EXPECT_EQ(combo.font.Name, "Unchanged");

    TrtProperty menu(&combo, "PopupMenu");
    TPopupMenu popup;
    menu.SetAsObject(&popup);
    EXPECT_EQ(combo.popupMenu, &popup);
    menu.SetAsObject(&bold); // not a menu: ignored
    EXPECT_EQ(combo.popupMenu, &popup);
    menu.SetAsObject(nullptr); // none is always accepted
    EXPECT_EQ(combo.popupMenu, nullptr);

    // A descendant of the declared class fits.
    TrtProperty items(&combo, "Items");
    TStringList list{"a", "b"};
    items.SetAsObject(&list);
    EXPECT_EQ(combo.items.ToVector(), (std::vector<std::string>{"a", "b"}));
}

TEST(TrtPropertyAssertions, EveryValueAccessNeedsAnInstance) {
    TrtProperty p(TGadget::StaticClass(), "Title");
    TrtProperty f(TGadget::StaticClass(), "Ratio");
    TrtProperty o(TGadget::StaticClass(), "Part");
    TrtProperty i(TGadget::StaticClass(), "Count");
    EXPECT_EQ(p.Name(), "Title");
    EXPECT_EQ(p.Kind(), TypeKind::tkLString);
    EXPECT_FALSE(p.IsReadOnly());

    const std::vector<std::pair<int, std::function<void()>>> cases = {
        {650, [&] { (void)f.AsFloat(); }},      {662, [&] { (void)i.AsInteger(); }},
        {678, [&] { (void)o.AsObject(); }},     {684, [&] { (void)p.AsString(); }},
        {837, [&] { f.SetAsFloat(1); }},        {849, [&] { i.SetAsInteger(1); }},
        {865, [&] { o.SetAsObject(nullptr); }}, {871, [&] { p.SetAsString("x"); }},
    };
    for (const auto& [line, call] : cases) {
        try {
            call();
            ADD_FAILURE() << "no assertion for line " << line;
        } catch (const EAssertionFailed& e) {
            EXPECT_EQ(std::string(e.what()),
                      "This method cannot be called without an object instance.  Construct the "
                      "RTTI object by passing an object instance to the constructor. "
                      "(tools\\clRTTI, line " +
                          std::to_string(line) + ")");
            EXPECT_EQ(e.unit(), "tools\\clRTTI");
        }
    }
}

TEST(TrtWrapperFilters, ExcludedNamesAndKindFilter) {
    TTestComboBox combo;
    TrtWrapper w(&combo, {"Font", "TAG"});
    EXPECT_EQ(w.TotalCount(), 11);
    EXPECT_EQ(w.PropCount(), 9);
    for (const std::string& name : Names(w)) {
        EXPECT_NE(name, "Font");
        EXPECT_NE(name, "Tag");
    }
    EXPECT_EQ(w.Excluded().ToVector(), (std::vector<std::string>{"font", "tag"}));

    TTestCheckBox box;
    TrtWrapper classes(&box, TTypeKinds{TypeKind::tkClass});
    EXPECT_EQ(Names(classes), (std::vector<std::string>{"Constraints", "Font", "PopupMenu"}));
    EXPECT_EQ(classes.TotalCount(), 11);

    TrtWrapper mixed(TTestCheckBox::StaticClass(), {"font"},
                     TTypeKinds{TypeKind::tkClass, TypeKind::tkEnumeration});
    EXPECT_EQ(Names(mixed), (std::vector<std::string>{"AllowGrayed", "Checked", "Constraints",
                                                      "Enabled", "PopupMenu", "State"}));
    EXPECT_EQ(mixed.Instance(), nullptr);
    // Wrapped from a class: descriptions work, values do not.
    EXPECT_THROW((void)mixed.GetProperty(1).AsString(), EAssertionFailed);

    EXPECT_THROW(TrtWrapper(static_cast<TObject*>(nullptr)), EPropertyError);
}

TEST(TrtWrapperFilters, NextPropIndexWalksTheSortedDescriptors) {
    TTestCheckBox box;
    TrtWrapper w(&box, {"checked"}, TTypeKinds{TypeKind::tkEnumeration});
    // Sorted: AllowGrayed0 Caption1 Checked2 Constraints3 Enabled4 Font5 Name6 OnClick7
    //         PopupMenu8 State9 Tag10
    EXPECT_EQ(w.NextPropIndex(-1), 0);
    EXPECT_EQ(w.NextPropIndex(0), 4);
    EXPECT_EQ(w.NextPropIndex(4), 9);
    EXPECT_EQ(w.NextPropIndex(9), -1);
    EXPECT_EQ(w.NextPropIndex(100), -1);
}

TEST(TrtWrapperProperties, SameObjectUntilRefresh) {
    TTestComboBox combo;
    TrtWrapper w(&combo);
    TrtProperty& first = w.GetProperty(10);
    EXPECT_EQ(&w.GetProperty(10), &first);
    EXPECT_EQ(first.Name(), "Text");
    EXPECT_EQ(first.Instance(), &combo);
    EXPECT_THROW(w.GetProperty(11), std::out_of_range);
    EXPECT_THROW(w.GetProperty(-1), std::out_of_range);

    TrtWrapper fromClass(TTestComboBox::StaticClass());
    EXPECT_EQ(&fromClass.GetProperty(0), &fromClass.GetProperty(0));
    EXPECT_EQ(fromClass.GetProperty(0).ObjectClass(), &TTestComboBox::StaticClass());
}

TEST(TrtWrapperProperties, ExcludedNamesChangesRefresh) {
    TTestComboBox combo;
    TrtWrapper w(&combo);
    EXPECT_EQ(w.PropCount(), 11);

    TStringList names{"TEXT", "Items"};
    w.SetExcluded(names);
    EXPECT_EQ(w.Excluded().ToVector(), (std::vector<std::string>{"text", "items"}));
    EXPECT_EQ(w.PropCount(), 9);
    EXPECT_EQ(names.ToVector(), (std::vector<std::string>{"TEXT", "Items"})); // a copy was taken

    // Editing the list in place is seen at once: entries are lower-cased and the view rebuilt.
    w.Excluded().Add("ANCHORS");
    EXPECT_EQ(w.Excluded().ToVector(), (std::vector<std::string>{"text", "items", "anchors"}));
    EXPECT_EQ(w.PropCount(), 8);
    EXPECT_EQ(w.GetProperty(0).Name(), "Constraints");

    w.Excluded().Clear();
    EXPECT_EQ(w.PropCount(), 11);
    w.Excluded().Add("Font");
    w.Excluded().Add("PopupMenu");
    EXPECT_EQ(w.PropCount(), 9);
    EXPECT_EQ(w.Excluded().ToVector(), (std::vector<std::string>{"font", "popupmenu"}));
}

} // namespace
