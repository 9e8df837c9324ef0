#!/usr/bin/python3
"""Writes a program that references, by linker name, every function and variable declared but not
defined in the installed headers: linking it against the install tree shows that each one a shell
may call is exported (or, from a static library, present).

Usage: exports.py COMPILE_COMMANDS INCLUDE_ROOT HEADERS_CPP OUTPUT_CPP
The headers' translation unit is parsed with the flags CMake gave it (compile_commands.json)."""
import json
import os
import shlex
import sys

import clang.cindex as ci
from ctypes import c_uint

FUNCTIONS = {ci.CursorKind.FUNCTION_DECL, ci.CursorKind.CXX_METHOD, ci.CursorKind.CONSTRUCTOR,
             ci.CursorKind.DESTRUCTOR, ci.CursorKind.CONVERSION_FUNCTION}
SCOPES = {ci.CursorKind.NAMESPACE, ci.CursorKind.CLASS_DECL, ci.CursorKind.STRUCT_DECL,
          ci.CursorKind.UNION_DECL, ci.CursorKind.LINKAGE_SPEC, ci.CursorKind.UNEXPOSED_DECL}


def inlined(cursor):
    # Inline and constexpr functions, also when a macro says so (protobuf's PROTOBUF_CONSTEXPR).
    function = ci.conf.lib.clang_Cursor_isFunctionInlined
    function.argtypes, function.restype = [ci.Cursor], c_uint
    return bool(function(cursor))


def parse_arguments(compile_commands, source):
    entry = next(e for e in json.load(open(compile_commands)) if e['file'] == source)
    words = shlex.split(entry['command'])[1:]
    kept, skip = [], False
    for word in words:
        if skip:
            skip = False
        elif word in ('-o', '-MF', '-MT', '-MQ'):
            skip = True
        elif word not in ('-c', '-MD', '-MMD', source):
            kept.append(word)
    return kept


def ours(cursor, root):
    location = cursor.location.file
    return location is not None and os.path.realpath(location.name).startswith(root)


def spelled(cursor):
    return [token.spelling for token in cursor.get_tokens()]


def defined_in_a_header(cursor, root):
    definition = cursor.get_definition()
    return definition is not None and ours(definition, root)


def hidden_on_purpose(cursor):
    # Qt's own Q_OBJECT hides qt_static_metacall: not an interface.
    return any(child.kind == ci.CursorKind.VISIBILITY_ATTR and child.spelling == 'hidden'
               for child in cursor.get_children())


def wanted_function(cursor, root):
    if cursor.linkage != ci.LinkageKind.EXTERNAL or defined_in_a_header(cursor, root):
        return False
    # Nothing outside the class can call a private member (protobuf's SharedDtor is one, defined
    # inline in the generated source).
    if cursor.access_specifier == ci.AccessSpecifier.PRIVATE:
        return False
    if hidden_on_purpose(cursor):
        return False
    if cursor.is_pure_virtual_method() or cursor.is_default_method():
        return False
    tokens = spelled(cursor)
    deleted = any(a == '=' and b == 'delete' for a, b in zip(tokens, tokens[1:]))
    return not deleted and not inlined(cursor)


def wanted_variable(cursor, root):
    if cursor.linkage != ci.LinkageKind.EXTERNAL or defined_in_a_header(cursor, root):
        return False
    tokens = spelled(cursor)
    # A constant with its value in the class or an inline variable needs no definition.
    return '=' not in tokens and '{' not in tokens and 'constexpr' not in tokens and 'inline' not in tokens


def collect(cursor, root, functions, variables):
    for child in cursor.get_children():
        if not ours(child, root):
            continue
        if child.kind in SCOPES:
            anonymous = child.kind == ci.CursorKind.NAMESPACE and not child.spelling
            if not anonymous:
                collect(child, root, functions, variables)
        elif child.kind in FUNCTIONS and wanted_function(child, root):
            functions[child.mangled_name] = child.displayname
        elif child.kind == ci.CursorKind.VAR_DECL and wanted_variable(child, root):
            variables[child.mangled_name] = child.spelling


def main():
    compile_commands, include_root, headers_cpp, output = sys.argv[1:5]
    root = os.path.realpath(include_root) + os.sep
    unit = ci.Index.create().parse(headers_cpp, args=parse_arguments(compile_commands, headers_cpp))
    errors = [str(d) for d in unit.diagnostics if d.severity >= ci.Diagnostic.Error]
    if errors:
        sys.exit('The installed headers do not parse:\n' + '\n'.join(errors))
    functions, variables = {}, {}
    collect(unit.cursor, root, functions, variables)
    with open(output, 'w') as out:
        out.write('// Written by exports.py: references every function and variable the installed headers declare.\n')
        out.write('#include <cstdio>\n\n')
        names = []
        for index, (mangled, name) in enumerate(sorted(functions.items())):
            out.write(f'extern "C" void function{index}() __asm__("{mangled}"); // {name}\n')
            names.append(f'function{index}')
        for index, (mangled, name) in enumerate(sorted(variables.items())):
            out.write(f'extern "C" char variable{index} __asm__("{mangled}"); // {name}\n')
            names.append(f'variable{index}')
        out.write('\nextern const void* const references[];\nconst void* const references[] = {\n')
        out.write(''.join(f'    reinterpret_cast<const void*>(&{name}),\n' for name in names))
        out.write('};\n\nint main()\n{\n')
        out.write(f'    std::printf("%d functions and %d variables link\\n", {len(functions)}, {len(variables)});\n')
        out.write('    return references[0] ? 0 : 1;\n}\n')
    print(f'{len(functions)} functions and {len(variables)} variables declared')


main()
