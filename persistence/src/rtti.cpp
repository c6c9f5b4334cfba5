#include "persistence/rtti.h"

#include "persistence/errors.h"

#include <algorithm>
#include <stdexcept>

namespace persistence {

namespace {

[[noreturn]] void InvalidElement(const std::string& name) {
    throw EPropertyConvertError("Invalid property element: " + name);
}

[[noreturn]] void InvalidType(const TTypeInfo& type) {
    throw EPropertyConvertError("Invalid property type: " + type.name);
}

bool IsStringKind(TypeKind k) {
    return k == TypeKind::tkString || k == TypeKind::tkLString || k == TypeKind::tkWString;
}

bool IsOrdinalKind(TypeKind k) {
    return k == TypeKind::tkInteger || k == TypeKind::tkChar || k == TypeKind::tkWChar ||
           k == TypeKind::tkEnumeration || k == TypeKind::tkSet;
}

// A reader that hands back another alternative than its kind promises is a publishing mistake;
// it must surface as an error, not as a crash.
template <class T> T Expect(const PropValue& v, const TTypeInfo& type) {
    if (const T* p = std::get_if<T>(&v)) {
        return *p;
    }
    InvalidType(type);
}

const TEnumType& SetElements(const TTypeData& data, const TTypeInfo& type) {
    if (data.setElementType == nullptr) {
        InvalidType(type);
    }
    return *data.setElementType;
}

std::string SetToString(std::uint32_t bits, const TEnumType& elements) {
    std::string out = "[";
    bool first = true;
    const std::size_t n = std::min<std::size_t>(elements.names.size(), 32);
    for (std::size_t i = 0; i < n; ++i) {
        if ((bits >> i) & 1u) {
            if (!first) {
                out += ',';
            }
            out += elements.names[i];
            first = false;
        }
    }
    out += ']';
    return out;
}

// Brackets are optional and blanks around names are ignored, so hand-edited values such as
// "[ akLeft, akTop ]" load as well.
std::uint32_t StringToSet(const std::string& text, const TEnumType& elements) {
    std::string body(TrimBlanks(text));
    if (!body.empty() && body.front() == '[') {
        body.erase(0, 1);
        if (!body.empty() && body.back() == ']') {
            body.pop_back();
        }
    }
    std::uint32_t bits = 0;
    std::size_t start = 0;
    while (start <= body.size()) {
        std::size_t comma = body.find(',', start);
        if (comma == std::string::npos) {
            comma = body.size();
        }
        std::string name(TrimBlanks(std::string_view(body).substr(start, comma - start)));
        if (!name.empty()) {
            int index = elements.IndexOf(name);
            if (index < 0 || index >= 32) {
                InvalidElement(name);
            }
            bits |= 1u << index;
        }
        start = comma + 1;
    }
    return bits;
}

} // namespace

bool PropNameLess(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(FoldUpper(a[i]));
        auto cb = static_cast<unsigned char>(FoldUpper(b[i]));
        if (ca != cb) {
            return ca < cb;
        }
    }
    return a.size() < b.size();
}

// ---- TrtProperty ----------------------------------------------------------------------------

TrtProperty::TrtProperty(const TPropInfo& propInfo) {
    Init(propInfo);
}

TrtProperty::TrtProperty(TObject* instance, const std::string& name) : instance_(instance) {
    if (instance == nullptr) {
        throw EPropertyError("Property " + name + " cannot be read from a nil object");
    }
    objectClass_ = &instance->ClassType();
    const TPropInfo* info = objectClass_->FindProperty(name);
    if (info == nullptr) {
        throw EPropertyError("Property " + name + " does not exist in " +
                             objectClass_->ClassName());
    }
    Init(*info);
}

TrtProperty::TrtProperty(const TClass& cls, const std::string& name) : objectClass_(&cls) {
    const TPropInfo* info = cls.FindProperty(name);
    if (info == nullptr) {
        throw EPropertyError("Property " + name + " does not exist in " + cls.ClassName());
    }
    Init(*info);
}

void TrtProperty::Init(const TPropInfo& propInfo) {
    propInfo_ = &propInfo;
    typeInfo_ = &propInfo.typeInfo;
    typeData_ = &propInfo.typeData;
}

TObject& TrtProperty::Require(int line) const {
    if (instance_ == nullptr) {
        AssertionFailed(kNoInstanceText, kRttiUnit, line);
    }
    return *instance_;
}

void TrtProperty::Write(TObject& target, const PropValue& value) const {
    if (!propInfo_->write) {
        throw EPropertyError("Property " + Name() + " is read-only");
    }
    propInfo_->write(target, value);
}

const TClass& TrtProperty::PropClassType() const {
    if (Kind() != TypeKind::tkClass || typeData_->propClass == nullptr) {
        AssertionFailed(kNotClassKindText, kRttiUnit, rtti_line::kPropClassType);
    }
    return *typeData_->propClass;
}

bool TrtProperty::IsPersistentClass() const {
    const TClass& cls = PropClassType();
    return cls.InheritsFrom(TPersistent::StaticClass()) &&
           !cls.InheritsFrom(TComponent::StaticClass());
}

double TrtProperty::AsFloat() const {
    TObject& obj = Require(rtti_line::kAsFloatGet);
    if (Kind() != TypeKind::tkFloat) {
        InvalidType(*typeInfo_);
    }
    return Expect<double>(propInfo_->read(obj), *typeInfo_);
}

void TrtProperty::SetAsFloat(double value) {
    TObject& obj = Require(rtti_line::kAsFloatSet);
    if (Kind() != TypeKind::tkFloat) {
        InvalidType(*typeInfo_);
    }
    Write(obj, value);
}

std::int32_t TrtProperty::AsInteger() const {
    TObject& obj = Require(rtti_line::kAsIntegerGet);
    if (!IsOrdinalKind(Kind())) {
        InvalidType(*typeInfo_);
    }
    return static_cast<std::int32_t>(Expect<std::int64_t>(propInfo_->read(obj), *typeInfo_));
}

void TrtProperty::SetAsInteger(std::int32_t value) {
    TObject& obj = Require(rtti_line::kAsIntegerSet);
    if (!IsOrdinalKind(Kind())) {
        InvalidType(*typeInfo_);
    }
    if (Kind() == TypeKind::tkEnumeration) {
        // Through the element's name, so an ordinal outside the enumeration is refused the same
        // way as an unknown name.
        const auto& names = typeData_->EnumNames();
        if (value < 0 || static_cast<std::size_t>(value) >= names.size()) {
            InvalidElement(std::to_string(value));
        }
        SetAsString(names[static_cast<std::size_t>(value)]);
        return;
    }
    if (Kind() == TypeKind::tkSet) {
        Write(obj, static_cast<std::int64_t>(static_cast<std::uint32_t>(value)));
        return;
    }
    Write(obj, static_cast<std::int64_t>(value));
}

TObject* TrtProperty::AsObject() const {
    TObject& obj = Require(rtti_line::kAsObjectGet);
    if (Kind() != TypeKind::tkClass) {
        InvalidType(*typeInfo_);
    }
    return Expect<TObject*>(propInfo_->read(obj), *typeInfo_);
}

void TrtProperty::SetAsObject(TObject* value) {
    TObject& obj = Require(rtti_line::kAsObjectSet);
    if (Kind() != TypeKind::tkClass) {
        InvalidType(*typeInfo_);
    }
    if (value != nullptr && !value->InheritsFrom(PropClassType())) {
        return;
    }
    Write(obj, value);
}

std::string TrtProperty::AsString() const {
    TObject& obj = Require(rtti_line::kAsStringGet);
    const TypeKind kind = Kind();
    if (kind == TypeKind::tkEnumeration) {
        const auto ordinal = Expect<std::int64_t>(propInfo_->read(obj), *typeInfo_);
        const auto& names = typeData_->EnumNames();
        if (ordinal < 0 || static_cast<std::uint64_t>(ordinal) >= names.size()) {
            InvalidElement(std::to_string(ordinal));
        }
        return names[static_cast<std::size_t>(ordinal)];
    }
    if (kind == TypeKind::tkSet) {
        const auto bits = Expect<std::int64_t>(propInfo_->read(obj), *typeInfo_);
        return SetToString(static_cast<std::uint32_t>(bits), SetElements(*typeData_, *typeInfo_));
    }
    if (IsStringKind(kind)) {
        return Expect<std::string>(propInfo_->read(obj), *typeInfo_);
    }
    InvalidType(*typeInfo_);
}

void TrtProperty::SetAsString(const std::string& value) {
    TObject& obj = Require(rtti_line::kAsStringSet);
    const TypeKind kind = Kind();
    if (kind == TypeKind::tkEnumeration) {
        const TEnumType* type = typeData_->enumType;
        const int ordinal = type != nullptr ? type->IndexOf(value) : -1;
        if (ordinal < 0) {
            InvalidElement(value);
        }
        Write(obj, static_cast<std::int64_t>(ordinal));
        return;
    }
    if (kind == TypeKind::tkSet) {
        const std::uint32_t bits = StringToSet(value, SetElements(*typeData_, *typeInfo_));
        Write(obj, static_cast<std::int64_t>(bits));
        return;
    }
    if (IsStringKind(kind)) {
        Write(obj, value);
        return;
    }
    InvalidType(*typeInfo_);
}

// ---- TrtPropertyList ------------------------------------------------------------------------

TrtProperty* TrtPropertyList::Put(int index, std::unique_ptr<TrtProperty> item) {
    auto& slot = items_.at(static_cast<std::size_t>(index));
    slot = std::move(item);
    return slot.get();
}

// ---- TrtWrapper -----------------------------------------------------------------------------

TrtWrapper::TrtWrapper(const TClass& cls, TTypeKinds kindFilter) {
    kindFilter_ = kindFilter;
    class_ = &cls;
    Construct();
}

TrtWrapper::TrtWrapper(TObject* instance, TTypeKinds kindFilter) {
    if (instance == nullptr) {
        throw EPropertyError("TrtWrapper: an instance to wrap cannot be nil");
    }
    kindFilter_ = kindFilter;
    instance_ = instance;
    class_ = &instance->ClassType();
    Construct();
}

TrtWrapper::TrtWrapper(const TClass& cls, const std::vector<std::string>& excluded,
                       TTypeKinds kindFilter) {
    AddExcluded(excluded);
    kindFilter_ = kindFilter;
    class_ = &cls;
    Construct();
}

TrtWrapper::TrtWrapper(TObject* instance, const std::vector<std::string>& excluded,
                       TTypeKinds kindFilter) {
    if (instance == nullptr) {
        throw EPropertyError("TrtWrapper: an instance to wrap cannot be nil");
    }
    AddExcluded(excluded);
    kindFilter_ = kindFilter;
    instance_ = instance;
    class_ = &instance->ClassType();
    Construct();
}

void TrtWrapper::AddExcluded(const std::vector<std::string>& names) {
    if (!excluded_) {
        excluded_ = std::make_unique<TStringList>();
    }
    for (const std::string& name : names) {
        excluded_->Add(LowerCase(name));
    }
}

void TrtWrapper::Construct() {
    if (!excluded_) {
        excluded_ = std::make_unique<TStringList>();
    }
    excluded_->OnChange = [this] { ExcludedChanged(); };
    reentry_ = false;
    propList_.Clear();
    Refresh();
}

void TrtWrapper::ExcludedChanged() {
    if (reentry_) {
        // The notification of our own lower-casing below.
        reentry_ = false;
        return;
    }
    reentry_ = true;
    excluded_->BeginUpdate();
    for (int i = 0; i < excluded_->Count(); ++i) {
        excluded_->Put(i, LowerCase(excluded_->Get(i)));
    }
    excluded_->EndUpdate();
    reentry_ = false;
    Refresh();
}

void TrtWrapper::SetExcluded(const TStrings& names) {
    const std::vector<std::string> copy = names.ToVector();
    reentry_ = true;
    excluded_->BeginUpdate();
    excluded_->Clear();
    for (const std::string& name : copy) {
        excluded_->Add(LowerCase(name));
    }
    excluded_->EndUpdate();
    reentry_ = false;
    Refresh();
}

bool TrtWrapper::Passes(const TPropInfo& info) const {
    if (!kindFilter_.Empty() && !kindFilter_.Contains(info.typeInfo.kind)) {
        return false;
    }
    const std::string lower = LowerCase(info.name);
    for (int i = 0; i < excluded_->Count(); ++i) {
        if (SameText(excluded_->Get(i), lower)) {
            return false;
        }
    }
    return true;
}

int TrtWrapper::NextPropIndex(int after) const {
    const int total = static_cast<int>(all_.size());
    for (int i = std::max(after + 1, 0); i < total; ++i) {
        if (Passes(*all_[static_cast<std::size_t>(i)])) {
            return i;
        }
    }
    return -1;
}

void TrtWrapper::Refresh() {
    all_.clear();
    filtered_.clear();
    propList_.Clear();
    all_ = class_->PublishedProperties();
    std::sort(all_.begin(), all_.end(), [](const TPropInfo* a, const TPropInfo* b) {
        return PropNameLess(a->name, b->name);
    });
    for (int i = NextPropIndex(-1); i >= 0; i = NextPropIndex(i)) {
        filtered_.push_back(all_[static_cast<std::size_t>(i)]);
        propList_.AddEmpty();
    }
}

TrtProperty& TrtWrapper::GetProperty(int index) {
    if (index < 0 || index >= PropCount()) {
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    }
    if (TrtProperty* existing = propList_.Get(index)) {
        return *existing;
    }
    const TPropInfo& info = *filtered_[static_cast<std::size_t>(index)];
    std::unique_ptr<TrtProperty> created;
    if (instance_ != nullptr) {
        created = std::make_unique<TrtProperty>(instance_, info.name);
    } else if (class_ != nullptr) {
        created = std::make_unique<TrtProperty>(*class_, info.name);
    } else {
        created = std::make_unique<TrtProperty>(info);
    }
    return *propList_.Put(index, std::move(created));
}

} // namespace persistence
