#include "persistence/typinfo.h"

#include <stdexcept>

namespace persistence {

char FoldUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string_view TrimBlanks(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && blank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldUpper(a[i]) != FoldUpper(b[i])) {
            return false;
        }
    }
    return true;
}

std::string LowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

int TEnumType::IndexOf(std::string_view element) const {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (SameText(names[i], element)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

const TEnumType& BooleanType() {
    static const TEnumType type{"Boolean", {"False", "True"}};
    return type;
}

const TEnumType& CheckBoxStateType() {
    static const TEnumType type{"TCheckBoxState", {"cbUnchecked", "cbChecked", "cbGrayed"}};
    return type;
}

const std::vector<std::string>& TTypeData::EnumNames() const {
    static const std::vector<std::string> none;
    return enumType != nullptr ? enumType->names : none;
}

TClass::TClass(std::string name, const TClass* parent, const Setup& setup)
    : name_(std::move(name)), parent_(parent) {
    if (setup) {
        setup(*this);
    }
}

bool TClass::InheritsFrom(const TClass& ancestor) const {
    for (const TClass* c = this; c != nullptr; c = c->parent_) {
        if (c == &ancestor) {
            return true;
        }
    }
    return false;
}

const TPropInfo& TClass::Publish(TPropInfo info) {
    if (info.name.empty() || info.name.size() > kMaxPropertyName) {
        throw std::invalid_argument(name_ + ": a property name must have 1 to 255 characters");
    }
    if (!info.read) {
        throw std::invalid_argument(name_ + "." + info.name + ": a property needs read access");
    }
    for (const auto& own : own_) {
        if (SameText(own->name, info.name)) {
            throw std::invalid_argument(name_ + "." + info.name + " is published twice");
        }
    }
    own_.push_back(std::make_unique<TPropInfo>(std::move(info)));
    return *own_.back();
}

std::vector<const TPropInfo*> TClass::PublishedProperties() const {
    std::vector<const TPropInfo*> out;
    for (const TClass* c = this; c != nullptr; c = c->parent_) {
        for (const auto& info : c->own_) {
            bool hidden = false;
            for (const TPropInfo* seen : out) {
                if (SameText(seen->name, info->name)) {
                    hidden = true;
                    break;
                }
            }
            if (!hidden) {
                out.push_back(info.get());
            }
        }
    }
    return out;
}

const TPropInfo* TClass::FindProperty(std::string_view name) const {
    for (const TClass* c = this; c != nullptr; c = c->parent_) {
        for (const auto& info : c->own_) {
            if (SameText(info->name, name)) {
                return info.get();
            }
        }
    }
    return nullptr;
}

const TClass& TObject::StaticClass() {
    static const TClass cls("TObject", nullptr);
    return cls;
}

} // namespace persistence
