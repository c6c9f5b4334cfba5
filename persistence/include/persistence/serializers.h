// The object serializer: an object's published properties become keys of a section, nested
// persistent objects sub-sections ("<section>\<property>"), string lists numbered "Line<i>"
// keys and collections numbered "CItem<i>" item sections. TclAbstractSerializer walks the
// properties; TclIniSerializer stores them in INI files and keeps the registered components
// of the scope window.
#pragma once

#include "persistence/classes.h"
#include "persistence/ini_file.h"
#include "persistence/rtti.h"

#include <cstdint>
#include <string>
#include <vector>

namespace persistence {

namespace serializer_line {
inline constexpr int kDoDeserializeToTarget = 321;
inline constexpr int kDeserializeToTarget = 388;
inline constexpr int kDoSerializeFromSource = 471;
inline constexpr int kDoSerializeFromSourceObject = 473;
inline constexpr int kSerializeFromSource = 542;
inline constexpr int kLoadObjFromIniFileTarget = 614;
inline constexpr int kSaveObjToIniFileSource = 679;
inline constexpr int kSaveObjToIniFileWrapper = 695;
} // namespace serializer_line

class TclAbstractSerializer {
public:
    TclAbstractSerializer() = default;
    virtual ~TclAbstractSerializer() = default;
    TclAbstractSerializer(const TclAbstractSerializer&) = delete;
    TclAbstractSerializer& operator=(const TclAbstractSerializer&) = delete;

    // Sub-section paths use "\" whatever the platform: they are names inside the file.
    virtual std::string ParentPath(const std::string& path) const;
    virtual std::string CombinePath(const std::string& path, const std::string& name) const;
    virtual std::string LeafName(const std::string& path) const;

    virtual void CreateSection(const std::string& section) = 0;
    virtual void ClearSection(const std::string& section) = 0;
    virtual bool SectionExists(const std::string& section) = 0;
    virtual bool ValueExists(const std::string& section, const std::string& key) = 0;
    virtual void WriteString(const std::string& section, const std::string& key,
                             const std::string& text) = 0;
    virtual void WriteDateTime(const std::string& section, const std::string& key,
                               double value) = 0;
    virtual void WriteTime(const std::string& section, const std::string& key, double value) = 0;
    virtual void WriteDate(const std::string& section, const std::string& key, double value) = 0;
    virtual void WriteFloat(const std::string& section, const std::string& key, double value) = 0;
    virtual void WriteInteger(const std::string& section, const std::string& key,
                              std::int32_t value) = 0;
    virtual std::string ReadString(const std::string& section, const std::string& key) = 0;
    virtual double ReadDateTime(const std::string& section, const std::string& key) = 0;
    virtual double ReadTime(const std::string& section, const std::string& key) = 0;
    virtual double ReadDate(const std::string& section, const std::string& key) = 0;
    virtual double ReadFloat(const std::string& section, const std::string& key) = 0;
    virtual std::int32_t ReadInteger(const std::string& section, const std::string& key) = 0;

    virtual void SerializeFrom(TObject* source, const std::string& section);
    virtual void DoSerializeFrom(TrtWrapper* source, const std::string& section);
    // missing receives the names of the properties the storage does not hold, separated by
    // "," without blanks.
    virtual void DeserializeTo(TObject* target, const std::string& section, std::string& missing);
    virtual void DoDeserializeTo(TrtWrapper* target, const std::string& section,
                                 std::string& missing);

    // Once on, restricted mode stores only what the scope's settings files hold: "Text",
    // "Checked", "State" and the nested persistent objects. Reading ignores it.
    bool RestrictedMode() const { return restrictedMode_; }
    void SetRestrictedMode(bool on) { restrictedMode_ = on; }

protected:
    // A persistent object stored as a sub-section, with the kind filter and excluded names of
    // the wrapper being written.
    void SerializeNested(const TrtWrapper& outer, TObject* object, const std::string& section);
    void DeserializeNested(TObject* object, const std::string& section);

private:
    bool restrictedMode_ = false;
    int depth_ = 0; // of nested DoSerializeFrom / DoDeserializeTo calls
};

class TclIniSerializer : public TclAbstractSerializer {
public:
    void CreateSection(const std::string& section) override;
    void ClearSection(const std::string& section) override;
    bool SectionExists(const std::string& section) override;
    bool ValueExists(const std::string& section, const std::string& key) override;
    void WriteString(const std::string& section, const std::string& key,
                     const std::string& text) override;
    void WriteDateTime(const std::string& section, const std::string& key, double value) override;
    void WriteTime(const std::string& section, const std::string& key, double value) override;
    void WriteDate(const std::string& section, const std::string& key, double value) override;
    void WriteFloat(const std::string& section, const std::string& key, double value) override;
    void WriteInteger(const std::string& section, const std::string& key,
                      std::int32_t value) override;
    std::string ReadString(const std::string& section, const std::string& key) override;
    double ReadDateTime(const std::string& section, const std::string& key) override;
    double ReadTime(const std::string& section, const std::string& key) override;
    double ReadDate(const std::string& section, const std::string& key) override;
    double ReadFloat(const std::string& section, const std::string& key) override;
    std::int32_t ReadInteger(const std::string& section, const std::string& key) override;

    // The list refers to the components; it never owns or frees them.
    void RegisterComponent(TComponent* component);
    const std::vector<TComponent*>& RegisteredComponents() const { return registered_; }
    // Each registered component in order, in section "<class name><position>", each with its
    // own opening and writing of the file. An empty file name does nothing.
    void SaveRegistered(const std::string& fileName);
    void LoadRegistered(const std::string& fileName);

    void SaveObjToIniFile(TObject* source, const std::string& fileName, const std::string& section);
    void SaveObjToIniFile(TrtWrapper* source, const std::string& fileName,
                          const std::string& section);
    void LoadObjFromIniFile(TObject* target, const std::string& fileName, std::string& missing,
                            const std::string& section);

    // The same on a store the caller holds; the caller writes it.
    void SaveWrapperToIni(TrtWrapper* source, TIniFile& file, const std::string& section);
    void LoadObjFromIni(TIniFile& file, const std::string& section, std::string& missing,
                        TObject* target);

    // The file of the operation in progress; nullptr between operations.
    TIniFile* CurrentFile() const { return current_; }

private:
    TIniFile& File() const;

    TIniFile* current_ = nullptr;
    std::vector<TComponent*> registered_;
};

// The program's serializer, created with restricted mode off on the first request.
TclIniSerializer& GlobalSerializer();
// Frees it (program end, tests); the next request creates a fresh one.
void FreeGlobalSerializer();

} // namespace persistence
