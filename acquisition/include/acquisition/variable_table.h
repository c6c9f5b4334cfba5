// A copy of the MC application's variable table, made once after the application was opened,
// for a front end on another thread than the engine: its look-ups never move anything, so it
// can be read while the engine uses (and reorders) its own table.
#pragma once

#include "mcu/appl.h"

#include <string>
#include <vector>

namespace acq {

class VariableTable {
public:
    VariableTable() = default;
    explicit VariableTable(const mcu::MCAppl& opened);

    // In the order of the variable file.
    const std::vector<mcu::MCVar>& Vars() const { return appl_.vars; }
    // The first variable of that name (its first 20 characters count, case kept); null when
    // the table has none.
    const mcu::MCVar* Find(const std::string& name) const;
    // As mcu::VariableDefined: the part before a "." and before a "[" names a variable.
    bool Defined(const std::string& name) const;
    // The table as an application record, for the mcu look-ups that read it (ParseTypedName).
    const mcu::MCAppl& Appl() const { return appl_; }

private:
    mcu::MCAppl appl_;
};

} // namespace acq
