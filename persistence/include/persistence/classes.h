// The persistent base classes that the serializers know by name: persistent objects (stored
// as nested sections), components (named, owned objects, stored only at the top), string
// lists and collections; and the two persistent parts every control publishes, its font and
// its size constraints. The window adapters of the scope build their controls from these.
#pragma once

#include "persistence/typinfo.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace persistence {

// Objects that can be stored as a nested section of their owner.
class TPersistent : public TObject {
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    // Copies the state of source. The base refuses every source with EPropertyError
    // ("Cannot assign a <source class> to a <this class>").
    virtual void Assign(const TPersistent& source);
};

// Named objects owned by a window. A property whose value is a component is a reference to
// another object of the window, never a nested part, and is not stored.
class TComponent : public TPersistent {
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    explicit TComponent(std::string name = {}) : name_(std::move(name)) {}

    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    std::int32_t Tag() const { return tag_; }
    void SetTag(std::int32_t tag) { tag_ = tag; }

private:
    std::string name_;
    std::int32_t tag_ = 0;
};

// A list of text lines. Abstract so that a window adapter can present a widget's own item list
// without a copy; TStringList is the plain one.
class TStrings : public TPersistent {
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    virtual int Count() const = 0;
    virtual std::string Get(int index) const = 0;
    virtual void Put(int index, const std::string& text) = 0;
    virtual void Insert(int index, const std::string& text) = 0;
    virtual void Delete(int index) = 0;
    virtual void Clear() = 0;
    // Brackets a batch of changes so that observers hear of it once, at the end.
    virtual void BeginUpdate() {}
    virtual void EndUpdate() {}

    int Add(const std::string& text);
    // Letter case ignored; -1 when absent.
    int IndexOf(std::string_view text) const;
    std::vector<std::string> ToVector() const;
    void Assign(const TPersistent& source) override;
};

class TStringList : public TStrings {
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    TStringList() = default;
    TStringList(std::initializer_list<std::string> lines) : lines_(lines) {}

    int Count() const override { return static_cast<int>(lines_.size()); }
    std::string Get(int index) const override;
    void Put(int index, const std::string& text) override;
    void Insert(int index, const std::string& text) override;
    void Delete(int index) override;
    void Clear() override;
    void BeginUpdate() override { ++updateCount_; }
    void EndUpdate() override;

    // Called after every change outside an update bracket, and once at the end of each
    // outermost bracket.
    std::function<void()> OnChange;

private:
    void Changed();
    void CheckIndex(int index, int limit) const;

    std::vector<std::string> lines_;
    int updateCount_ = 0;
};

class TCollectionItem : public TPersistent {
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }
};

// An owned, ordered list of items of one item class; new items come from the factory.
class TCollection : public TPersistent {
public:
    using Factory = std::function<std::unique_ptr<TCollectionItem>()>;

    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    explicit TCollection(Factory factory) : factory_(std::move(factory)) {}

    int Count() const { return static_cast<int>(items_.size()); }
    TCollectionItem& Item(int index) const;
    TCollectionItem& Add();
    void Clear() { items_.clear(); }
    void Delete(int index);

private:
    Factory factory_;
    std::vector<std::unique_ptr<TCollectionItem>> items_;
};

// Font of a control. Its properties are stored only outside restricted mode.
enum TFontStyle : std::uint32_t { fsBold = 0, fsItalic = 1, fsUnderline = 2, fsStrikeOut = 3 };
enum TFontPitch : std::int32_t { fpDefault = 0, fpVariable = 1, fpFixed = 2 };
const TEnumType& FontStyleType(); // elements of the set TFontStyles
const TEnumType& FontPitchType();

class TFont : public TPersistent {
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    std::int32_t Charset = 1;       // DEFAULT_CHARSET
    std::int32_t Color = -16777208; // the system's window text colour
    std::int32_t Height = -11;
    std::string Name = "MS Sans Serif";
    std::int32_t Pitch = fpDefault;
    std::int32_t Size = 8;
    std::uint32_t Style = 0; // bit n = TFontStyle n

    void Assign(const TPersistent& source) override;
};

// Size limits of a control; 0 means no limit.
class TSizeConstraints : public TPersistent {
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    std::int32_t MaxHeight = 0;
    std::int32_t MaxWidth = 0;
    std::int32_t MinHeight = 0;
    std::int32_t MinWidth = 0;

    void Assign(const TPersistent& source) override;
};

} // namespace persistence
