#include "persistence/classes.h"

#include "persistence/errors.h"

#include <stdexcept>

namespace persistence {

const TClass& TPersistent::StaticClass() {
    static const TClass cls("TPersistent", &TObject::StaticClass());
    return cls;
}

void TPersistent::Assign(const TPersistent& source) {
    throw EPropertyError("Cannot assign a " + source.ClassName() + " to a " + ClassName());
}

const TClass& TComponent::StaticClass() {
    static const TClass cls("TComponent", &TPersistent::StaticClass(), [](TClass& c) {
        TPublisher<TComponent>(c)
            .String("Name", &TComponent::Name, &TComponent::SetName, TypeKind::tkLString,
                    "TComponentName")
            .Integer("Tag", &TComponent::Tag, &TComponent::SetTag);
    });
    return cls;
}

const TClass& TStrings::StaticClass() {
    static const TClass cls("TStrings", &TPersistent::StaticClass());
    return cls;
}

int TStrings::Add(const std::string& text) {
    int index = Count();
    Insert(index, text);
    return index;
}

int TStrings::IndexOf(std::string_view text) const {
    for (int i = 0; i < Count(); ++i) {
        if (SameText(Get(i), text)) {
            return i;
        }
    }
    return -1;
}

std::vector<std::string> TStrings::ToVector() const {
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(Count()));
    for (int i = 0; i < Count(); ++i) {
        out.push_back(Get(i));
    }
    return out;
}

void TStrings::Assign(const TPersistent& source) {
    const auto* other = dynamic_cast<const TStrings*>(&source);
    if (other == nullptr) {
        TPersistent::Assign(source);
        return;
    }
    if (other == this) {
        return;
    }
    // Copy first: source may present the same lines as this list.
    std::vector<std::string> lines = other->ToVector();
    BeginUpdate();
    Clear();
    for (const std::string& line : lines) {
        Add(line);
    }
    EndUpdate();
}

const TClass& TStringList::StaticClass() {
    static const TClass cls("TStringList", &TStrings::StaticClass());
    return cls;
}

void TStringList::CheckIndex(int index, int limit) const {
    if (index < 0 || index > limit) {
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    }
}

std::string TStringList::Get(int index) const {
    CheckIndex(index, Count() - 1);
    return lines_[static_cast<std::size_t>(index)];
}

void TStringList::Put(int index, const std::string& text) {
    CheckIndex(index, Count() - 1);
    lines_[static_cast<std::size_t>(index)] = text;
    Changed();
}

void TStringList::Insert(int index, const std::string& text) {
    CheckIndex(index, Count());
    lines_.insert(lines_.begin() + index, text);
    Changed();
}

void TStringList::Delete(int index) {
    CheckIndex(index, Count() - 1);
    lines_.erase(lines_.begin() + index);
    Changed();
}

void TStringList::Clear() {
    if (lines_.empty()) {
        return;
    }
    lines_.clear();
    Changed();
}

void TStringList::EndUpdate() {
    if (updateCount_ > 0 && --updateCount_ == 0) {
        Changed();
    }
}

void TStringList::Changed() {
    if (updateCount_ == 0 && OnChange) {
        OnChange();
    }
}

const TClass& TCollectionItem::StaticClass() {
    static const TClass cls("TCollectionItem", &TPersistent::StaticClass());
    return cls;
}

const TClass& TCollection::StaticClass() {
    static const TClass cls("TCollection", &TPersistent::StaticClass());
    return cls;
}

TCollectionItem& TCollection::Item(int index) const {
    if (index < 0 || index >= Count()) {
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    }
    return *items_[static_cast<std::size_t>(index)];
}

TCollectionItem& TCollection::Add() {
    std::unique_ptr<TCollectionItem> item = factory_();
    if (!item) {
        throw std::logic_error(ClassName() + ": the item factory made no item");
    }
    items_.push_back(std::move(item));
    return *items_.back();
}

void TCollection::Delete(int index) {
    Item(index);
    items_.erase(items_.begin() + index);
}

const TEnumType& FontStyleType() {
    static const TEnumType type{"TFontStyle", {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"}};
    return type;
}

const TEnumType& FontPitchType() {
    static const TEnumType type{"TFontPitch", {"fpDefault", "fpVariable", "fpFixed"}};
    return type;
}

const TClass& TFont::StaticClass() {
    static const TClass cls("TFont", &TPersistent::StaticClass(), [](TClass& c) {
        using F = TFont;
        TPublisher<F>(c)
            .Integer(
                "Charset", [](F& f) { return f.Charset; },
                [](F& f, std::int32_t v) { f.Charset = v; }, "TFontCharset")
            .Integer(
                "Color", [](F& f) { return f.Color; }, [](F& f, std::int32_t v) { f.Color = v; },
                "TColor")
            .Integer(
                "Height", [](F& f) { return f.Height; }, [](F& f, std::int32_t v) { f.Height = v; })
            .String(
                "Name", [](F& f) { return f.Name; }, [](F& f, const std::string& v) { f.Name = v; },
                TypeKind::tkLString, "TFontName")
            .Enumeration(
                "Pitch", FontPitchType(), [](F& f) { return f.Pitch; },
                [](F& f, std::int32_t v) { f.Pitch = v; })
            .Integer(
                "Size", [](F& f) { return f.Size; }, [](F& f, std::int32_t v) { f.Size = v; })
            .Set(
                "Style", "TFontStyles", FontStyleType(), [](F& f) { return f.Style; },
                [](F& f, std::uint32_t v) { f.Style = v; });
    });
    return cls;
}

void TFont::Assign(const TPersistent& source) {
    const auto* other = dynamic_cast<const TFont*>(&source);
    if (other == nullptr) {
        TPersistent::Assign(source);
        return;
    }
    Charset = other->Charset;
    Color = other->Color;
    Height = other->Height;
    Name = other->Name;
    Pitch = other->Pitch;
    Size = other->Size;
    Style = other->Style;
}

const TClass& TSizeConstraints::StaticClass() {
    static const TClass cls("TSizeConstraints", &TPersistent::StaticClass(), [](TClass& c) {
        using S = TSizeConstraints;
        TPublisher<S>(c)
            .Integer(
                "MaxHeight", [](S& s) { return s.MaxHeight; },
                [](S& s, std::int32_t v) { s.MaxHeight = v; }, "TConstraintSize")
            .Integer(
                "MaxWidth", [](S& s) { return s.MaxWidth; },
                [](S& s, std::int32_t v) { s.MaxWidth = v; }, "TConstraintSize")
            .Integer(
                "MinHeight", [](S& s) { return s.MinHeight; },
                [](S& s, std::int32_t v) { s.MinHeight = v; }, "TConstraintSize")
            .Integer(
                "MinWidth", [](S& s) { return s.MinWidth; },
                [](S& s, std::int32_t v) { s.MinWidth = v; }, "TConstraintSize");
    });
    return cls;
}

void TSizeConstraints::Assign(const TPersistent& source) {
    const auto* other = dynamic_cast<const TSizeConstraints*>(&source);
    if (other == nullptr) {
        TPersistent::Assign(source);
        return;
    }
    MaxHeight = other->MaxHeight;
    MaxWidth = other->MaxWidth;
    MinHeight = other->MinHeight;
    MinWidth = other->MinWidth;
}

} // namespace persistence
