// libFuzzer target for the settings-file reader: any bytes must parse, read back and load into a
// combo box, a check box and an object of every property kind without a crash, a hang or an
// error other than a refused element name; and what is saved from the loaded state must load
// back to the same state and save again to the very same text.
#include "persistence/errors.h"
#include "persistence/ini_file.h"
#include "persistence/serializers.h"
#include "test_controls.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace persistence;
using namespace test_controls;

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

struct Objects {
    TTestComboBox combo;
    TTestCheckBox box;
    TGadget gadget;
};

// Loads what it can; a refused element name stops that object's load, as it would a user's.
void LoadAll(TIniFile& f, Objects& o) {
    TclIniSerializer s;
    std::string missing;
    try {
        s.LoadObjFromIni(f, "TComboBox0", missing, &o.combo);
    } catch (const EPropertyConvertError&) {
    }
    try {
        s.LoadObjFromIni(f, "TCheckBox1", missing, &o.box);
    } catch (const EPropertyConvertError&) {
    }
    try {
        s.LoadObjFromIni(f, "G", missing, &o.gadget);
    } catch (const EPropertyConvertError&) {
    }
}

void SaveAll(TIniFile& f, Objects& o) {
    TclIniSerializer restricted;
    restricted.SetRestrictedMode(true);
    TrtWrapper combo(&o.combo);
    TrtWrapper box(&o.box);
    restricted.SaveWrapperToIni(&combo, f, "TComboBox0");
    restricted.SaveWrapperToIni(&box, f, "TCheckBox1");
    TclIniSerializer full;
    TrtWrapper gadget(&o.gadget);
    full.SaveWrapperToIni(&gadget, f, "G");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TIniFile f = TIniFile::FromText(text);

    // Rendering what was read and reading it again changes nothing.
    const std::string rendered = f.Text();
    TIniFile again = TIniFile::FromText(rendered);
    Check(again.Text() == rendered);
    Check(again.ReadSections() == f.ReadSections());
    for (const std::string& section : f.ReadSections()) {
        Check(again.ReadSection(section) == f.ReadSection(section));
        Check(again.SectionExists(section) == f.SectionExists(section));
        for (const std::string& key : f.ReadSection(section)) {
            Check(again.ReadString(section, key) == f.ReadString(section, key));
            (void)f.ReadInteger(section, key);
            (void)f.ReadFloat(section, key);
            (void)f.ReadDateTime(section, key);
            (void)f.ReadDate(section, key);
            (void)f.ReadTime(section, key);
        }
    }

    Objects loaded;
    LoadAll(f, loaded);
    SaveAll(f, loaded);
    const std::string saved = f.Text();

    TIniFile reread = TIniFile::FromText(saved);
    Objects back;
    TclIniSerializer s;
    std::string missing;
    // Everything saved is valid now: these loads must not fail.
    s.LoadObjFromIni(reread, "TComboBox0", missing, &back.combo);
    s.LoadObjFromIni(reread, "TCheckBox1", missing, &back.box);
    s.LoadObjFromIni(reread, "G", missing, &back.gadget);
    Check(back.combo.text == loaded.combo.text);
    Check(back.combo.items.ToVector() == loaded.combo.items.ToVector());
    Check(back.box.state == loaded.box.state);
    Check(back.gadget.entries.Count() == loaded.gadget.entries.Count());
    Check(back.gadget.names.ToVector() == loaded.gadget.names.ToVector());
    Check(back.gadget.title == loaded.gadget.title);

    SaveAll(reread, back);
    Check(reread.Text() == saved);
    return 0;
}
