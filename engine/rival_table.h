// One rival's TOML table read as a scenario's [[rivals]] table is: its strategy from the engine's
// table of strategies, its value rule and the strategy's parameters, every other key refused. For
// files that hold rivals of their own (a tournament's lineups).
#ifndef ENGINE_RIVAL_TABLE_H_
#define ENGINE_RIVAL_TABLE_H_

#include <string>

#include <toml++/toml.h>

#include "engine/scenario.h"

namespace market {

// Throws a FieldFault (engine/toml_fields.h) on the line at fault; `where` names the table in
// faults ("unknown key 'x' in WHERE").
RivalEntry ReadRivalTable(const toml::table& table, const std::string& where);

}  // namespace market

#endif  // ENGINE_RIVAL_TABLE_H_
