// The statements that change the conversion: "charset", "alt charset",
// "char", "alt char" and "unprintable". Each is entered with its keyword (the
// one behind "alt") as the current token.
#pragma once

#include "config/statement_parser.h"

/// charset = <set name>; with alternate, the "alt charset" statement.
statement_result parse_charset_statement(bool alternate);

/// char <code> = "<character>"; with alternate, the "alt char" statement.
statement_result parse_char_statement(bool alternate);

/// unprintable = "<character>"
statement_result parse_unprintable_statement();
