#include "persistence/serializers.h"

#include "persistence/errors.h"

#include "foundation/numbers.h"

#include <memory>
#include <stdexcept>

namespace persistence {

namespace {

// Object graphs are trees in practice; a property cycle would otherwise recurse until the
// stack runs out.
constexpr int kMaxNesting = 64;

class NestingGuard {
public:
    explicit NestingGuard(int& depth) : depth_(depth) {
        if (++depth_ > kMaxNesting) {
            --depth_;
            throw std::logic_error("Persistent objects nested deeper than " +
                                   std::to_string(kMaxNesting) + " levels");
        }
    }
    ~NestingGuard() { --depth_; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;

private:
    int& depth_;
};

enum class FloatForm { DateTime, Time, Date, Number };

FloatForm FormOf(const TrtProperty& p) {
    const std::string& type = p.TypeInfo().name;
    if (SameText(type, "TDateTime")) {
        return FloatForm::DateTime;
    }
    if (SameText(type, "TTime")) {
        return FloatForm::Time;
    }
    if (SameText(type, "TDate")) {
        return FloatForm::Date;
    }
    return FloatForm::Number;
}

std::string ItemSection(const TclAbstractSerializer& s, const std::string& section, int i) {
    return s.CombinePath(section, "CItem" + foundation::IntToText(i));
}

} // namespace

// ---- TclAbstractSerializer ------------------------------------------------------------------

std::string TclAbstractSerializer::ParentPath(const std::string& path) const {
    const std::size_t pos = path.find_last_of("\\:");
    return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

std::string TclAbstractSerializer::CombinePath(const std::string& path,
                                               const std::string& name) const {
    return path + "\\" + name;
}

std::string TclAbstractSerializer::LeafName(const std::string& path) const {
    const std::size_t pos = path.find_last_of("\\:");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

void TclAbstractSerializer::SerializeFrom(TObject* source, const std::string& section) {
    if (source == nullptr) {
        AssertionFailed(NilArgumentText("DoSerializeFrom", "Source"), kSerializersUnit,
                        serializer_line::kSerializeFromSource);
    }
    TrtWrapper wrapper(source);
    DoSerializeFrom(&wrapper, section);
}

void TclAbstractSerializer::DoSerializeFrom(TrtWrapper* source, const std::string& section) {
    if (source == nullptr) {
        AssertionFailed(NilArgumentText("DoSerializeFrom", "Source"), kSerializersUnit,
                        serializer_line::kDoSerializeFromSource);
    }
    if (source->Instance() == nullptr) {
        AssertionFailed(NilArgumentText("DoSerializeFrom", "Source wrapper's object"),
                        kSerializersUnit, serializer_line::kDoSerializeFromSourceObject);
    }
    NestingGuard guard(depth_);
    const bool restricted = restrictedMode_;
    ClearSection(section);
    for (int i = 0; i < source->PropCount(); ++i) {
        TrtProperty& p = source->GetProperty(i);
        if (p.IsReadOnly()) {
            continue;
        }
        const std::string& name = p.Name();
        switch (p.Kind()) {
        case TypeKind::tkInteger:
        case TypeKind::tkChar:
            if (!restricted) {
                WriteInteger(section, name, p.AsInteger());
            }
            break;
        case TypeKind::tkEnumeration:
        case TypeKind::tkSet:
            if (!restricted || name == "Checked" || name == "State") {
                WriteString(section, name, p.AsString());
            }
            break;
        case TypeKind::tkFloat:
            if (!restricted) {
                switch (FormOf(p)) {
                case FloatForm::DateTime:
                    WriteDateTime(section, name, p.AsFloat());
                    break;
                case FloatForm::Time:
                    WriteTime(section, name, p.AsFloat());
                    break;
                case FloatForm::Date:
                    WriteDate(section, name, p.AsFloat());
                    break;
                case FloatForm::Number:
                    WriteFloat(section, name, p.AsFloat());
                    break;
                }
            }
            break;
        case TypeKind::tkString:
        case TypeKind::tkLString:
        case TypeKind::tkWString:
            if (!restricted || name == "Text") {
                WriteString(section, name, p.AsString());
            }
            break;
        case TypeKind::tkClass:
            // A component-valued property refers to another control of the window; it is not
            // a part of this object and is not stored.
            if (p.IsPersistentClass()) {
                SerializeNested(*source, p.AsObject(), CombinePath(section, name));
            }
            break;
        default:
            break;
        }
    }
}

void TclAbstractSerializer::SerializeNested(const TrtWrapper& outer, TObject* object,
                                            const std::string& section) {
    if (object == nullptr) {
        return;
    }
    TrtWrapper nested(object, outer.KindFilter());
    nested.SetExcluded(outer.Excluded());
    ClearSection(section);
    CreateSection(section);
    if (auto* list = dynamic_cast<TStrings*>(object)) {
        for (int i = 0; i < list->Count(); ++i) {
            WriteString(section, "Line" + foundation::IntToText(i), list->Get(i));
        }
    } else {
        DoSerializeFrom(&nested, section);
    }
    if (auto* collection = dynamic_cast<TCollection*>(object)) {
        WriteString(section, "rt_TCollection", "1");
        // Items of an earlier, longer save would otherwise be read back as items.
        for (int i = 0; SectionExists(ItemSection(*this, section, i)); ++i) {
            ClearSection(ItemSection(*this, section, i));
        }
        for (int i = 0; i < collection->Count(); ++i) {
            SerializeNested(nested, &collection->Item(i), ItemSection(*this, section, i));
        }
    }
}

void TclAbstractSerializer::DeserializeTo(TObject* target, const std::string& section,
                                          std::string& missing) {
    if (target == nullptr) {
        AssertionFailed(NilArgumentText("DoDeserializeTo", "Target"), kSerializersUnit,
                        serializer_line::kDeserializeToTarget);
    }
    TrtWrapper wrapper(target);
    DoDeserializeTo(&wrapper, section, missing);
}

void TclAbstractSerializer::DoDeserializeTo(TrtWrapper* target, const std::string& section,
                                            std::string& missing) {
    if (target == nullptr) {
        AssertionFailed(NilArgumentText("DoDeserializeTo", "Target"), kSerializersUnit,
                        serializer_line::kDoDeserializeToTarget);
    }
    NestingGuard guard(depth_);
    missing.clear();
    for (int i = 0; i < target->PropCount(); ++i) {
        TrtProperty& p = target->GetProperty(i);
        if (p.IsReadOnly()) {
            continue;
        }
        const std::string& name = p.Name();
        if (!ValueExists(section, name) && !SectionExists(CombinePath(section, name))) {
            if (!missing.empty()) {
                missing += ',';
            }
            missing += name;
            continue;
        }
        switch (p.Kind()) {
        case TypeKind::tkInteger:
        case TypeKind::tkChar:
            p.SetAsInteger(ReadInteger(section, name));
            break;
        case TypeKind::tkFloat:
            switch (FormOf(p)) {
            case FloatForm::DateTime:
                p.SetAsFloat(ReadDateTime(section, name));
                break;
            case FloatForm::Time:
                p.SetAsFloat(ReadTime(section, name));
                break;
            case FloatForm::Date:
                p.SetAsFloat(ReadDate(section, name));
                break;
            case FloatForm::Number:
                p.SetAsFloat(ReadFloat(section, name));
                break;
            }
            break;
        case TypeKind::tkClass:
            if (p.IsPersistentClass()) {
                DeserializeNested(p.AsObject(), CombinePath(section, name));
            }
            break;
        case TypeKind::tkEnumeration:
        case TypeKind::tkSet:
        case TypeKind::tkString:
        case TypeKind::tkLString:
        case TypeKind::tkWString:
            p.SetAsString(ReadString(section, name));
            break;
        default:
            break;
        }
    }
}

void TclAbstractSerializer::DeserializeNested(TObject* object, const std::string& section) {
    if (object == nullptr) {
        return;
    }
    if (auto* list = dynamic_cast<TStrings*>(object)) {
        list->BeginUpdate();
        try {
            list->Clear();
            for (int i = 0;; ++i) {
                const std::string key = "Line" + foundation::IntToText(i);
                if (!ValueExists(section, key)) {
                    break;
                }
                list->Add(ReadString(section, key));
            }
        } catch (...) {
            list->EndUpdate();
            throw;
        }
        list->EndUpdate();
    } else {
        std::string ignored;
        DeserializeTo(object, section, ignored);
    }
    if (auto* collection = dynamic_cast<TCollection*>(object)) {
        collection->Clear();
        for (int i = 0; SectionExists(ItemSection(*this, section, i)); ++i) {
            DeserializeNested(&collection->Add(), ItemSection(*this, section, i));
        }
    }
}

// ---- TclIniSerializer -----------------------------------------------------------------------

TIniFile& TclIniSerializer::File() const {
    if (current_ == nullptr) {
        throw std::logic_error("TclIniSerializer: no INI file is open");
    }
    return *current_;
}

void TclIniSerializer::CreateSection(const std::string&) {}

void TclIniSerializer::ClearSection(const std::string& section) {
    File().EraseSection(section);
}

bool TclIniSerializer::SectionExists(const std::string& section) {
    return File().SectionExists(section);
}

bool TclIniSerializer::ValueExists(const std::string& section, const std::string& key) {
    return File().ValueExists(section, key);
}

void TclIniSerializer::WriteString(const std::string& section, const std::string& key,
                                   const std::string& text) {
    File().WriteString(section, key, text);
}

void TclIniSerializer::WriteDateTime(const std::string& section, const std::string& key,
                                     double value) {
    File().WriteDateTime(section, key, value);
}

void TclIniSerializer::WriteTime(const std::string& section, const std::string& key, double value) {
    File().WriteTime(section, key, value);
}

void TclIniSerializer::WriteDate(const std::string& section, const std::string& key, double value) {
    File().WriteDate(section, key, value);
}

void TclIniSerializer::WriteFloat(const std::string& section, const std::string& key,
                                  double value) {
    File().WriteFloat(section, key, value);
}

void TclIniSerializer::WriteInteger(const std::string& section, const std::string& key,
                                    std::int32_t value) {
    File().WriteInteger(section, key, value);
}

std::string TclIniSerializer::ReadString(const std::string& section, const std::string& key) {
    return File().ReadString(section, key);
}

double TclIniSerializer::ReadDateTime(const std::string& section, const std::string& key) {
    return File().ReadDateTime(section, key);
}

double TclIniSerializer::ReadTime(const std::string& section, const std::string& key) {
    return File().ReadTime(section, key);
}

double TclIniSerializer::ReadDate(const std::string& section, const std::string& key) {
    return File().ReadDate(section, key);
}

double TclIniSerializer::ReadFloat(const std::string& section, const std::string& key) {
    return File().ReadFloat(section, key);
}

std::int32_t TclIniSerializer::ReadInteger(const std::string& section, const std::string& key) {
    return File().ReadInteger(section, key);
}

void TclIniSerializer::RegisterComponent(TComponent* component) {
    registered_.push_back(component);
}

void TclIniSerializer::SaveRegistered(const std::string& fileName) {
    if (fileName.empty()) {
        return;
    }
    for (std::size_t i = 0; i < registered_.size(); ++i) {
        TComponent* c = registered_[i];
        const std::string section =
            (c != nullptr ? c->ClassName() : std::string()) + foundation::IntToText(i);
        SaveObjToIniFile(c, fileName, section);
    }
}

void TclIniSerializer::LoadRegistered(const std::string& fileName) {
    if (fileName.empty()) {
        return;
    }
    for (std::size_t i = 0; i < registered_.size(); ++i) {
        TComponent* c = registered_[i];
        const std::string section =
            (c != nullptr ? c->ClassName() : std::string()) + foundation::IntToText(i);
        std::string missing;
        LoadObjFromIniFile(c, fileName, missing, section);
    }
}

void TclIniSerializer::SaveObjToIniFile(TObject* source, const std::string& fileName,
                                        const std::string& section) {
    if (source == nullptr) {
        AssertionFailed(NilArgumentText("SaveObjToIniFile", "Source"), kSerializersUnit,
                        serializer_line::kSaveObjToIniFileSource);
    }
    TrtWrapper wrapper(source);
    SaveObjToIniFile(&wrapper, fileName, section);
}

void TclIniSerializer::SaveObjToIniFile(TrtWrapper* source, const std::string& fileName,
                                        const std::string& section) {
    if (source == nullptr) {
        AssertionFailed(NilArgumentText("SaveObjToIniFile", "Source"), kSerializersUnit,
                        serializer_line::kSaveObjToIniFileWrapper);
    }
    TIniFile file(fileName);
    SaveWrapperToIni(source, file, section);
    // Written only after the whole object went through: a failure half-way leaves the file
    // as it was.
    file.UpdateFile();
}

void TclIniSerializer::SaveWrapperToIni(TrtWrapper* source, TIniFile& file,
                                        const std::string& section) {
    TIniFile* previous = current_;
    current_ = &file;
    try {
        DoSerializeFrom(source, section);
    } catch (...) {
        current_ = previous;
        throw;
    }
    current_ = previous;
}

void TclIniSerializer::LoadObjFromIniFile(TObject* target, const std::string& fileName,
                                          std::string& missing, const std::string& section) {
    if (target == nullptr) {
        AssertionFailed(NilArgumentText("LoadObjFromIniFile", "Target"), kSerializersUnit,
                        serializer_line::kLoadObjFromIniFileTarget);
    }
    TIniFile file(fileName);
    LoadObjFromIni(file, section, missing, target);
}

void TclIniSerializer::LoadObjFromIni(TIniFile& file, const std::string& section,
                                      std::string& missing, TObject* target) {
    TIniFile* previous = current_;
    current_ = &file;
    try {
        DeserializeTo(target, section, missing);
    } catch (...) {
        current_ = previous;
        throw;
    }
    current_ = previous;
}

// ---- global serializer ----------------------------------------------------------------------

namespace {

std::unique_ptr<TclIniSerializer>& GlobalSlot() {
    static std::unique_ptr<TclIniSerializer> slot;
    return slot;
}

} // namespace

TclIniSerializer& GlobalSerializer() {
    auto& slot = GlobalSlot();
    if (!slot) {
        slot = std::make_unique<TclIniSerializer>();
    }
    return *slot;
}

void FreeGlobalSerializer() {
    GlobalSlot().reset();
}

} // namespace persistence
