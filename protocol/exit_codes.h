// The exit statuses of velkdirect and velkd-sim: one table (protocol.toml),
// one meaning per number, printed by both tools' --help as exit_code::table.
// velkdirect-exporter uses ok, failed (the address cannot be bound) and usage.
#pragma once

#include "protocol_tables.h"
