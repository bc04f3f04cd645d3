// The statements that only concern the emulator. The converter checks them
// fully and records their values in pending_values or settings, but never
// uses them. Each is entered with its first keyword as the current token.
#pragma once

#include "config/statement_parser.h"

statement_result parse_cpu_statement();         ///< cpu delay = <count> , <nanoseconds>
statement_result parse_console_statement();     ///< console = full | line
statement_result parse_close_statement();       ///< close files = <boolean>
statement_result parse_screen_statement();      ///< screen delay = <number> | key
statement_result parse_application_statement(); ///< application cursor = <boolean>
statement_result parse_exchange_statement();    ///< exchange delete = <boolean>
statement_result parse_default_statement();     ///< default drive = <letter>
statement_result parse_drive_statement();       ///< drive <letter> = [ readonly , ] "<path>"
statement_result parse_logfile_statement();     ///< logfile = "<name>"
statement_result parse_loglevel_statement();    ///< loglevel = <0..5>
statement_result parse_lines_statement();       ///< lines = <5..95> | current
statement_result parse_columns_statement();     ///< columns = <20..95> | current
statement_result parse_printer_statement();     ///< printer file = "<name>" | mode = text | raw
statement_result parse_punch_statement();       ///< punch, as printer
statement_result parse_reader_statement();      ///< reader, as printer
statement_result parse_dump_statement();        ///< dump = <option> { , <option> }
statement_result parse_colors_statement();      ///< colors = <boolean> [ , <fg> , <bg> ]
