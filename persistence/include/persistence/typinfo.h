// Run-time type information for the persisted objects: every class that takes part publishes,
// once, a class record with its ancestor and its property descriptors. The reflection layer
// (rtti.h) and the serializers walk these records by name and kind and never need to know the
// C++ type of the objects they store.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace persistence {

class TClass;
class TObject;

// The numbers are stored in kind filters (bit n = kind n), so they must never move.
enum class TypeKind : std::uint8_t {
    tkUnknown = 0,
    tkInteger = 1, // every ordinal integer type
    tkChar = 2,
    tkEnumeration = 3, // boolean included
    tkFloat = 4,       // double, date and time types included
    tkString = 5,      // short string
    tkSet = 6,
    tkClass = 7, // object reference
    tkMethod = 8,
    tkWChar = 9,
    tkLString = 10,
    tkWString = 11,
    tkVariant = 12,
    tkArray = 13,
    tkRecord = 14,
    tkInterface = 15,
    tkInt64 = 16,
    tkDynArray = 17,
};

inline constexpr int kTypeKindCount = 18;

// A set of kinds; the empty set is what a wrapper reads as "every kind".
class TTypeKinds {
public:
    constexpr TTypeKinds() = default;
    constexpr TTypeKinds(std::initializer_list<TypeKind> kinds) {
        for (TypeKind k : kinds) {
            bits_ |= Bit(k);
        }
    }
    static constexpr TTypeKinds FromBits(std::uint32_t bits) {
        TTypeKinds s;
        s.bits_ = bits & ((1u << kTypeKindCount) - 1);
        return s;
    }
    constexpr bool Contains(TypeKind k) const { return (bits_ & Bit(k)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr std::uint32_t Bits() const { return bits_; }
    constexpr bool operator==(const TTypeKinds&) const = default;

private:
    static constexpr std::uint32_t Bit(TypeKind k) { return 1u << static_cast<unsigned>(k); }
    std::uint32_t bits_ = 0;
};

// An enumeration type: its element names in ordinal order. Also serves as the element type of
// a set, whose value then holds bit n for element n.
struct TEnumType {
    std::string name;
    std::vector<std::string> names;

    // Ordinal of an element name, letter case ignored as in every other name lookup of the
    // persisted files; -1 when the name is not an element.
    int IndexOf(std::string_view element) const;
};

// The built-in enumerations that the controls publish.
const TEnumType& BooleanType();       // "False", "True"
const TEnumType& CheckBoxStateType(); // "cbUnchecked", "cbChecked", "cbGrayed"

// A property value as it crosses the descriptor's access functions: ordinal kinds (integer,
// character, enumeration, set bits, 64-bit integer) as an integer, floats as a double, string
// kinds as text, the class kind as an object pointer (not owned). Kinds the serializers never
// touch may read as monostate.
using PropValue = std::variant<std::monostate, std::int64_t, double, std::string, TObject*>;

// The declared type of a property.
struct TTypeInfo {
    TypeKind kind = TypeKind::tkUnknown;
    std::string name; // "Integer", "Boolean", "TCheckBoxState", "TDateTime", "TFont"...
};

// The details of the declared type that the kinds need.
struct TTypeData {
    const TEnumType* enumType = nullptr;       // enumeration kind: its element names
    const TEnumType* setElementType = nullptr; // set kind: the enumeration naming its elements
    const TClass* propClass = nullptr;         // class kind: the declared class of the value

    const std::vector<std::string>& EnumNames() const;
};

// One published property of a class.
struct TPropInfo {
    using Reader = std::function<PropValue(TObject&)>;
    using Writer = std::function<void(TObject&, const PropValue&)>;

    std::string name; // at most 255 characters, unique within its class
    TTypeInfo typeInfo;
    TTypeData typeData;
    Reader read;  // always present
    Writer write; // empty for a read-only property
};

inline constexpr std::size_t kMaxPropertyName = 255;

// The class record ("metaclass") of a persisted class. Each class keeps one, built on first use
// inside its StaticClass() function; records are never changed after they are built.
class TClass {
public:
    using Setup = std::function<void(TClass&)>;

    TClass(std::string name, const TClass* parent, const Setup& setup = {});
    TClass(const TClass&) = delete;
    TClass& operator=(const TClass&) = delete;

    const std::string& ClassName() const { return name_; }
    bool InheritsFrom(const TClass& ancestor) const;

    // Adds a descriptor of this class. Throws std::invalid_argument for an empty or overlong
    // name, a name this class already publishes, or a descriptor without read access.
    const TPropInfo& Publish(TPropInfo info);

    const std::vector<std::unique_ptr<TPropInfo>>& OwnProperties() const { return own_; }
    // The descriptors of this class and its ancestors. A descendant that publishes a name
    // again hides the ancestor's descriptor of that name.
    std::vector<const TPropInfo*> PublishedProperties() const;
    // Letter case ignored; nullptr when neither the class nor an ancestor publishes the name.
    const TPropInfo* FindProperty(std::string_view name) const;

private:
    std::string name_;
    const TClass* parent_;
    std::vector<std::unique_ptr<TPropInfo>> own_;
};

// The root of every persisted class.
class TObject {
public:
    virtual ~TObject() = default;
    static const TClass& StaticClass();
    virtual const TClass& ClassType() const { return StaticClass(); }
    const std::string& ClassName() const { return ClassType().ClassName(); }
    bool InheritsFrom(const TClass& ancestor) const { return ClassType().InheritsFrom(ancestor); }
};

// Typed helpers for publishing the properties of class C (C derives from TObject). Every
// helper takes a reader and an optional writer; without a writer the property is read-only.
// Member function pointers and lambdas both fit.
template <class C> class TPublisher {
public:
    explicit TPublisher(TClass& cls) : cls_(cls) {}

    TPublisher& Integer(std::string name, std::function<std::int32_t(C&)> get,
                        std::function<void(C&, std::int32_t)> set = {},
                        std::string typeName = "Integer") {
        return Ordinal(std::move(name), TypeKind::tkInteger, std::move(typeName), std::move(get),
                       std::move(set));
    }

    TPublisher& Char(std::string name, std::function<std::int32_t(C&)> get,
                     std::function<void(C&, std::int32_t)> set = {}) {
        return Ordinal(std::move(name), TypeKind::tkChar, "Char", std::move(get), std::move(set));
    }

    TPublisher& Boolean(std::string name, std::function<bool(C&)> get,
                        std::function<void(C&, bool)> set = {}) {
        std::function<std::int32_t(C&)> g = [get](C& c) { return get(c) ? 1 : 0; };
        std::function<void(C&, std::int32_t)> s;
        if (set) {
            s = [set](C& c, std::int32_t v) { set(c, v != 0); };
        }
        return Enumeration(std::move(name), BooleanType(), std::move(g), std::move(s));
    }

    TPublisher& Enumeration(std::string name, const TEnumType& type,
                            std::function<std::int32_t(C&)> get,
                            std::function<void(C&, std::int32_t)> set = {}) {
        TPropInfo info = Base(std::move(name), TypeKind::tkEnumeration, type.name);
        info.typeData.enumType = &type;
        return Add(std::move(info), OrdinalReader(std::move(get)), OrdinalWriter(std::move(set)));
    }

    // The value holds bit n for element n of the element type.
    TPublisher& Set(std::string name, std::string typeName, const TEnumType& elementType,
                    std::function<std::uint32_t(C&)> get,
                    std::function<void(C&, std::uint32_t)> set = {}) {
        TPropInfo info = Base(std::move(name), TypeKind::tkSet, std::move(typeName));
        info.typeData.setElementType = &elementType;
        TPropInfo::Reader r = [get](TObject& o) -> PropValue {
            return static_cast<std::int64_t>(get(static_cast<C&>(o)));
        };
        TPropInfo::Writer w;
        if (set) {
            w = [set](TObject& o, const PropValue& v) {
                set(static_cast<C&>(o), static_cast<std::uint32_t>(std::get<std::int64_t>(v)));
            };
        }
        return Add(std::move(info), std::move(r), std::move(w));
    }

    // Float kinds; the type name decides the text form ("TDateTime", "TTime", "TDate" or any
    // other for a plain number).
    TPublisher& Float(std::string name, std::function<double(C&)> get,
                      std::function<void(C&, double)> set = {}, std::string typeName = "Double") {
        TPropInfo info = Base(std::move(name), TypeKind::tkFloat, std::move(typeName));
        TPropInfo::Reader r = [get](TObject& o) -> PropValue { return get(static_cast<C&>(o)); };
        TPropInfo::Writer w;
        if (set) {
            w = [set](TObject& o, const PropValue& v) {
                set(static_cast<C&>(o), std::get<double>(v));
            };
        }
        return Add(std::move(info), std::move(r), std::move(w));
    }

    // String kinds: tkLString by default, tkString or tkWString when asked.
    TPublisher& String(std::string name, std::function<std::string(C&)> get,
                       std::function<void(C&, const std::string&)> set = {},
                       TypeKind kind = TypeKind::tkLString, std::string typeName = "String") {
        TPropInfo info = Base(std::move(name), kind, std::move(typeName));
        TPropInfo::Reader r = [get](TObject& o) -> PropValue { return get(static_cast<C&>(o)); };
        TPropInfo::Writer w;
        if (set) {
            w = [set](TObject& o, const PropValue& v) {
                set(static_cast<C&>(o), std::get<std::string>(v));
            };
        }
        return Add(std::move(info), std::move(r), std::move(w));
    }

    // The class kind; propClass is the declared class of the value.
    TPublisher& Object(std::string name, const TClass& propClass, std::function<TObject*(C&)> get,
                       std::function<void(C&, TObject*)> set = {}) {
        TPropInfo info = Base(std::move(name), TypeKind::tkClass, propClass.ClassName());
        info.typeData.propClass = &propClass;
        TPropInfo::Reader r = [get](TObject& o) -> PropValue { return get(static_cast<C&>(o)); };
        TPropInfo::Writer w;
        if (set) {
            w = [set](TObject& o, const PropValue& v) {
                set(static_cast<C&>(o), std::get<TObject*>(v));
            };
        }
        return Add(std::move(info), std::move(r), std::move(w));
    }

    // A property of a kind that is published but never stored (event handlers, variants,
    // records...). Writable unless readOnly; its value reads as monostate.
    TPublisher& Opaque(std::string name, TypeKind kind, std::string typeName,
                       bool readOnly = false) {
        TPropInfo info = Base(std::move(name), kind, std::move(typeName));
        TPropInfo::Reader r = [](TObject&) -> PropValue { return std::monostate{}; };
        TPropInfo::Writer w;
        if (!readOnly) {
            w = [](TObject&, const PropValue&) {};
        }
        return Add(std::move(info), std::move(r), std::move(w));
    }

    // Any descriptor built by hand.
    TPublisher& Property(TPropInfo info) {
        cls_.Publish(std::move(info));
        return *this;
    }

private:
    static TPropInfo Base(std::string name, TypeKind kind, std::string typeName) {
        TPropInfo info;
        info.name = std::move(name);
        info.typeInfo.kind = kind;
        info.typeInfo.name = std::move(typeName);
        return info;
    }

    static TPropInfo::Reader OrdinalReader(std::function<std::int32_t(C&)> get) {
        return [get](TObject& o) -> PropValue {
            return static_cast<std::int64_t>(get(static_cast<C&>(o)));
        };
    }

    static TPropInfo::Writer OrdinalWriter(std::function<void(C&, std::int32_t)> set) {
        if (!set) {
            return {};
        }
        return [set](TObject& o, const PropValue& v) {
            set(static_cast<C&>(o), static_cast<std::int32_t>(std::get<std::int64_t>(v)));
        };
    }

    TPublisher& Ordinal(std::string name, TypeKind kind, std::string typeName,
                        std::function<std::int32_t(C&)> get,
                        std::function<void(C&, std::int32_t)> set) {
        return Add(Base(std::move(name), kind, std::move(typeName)), OrdinalReader(std::move(get)),
                   OrdinalWriter(std::move(set)));
    }

    TPublisher& Add(TPropInfo info, TPropInfo::Reader r, TPropInfo::Writer w) {
        info.read = std::move(r);
        info.write = std::move(w);
        cls_.Publish(std::move(info));
        return *this;
    }

    TClass& cls_;
};

// ASCII-only letter case folding: the files are byte strings and must not depend on a locale.
char FoldUpper(char c);
bool SameText(std::string_view a, std::string_view b);
std::string LowerCase(std::string_view text);
// Without the blanks and tabs at either end.
std::string_view TrimBlanks(std::string_view s);

} // namespace persistence
