#include "acquisition/variable_table.h"

#include "mcu/vartable.h"

#include <algorithm>

namespace acq {

VariableTable::VariableTable(const mcu::MCAppl& opened) {
    appl_.applName = opened.applName;
    appl_.vars = opened.vars;
}

const mcu::MCVar* VariableTable::Find(const std::string& name) const {
    const std::string wanted = name.substr(0, mcu::kMaxVarName);
    const auto found = std::find_if(appl_.vars.begin(), appl_.vars.end(),
                                    [&](const mcu::MCVar& v) { return v.name == wanted; });
    return found == appl_.vars.end() ? nullptr : &*found;
}

bool VariableTable::Defined(const std::string& name) const {
    return mcu::VariableDefined(appl_, name);
}

} // namespace acq
