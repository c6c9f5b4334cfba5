#include "test_controls.h"

namespace test_controls {

namespace {

// Object properties are set by copying into the part the control owns, as a control's font
// or item list is never replaced, only assigned.
template <class Part> std::function<void(Part&, TObject*)> AssignInto() {
    return [](Part& part, TObject* value) {
        if (value != nullptr) {
            part.Assign(static_cast<TPersistent&>(*value));
        }
    };
}

template <class C> void PublishControlParts(TPublisher<C>& p) {
    p.Object(
         "Constraints", TSizeConstraints::StaticClass(),
         [](C& c) -> TObject* { return &c.constraints; },
         [](C& c, TObject* v) { AssignInto<TSizeConstraints>()(c.constraints, v); })
        .Boolean(
            "Enabled", [](C& c) { return c.enabled; }, [](C& c, bool v) { c.enabled = v; })
        .Object(
            "Font", TFont::StaticClass(), [](C& c) -> TObject* { return &c.font; },
            [](C& c, TObject* v) { AssignInto<TFont>()(c.font, v); })
        .Object(
            "PopupMenu", TPopupMenu::StaticClass(), [](C& c) -> TObject* { return c.popupMenu; },
            [](C& c, TObject* v) { c.popupMenu = static_cast<TPopupMenu*>(v); });
}

} // namespace

const TEnumType& AnchorKindType() {
    static const TEnumType type{"TAnchorKind", {"akLeft", "akTop", "akRight", "akBottom"}};
    return type;
}

const TClass& TPopupMenu::StaticClass() {
    static const TClass cls("TPopupMenu", &TComponent::StaticClass());
    return cls;
}

const TClass& TTestComboBox::StaticClass() {
    static const TClass cls("TComboBox", &TComponent::StaticClass(), [](TClass& c) {
        using C = TTestComboBox;
        TPublisher<C> p(c);
        p.Set(
             "Anchors", "TAnchors", AnchorKindType(), [](C& x) { return x.anchors; },
             [](C& x, std::uint32_t v) { x.anchors = v; })
            .Integer(
                "DropDownCount", [](C& x) { return x.dropDownCount; },
                [](C& x, std::int32_t v) { x.dropDownCount = v; })
            .Object(
                "Items", TStrings::StaticClass(), [](C& x) -> TObject* { return &x.items; },
                [](C& x, TObject* v) { AssignInto<TStringList>()(x.items, v); })
            .Opaque("OnChange", TypeKind::tkMethod, "TNotifyEvent")
            .String(
                "Text", [](C& x) { return x.text; }, [](C& x, const std::string& v) { x.text = v; },
                TypeKind::tkLString, "TCaption");
        PublishControlParts(p);
    });
    return cls;
}

void TTestCheckBox::SetState(std::int32_t s) {
    if (s != state) {
        state = s;
        ++stateChanges;
    }
}

const TClass& TTestCheckBox::StaticClass() {
    static const TClass cls("TCheckBox", &TComponent::StaticClass(), [](TClass& c) {
        using C = TTestCheckBox;
        TPublisher<C> p(c);
        p.Boolean(
             "AllowGrayed", [](C& x) { return x.allowGrayed; },
             [](C& x, bool v) { x.allowGrayed = v; })
            .String(
                "Caption", [](C& x) { return x.caption; },
                [](C& x, const std::string& v) { x.caption = v; }, TypeKind::tkLString, "TCaption")
            .Boolean("Checked", &C::Checked, &C::SetChecked)
            .Opaque("OnClick", TypeKind::tkMethod, "TNotifyEvent")
            .Enumeration(
                "State", CheckBoxStateType(), [](C& x) { return x.state; }, &C::SetState);
        PublishControlParts(p);
    });
    return cls;
}

const TClass& TGadgetItem::StaticClass() {
    static const TClass cls("TGadgetItem", &TCollectionItem::StaticClass(), [](TClass& c) {
        using C = TGadgetItem;
        TPublisher<C>(c)
            .Boolean(
                "Checked", [](C& x) { return x.checked; }, [](C& x, bool v) { x.checked = v; })
            .Integer(
                "Level", [](C& x) { return x.level; }, [](C& x, std::int32_t v) { x.level = v; })
            .String(
                "Text", [](C& x) { return x.text; },
                [](C& x, const std::string& v) { x.text = v; });
    });
    return cls;
}

const TClass& TGadgetItems::StaticClass() {
    static const TClass cls("TGadgetItems", &TCollection::StaticClass());
    return cls;
}

const TClass& TGadget::StaticClass() {
    static const TClass cls("TGadget", &TComponent::StaticClass(), [](TClass& c) {
        using C = TGadget;
        TPublisher<C>(c)
            .Float(
                "Alarm", [](C& x) { return x.alarm; }, [](C& x, double v) { x.alarm = v; }, "TTime")
            .Opaque("Anything", TypeKind::tkVariant, "Variant")
            .Opaque("Big", TypeKind::tkInt64, "Int64")
            .Float(
                "Birthday", [](C& x) { return x.birthday; }, [](C& x, double v) { x.birthday = v; },
                "TDate")
            .Integer(
                "Count", [](C& x) { return x.count; }, [](C& x, std::int32_t v) { x.count = v; })
            .Object(
                "Entries", TGadgetItems::StaticClass(), [](C& x) -> TObject* { return &x.entries; },
                // The serializer fills the collection in place; there is nothing to replace.
                [](C&, TObject*) {})
            .Boolean(
                "Flag", [](C& x) { return x.flag; }, [](C& x, bool v) { x.flag = v; })
            .Opaque("Grid", TypeKind::tkArray, "TGrid")
            .Opaque("Handler", TypeKind::tkMethod, "TNotifyEvent")
            .String(
                "Label", [](C& x) { return x.label; },
                [](C& x, const std::string& v) { x.label = v.substr(0, 255); }, TypeKind::tkString,
                "ShortString")
            .Char(
                "Letter", [](C& x) { return x.letter; },
                [](C& x, std::int32_t v) { x.letter = v & 0xFF; })
            .Object(
                "Menu", TPopupMenu::StaticClass(), [](C& x) -> TObject* { return x.menu; },
                [](C& x, TObject* v) { x.menu = static_cast<TPopupMenu*>(v); })
            .Opaque("Mystery", TypeKind::tkUnknown, "")
            .Object(
                "Names", TStrings::StaticClass(), [](C& x) -> TObject* { return &x.names; },
                [](C& x, TObject* v) { AssignInto<TStringList>()(x.names, v); })
            .String(
                "Note", [](C& x) { return x.note; }, [](C& x, const std::string& v) { x.note = v; },
                TypeKind::tkWString, "WideString")
            .Opaque("Origin", TypeKind::tkRecord, "TPoint")
            .Object(
                "Part", TFont::StaticClass(), [](C& x) -> TObject* { return &x.part; },
                [](C& x, TObject* v) { AssignInto<TFont>()(x.part, v); })
            .Float(
                "Ratio", [](C& x) { return x.ratio; }, [](C& x, double v) { x.ratio = v; })
            .Opaque("Samples", TypeKind::tkDynArray, "TBytes")
            .Integer("Serial", [](C& x) { return x.serial; })
            .Opaque("Service", TypeKind::tkInterface, "IUnknown")
            .Float(
                "Stamp", [](C& x) { return x.stamp; }, [](C& x, double v) { x.stamp = v; },
                "TDateTime")
            .Set(
                "Styles", "TFontStyles", FontStyleType(), [](C& x) { return x.styles; },
                [](C& x, std::uint32_t v) { x.styles = v; })
            .String(
                "Title", [](C& x) { return x.title; },
                [](C& x, const std::string& v) { x.title = v; })
            .Opaque("WideLetter", TypeKind::tkWChar, "WideChar");
    });
    return cls;
}

} // namespace test_controls
