#!/usr/bin/env python3
"""Turns protocol.toml into what the build compiles and the man pages print.

  generate.py code TABLE OUTDIR
      OUTDIR/procedures.def       the procedure table as an X-macro
      OUTDIR/protocol_tables.h    program, statuses, exit statuses, names
      OUTDIR/target_layout.cpp    32-bit layout checks of the records
      OUTDIR/envelopes.cpp        the result envelopes' XDR routines
  generate.py page TABLE SOURCE OUTPUT
      SOURCE (scdoc) with every @@list@@ replaced by the list it names

Files are rewritten only when their text changes, so that an edit to one
part of the table rebuilds only what uses it.
"""

import os
import re
import sys
import textwrap
import tomllib

# Argument and result types that are not records: C type and XDR routine.
BUILTIN_TYPES = {
    "void": ("void", "xdr_void"),
    "string": ("char*", "xdr_wrapstring"),
    "int": ("int", "xdr_int"),
    "u_int": ("u_int", "xdr_u_int"),
    "u_char": ("u_char", "xdr_u_char"),
}


def fail(message):
    sys.exit(f"protocol.toml: {message}")


def load(path):
    with open(path, "rb") as f:
        table = tomllib.load(f)
    procedures = table["procedure"]
    for i, p in enumerate(procedures, start=1):
        if p["number"] != i:
            fail(f"procedure {p['name']} is number {p['number']}, expected {i} (1 to N in order)")
        if not re.fullmatch(r"[a-z][a-z0-9_]*", p["name"]):
            fail(f"procedure name {p['name']!r} is not lower_case")
        for key in ("argument", "result"):
            if not re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", p[key]):
                fail(f"procedure {p['name']}: {key} {p[key]!r} is not a type name")
    names = [p["name"] for p in procedures]
    if len(set(names)) != len(names):
        fail("two procedures share a name")
    for i, s in enumerate(table["status"], start=1):
        if s["number"] != i:
            fail(f"status {s['name']} is number {s['number']}, expected {i}")
    for i, e in enumerate(table["exit"]):
        if e["number"] != i:
            fail(f"exit status {e['name']} is number {e['number']}, expected {i}")
    return table


def camel(name):
    return "k" + "".join(part.capitalize() for part in name.split("_"))


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def type_of(name):
    return BUILTIN_TYPES.get(name, (name, "xdr_" + name))


def procedures_def(table):
    lines = [
        "// The protocol's procedures, one row each, made from protocol.toml:",
        "// VELKD_PROCEDURE(number, enumerator, stub, Arg, arg_xdr, Res, res_xdr)",
    ]
    for p in table["procedure"]:
        arg, arg_xdr = type_of(p["argument"])
        res, res_xdr = type_of(p["result"])
        enumerator = "VELKD_" + p["name"].upper()
        stub = f"velkd_{p['name']}_1"
        lines.append(f"VELKD_PROCEDURE({p['number']}, {enumerator}, {stub}, {arg}, {arg_xdr}, {res}, {res_xdr})")
    return "\n".join(lines) + "\n"


def exit_table(table):
    rows = ["Exit status (shared by velkdirect and velkd-sim):"]
    for e in table["exit"]:
        rows.append(textwrap.fill(e["meaning"], width=80, initial_indent=f"  {e['number']}  ",
                                  subsequent_indent="     "))
    return "\n".join(rows)


def tables_h(table):
    program = table["program"]
    statuses = table["status"]
    exits = table["exit"]
    thresholds = table["thresholds"]["names"]
    modes = table["indicator_mode"]
    procedures = table["procedure"]
    out = [
        "// Made from protocol.toml by generate.py: the facts both ends of the",
        "// protocol and both tools share.",
        "#pragma once",
        "",
        "#include <array>",
        "#include <cstdint>",
        "#include <string_view>",
        "",
        "namespace velk::protocol {",
        "",
        f"inline constexpr std::uint32_t kProgram = {program['number']:#x}u;",
        f"inline constexpr std::uint32_t kVersion = {program['version']}u;",
        f"inline constexpr char kSocketPath[] = {c_string(program['socket_path'])};",
        "",
        "// The statuses velkd-sim answers; 0 is success.",
        "enum Status : int {",
        "    kOk = 0,",
    ]
    out += [f"    {camel(s['name'])} = {s['number']}," for s in statuses]
    out += [
        "};",
        "",
        "struct StatusWords {",
        "    Status status;",
        "    std::string_view words;",
        "};",
        "",
        "// Every failure status, in order: kStatusWords[n - 1] is status n.",
        f"inline constexpr std::array<StatusWords, {len(statuses)}> kStatusWords{{{{",
    ]
    out += [f"    {{{camel(s['name'])}, {c_string(s['words'])}}}," for s in statuses]
    out += [
        "}};",
        "",
        "namespace exit_code {",
    ]
    out += [f"inline constexpr int {e['name']} = {e['number']};" for e in exits]
    out += [
        "// The rows as both tools' --help print them.",
        f"inline constexpr std::string_view table = {c_string(exit_table(table))};",
        "} // namespace exit_code",
        "",
        "// A sensor's thresholds in the daemon's order: bit i is threshold i.",
        f"inline constexpr std::array<const char*, {len(thresholds)}> kThresholdNames{{"
        + ", ".join(c_string(n) for n in thresholds) + "};",
        "",
        "struct IndicatorMode {",
        "    std::uint8_t value;",
        "    std::string_view name;  // as a command line gives it",
        "    std::string_view alias; // accepted too; empty for none",
        "    std::string_view words; // as the tools print it",
        "};",
        "",
        f"inline constexpr std::array<IndicatorMode, {len(modes)}> kIndicatorModes{{{{",
    ]
    out += [f"    {{{m['value']}, {c_string(m['name'])}, {c_string(m.get('alias', ''))}, {c_string(m['words'])}}},"
            for m in modes]
    out += [
        "}};",
        "",
        f"inline constexpr int kProcedureCount = {len(procedures)};",
        "// Procedure names without the stubs' \"velkd_\" and \"_1\", by number; 0 is",
        "// the RPC null procedure.",
        f"inline constexpr std::array<std::string_view, {len(procedures) + 1}> kProcedureNames{{",
        '    "null",',
    ]
    out += [f"    {c_string(p['name'])}," for p in procedures]
    out += [
        "};",
        "",
        "} // namespace velk::protocol",
    ]
    return "\n".join(out) + "\n"


def source_head(what, includes):
    """The first lines of a generated source: what it holds, its includes."""
    return [f"// Made from protocol.toml by generate.py: {what}"] + [f"#include {i}" for i in includes] + [""]


def target_layout_cpp(table):
    out = source_head("on a 32-bit target (4-byte pointers) the in-memory records are the protocol's layouts.",
                      ["<cstddef>", "<cstdint>", '"velkdirectfe_wire.h"'])
    out.append("#if UINTPTR_MAX == 0xFFFFFFFFu")
    for record, layout in table["layout"].items():
        if "size" in layout:
            out.append(f'static_assert(sizeof({record}) == {layout["size"]}, "size of {record}");')
        for field, offset in layout.get("offsets", {}).items():
            out.append(f'static_assert(offsetof({record}, {field}) == {offset}, "{record}.{field}");')
    out.append("#endif")
    return "\n".join(out) + "\n"


def envelopes_cpp(table):
    out = source_head("the result envelopes' XDR routines, a status and then a body only when the status is 0.",
                      ['"velkdirectfe_wire.h"', '"wire/bounded_xdr.h"'])
    out += ["using namespace vdfe::wire;", "", 'extern "C" {', ""]
    for name, e in table["envelope"].items():
        if "element" in e:
            body = f"counted_array(xdrs, &b->items, &b->count, {e['element']})"
        else:
            body = f"{e['routine']}(xdrs, &b->{e['body']})"
        out.append(f"bool_t xdr_{name}(XDR* x, {name}* e) {{")
        out.append(f"    return envelope(x, e, [](XDR* xdrs, {name}* b) {{ return {body}; }});")
        out.append("}")
    out += ["", '} // extern "C"']
    return "\n".join(out) + "\n"


def page_lists(table):
    statuses = ", ".join(f"*{s['number']}* {s['words']}" for s in table["status"])
    exits = "\n\n".join(f"*{e['number']}*\n\t{e['meaning']}." for e in table["exit"])
    procedures = ", ".join(f"*{p['name']}* ({p['number']})" for p in table["procedure"])
    thresholds = ", ".join(f"*{n}*" for n in table["thresholds"]["names"])
    modes = ", ".join(f"*{m['value']}* {m['words']}" for m in table["indicator_mode"])
    status_table = "\n\n".join(f"*{s['number']}* {s['words']}\n\t{s['when'][0].upper()}{s['when'][1:]}."
                                 for s in table["status"])
    return {
        "status_words": statuses,
        "status_table": status_table,
        "exit_statuses": exits,
        "procedure_names": procedures,
        "threshold_names": thresholds,
        "indicator_modes": modes,
    }


def write_if_changed(path, text):
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except FileNotFoundError:
        pass
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main(argv):
    if len(argv) == 4 and argv[1] == "code":
        table = load(argv[2])
        write_if_changed(os.path.join(argv[3], "procedures.def"), procedures_def(table))
        write_if_changed(os.path.join(argv[3], "protocol_tables.h"), tables_h(table))
        write_if_changed(os.path.join(argv[3], "target_layout.cpp"), target_layout_cpp(table))
        write_if_changed(os.path.join(argv[3], "envelopes.cpp"), envelopes_cpp(table))
    elif len(argv) == 5 and argv[1] == "page":
        lists = page_lists(load(argv[2]))
        with open(argv[3], encoding="utf-8") as f:
            source = f.read()

        def expand(match):
            if match[1] not in lists:
                fail(f"{argv[3]} asks for @@{match[1]}@@, which is no list (known: {', '.join(lists)})")
            return lists[match[1]]

        write_if_changed(argv[4], re.sub(r"@@([a-z_]+)@@", expand, source))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
