// Property reflection: one property of one object (TrtProperty) and the filtered, name-sorted
// view of all published properties of an object or a class (TrtWrapper). The serializers
// reach every value through these, whatever the class of the object.
#pragma once

#include "persistence/classes.h"
#include "persistence/typinfo.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace persistence {

// Assertion lines of the value accessors, one per operation.
namespace rtti_line {
inline constexpr int kAsFloatGet = 650;
inline constexpr int kAsIntegerGet = 662;
inline constexpr int kAsObjectGet = 678;
inline constexpr int kAsStringGet = 684;
inline constexpr int kPropClassType = 737;
inline constexpr int kAsFloatSet = 837;
inline constexpr int kAsIntegerSet = 849;
inline constexpr int kAsObjectSet = 865;
inline constexpr int kAsStringSet = 871;
} // namespace rtti_line

inline constexpr const char* kNoInstanceText =
    "This method cannot be called without an object instance.  Construct the RTTI object by "
    "passing an object instance to the constructor.";
inline constexpr const char* kNotClassKindText =
    "PropClassType property is only valid for tkClass properties";

// One property of one object, or of a class when no object is at hand (then only the
// descriptive operations work; value access fails with an assertion).
class TrtProperty {
public:
    // From a bare descriptor: no instance, no class.
    explicit TrtProperty(const TPropInfo& propInfo);
    // From an object and a property name (letter case ignored). Throws EPropertyError when the
    // object is nullptr or its class does not publish the name.
    TrtProperty(TObject* instance, const std::string& name);
    // From a class and a property name; throws EPropertyError for an unknown name.
    TrtProperty(const TClass& cls, const std::string& name);

    const std::string& Name() const { return propInfo_->name; }
    TypeKind Kind() const { return typeInfo_->kind; }
    bool IsReadOnly() const { return !propInfo_->write; }
    // The declared class of a class-kind property; an assertion failure for any other kind.
    const TClass& PropClassType() const;
    // A nested part that can be stored as a sub-section: persistent, not a component.
    bool IsPersistentClass() const;

    TObject* Instance() const { return instance_; }
    const TClass* ObjectClass() const { return objectClass_; }
    const TTypeData& TypeData() const { return *typeData_; }
    const TTypeInfo& TypeInfo() const { return *typeInfo_; }
    const TPropInfo& PropInfo() const { return *propInfo_; }

    double AsFloat() const;
    void SetAsFloat(double value);
    // Enumerations give their element's ordinal, sets their element bits, the other ordinal
    // kinds their value.
    std::int32_t AsInteger() const;
    void SetAsInteger(std::int32_t value);
    TObject* AsObject() const;
    // A value whose class is not the property's class (or a descendant) is ignored, as the
    // property could not hold it; nullptr is always accepted.
    void SetAsObject(TObject* value);
    // Enumerations: the element name; sets: "[a,b]"; string kinds: the text.
    std::string AsString() const;
    void SetAsString(const std::string& value);

private:
    void Init(const TPropInfo& propInfo);
    TObject& Require(int line) const;
    void Write(TObject& target, const PropValue& value) const;

    TObject* instance_ = nullptr;
    const TClass* objectClass_ = nullptr;
    const TTypeData* typeData_ = nullptr;
    const TTypeInfo* typeInfo_ = nullptr;
    const TPropInfo* propInfo_ = nullptr;
};

// Owns its entries; a slot stays empty until its property is first requested.
class TrtPropertyList {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    TrtProperty* Get(int index) const { return items_.at(static_cast<std::size_t>(index)).get(); }
    TrtProperty* Put(int index, std::unique_ptr<TrtProperty> item);
    void AddEmpty() { items_.emplace_back(); }
    void Clear() { items_.clear(); }

private:
    std::vector<std::unique_ptr<TrtProperty>> items_;
};

// All published properties of an object or class, sorted by name, filtered by kind and by a
// list of excluded names. TrtProperty objects handed out stay valid until the next Refresh
// (which SetExcluded and any change of the excluded names cause) or the wrapper's end.
class TrtWrapper {
public:
    TrtWrapper(const TClass& cls, TTypeKinds kindFilter = {});
    // Throws EPropertyError for a nullptr instance.
    TrtWrapper(TObject* instance, TTypeKinds kindFilter = {});
    TrtWrapper(const TClass& cls, const std::vector<std::string>& excluded,
               TTypeKinds kindFilter = {});
    TrtWrapper(TObject* instance, const std::vector<std::string>& excluded,
               TTypeKinds kindFilter = {});
    virtual ~TrtWrapper() = default;
    TrtWrapper(const TrtWrapper&) = delete;
    TrtWrapper& operator=(const TrtWrapper&) = delete;

    int TotalCount() const { return static_cast<int>(all_.size()); }
    int PropCount() const { return static_cast<int>(filtered_.size()); }
    // index 0..PropCount()-1 in sorted, filtered order; the same object on every request.
    // Throws std::out_of_range ("List index out of bounds (<index>)") outside that range.
    TrtProperty& GetProperty(int index);
    void SetExcluded(const TStrings& names);
    // The smallest index beyond after into the sorted descriptors whose property passes the
    // filter; -1 when there is none.
    virtual int NextPropIndex(int after) const;
    virtual void Refresh();

    TObject* Instance() const { return instance_; }
    const TClass& Class() const { return *class_; }
    TTypeKinds KindFilter() const { return kindFilter_; }
    // Held in lower case. Changing it refreshes the wrapper.
    TStringList& Excluded() { return *excluded_; }
    const TStringList& Excluded() const { return *excluded_; }
    const std::vector<const TPropInfo*>& FilteredDescriptors() const { return filtered_; }

private:
    void Construct();
    void AddExcluded(const std::vector<std::string>& names);
    void ExcludedChanged();
    bool Passes(const TPropInfo& info) const;

    TTypeKinds kindFilter_;
    std::unique_ptr<TStringList> excluded_;
    bool reentry_ = false;
    TrtPropertyList propList_;
    TObject* instance_ = nullptr;
    const TClass* class_ = nullptr;
    std::vector<const TPropInfo*> all_;
    std::vector<const TPropInfo*> filtered_;
};

// The descriptor order: byte by byte with ASCII letters folded to upper case; a prefix first.
bool PropNameLess(std::string_view a, std::string_view b);

} // namespace persistence
