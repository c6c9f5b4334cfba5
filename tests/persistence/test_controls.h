// Stand-ins for the scope's persisted controls and a class publishing every property kind.
// They publish what the window adapters publish: the serializer sees no difference.
#pragma once

#include "persistence/classes.h"

#include <cstdint>
#include <memory>
#include <string>

namespace test_controls {

using namespace persistence;

const TEnumType& AnchorKindType();                    // akLeft, akTop, akRight, akBottom
inline constexpr std::uint32_t kDefaultAnchors = 0x3; // [akLeft,akTop]

class TPopupMenu : public TComponent {
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }
};

// Published as "TComboBox".
class TTestComboBox : public TComponent {
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    std::uint32_t anchors = kDefaultAnchors;
    TSizeConstraints constraints;
    std::int32_t dropDownCount = 8;
    bool enabled = true;
    TFont font;
    TStringList items;
    TPopupMenu* popupMenu = nullptr;
    std::string text;
};

// Published as "TCheckBox". Checked and State move together, as on the real control.
class TTestCheckBox : public TComponent {
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    bool Checked() const { return state == 1; }
    void SetChecked(bool on) { SetState(on ? 1 : 0); }
    void SetState(std::int32_t s);

    bool allowGrayed = false;
    std::string caption;
    TSizeConstraints constraints;
    bool enabled = true;
    TFont font;
    TPopupMenu* popupMenu = nullptr;
    std::int32_t state = 0; // cbUnchecked
    int stateChanges = 0;   // how often the state really changed (a click on the real control)
};

class TGadgetItem : public TCollectionItem {
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    bool checked = false;
    std::int32_t level = 0;
    std::string text;
};

class TGadgetItems : public TCollection {
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }
    TGadgetItems() : TCollection([] { return std::make_unique<TGadgetItem>(); }) {}
    TGadgetItem& At(int i) const { return static_cast<TGadgetItem&>(Item(i)); }
};

// One property of every kind, plus a read-only one and a component reference.
class TGadget : public TComponent {
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    double alarm = 0;    // TTime
    double birthday = 0; // TDate
    std::int32_t count = 0;
    TGadgetItems entries;
    bool flag = false;
    std::string label; // short string
    std::int32_t letter = 'A';
    TPopupMenu* menu = nullptr;
    TStringList names;
    std::string note; // wide string
    TFont part;
    double ratio = 0;
    std::int32_t serial = 7; // read-only
    double stamp = 0;        // TDateTime
    std::uint32_t styles = 0;
    std::string title; // long string
};

} // namespace test_controls
