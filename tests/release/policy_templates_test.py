#!/usr/bin/env python3
"""Checks the Group Policy templates against themselves and the program.

Usage: policy_templates_test.py SOURCE_DIR

Each template must be well-formed XML; every string and presentation the
ADMX names must be in every ADML, with the presentation's controls naming
the policy's elements; there must be an ADML for English and for each
language the program ships; and the values the policies write (key, name,
type) must be exactly those the program reads: the table kPolicyValues and
the key kPolicyKey in src/base/policies.h.
"""

import pathlib
import re
import sys
import xml.etree.ElementTree as ET

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
# Language files the program ships, as Windows names the culture.
CULTURES = {"English": "en-US", "German": "de-DE", "Ukrainian": "uk-UA"}
BUILT_IN_CULTURE = "ru-RU"

failures = []


def fail(message):
    failures.append(message)


def program_values(header):
    text = header.read_text(encoding="utf-8")
    key = re.search(r'kPolicyKey\s*=\s*L"([^"]*)"', text).group(1).replace("\\\\", "\\")
    table = re.search(r"kPolicyValues\[\]\s*=\s*\{(.*?)\n\};", text, re.S).group(1)
    values = {name: kind for name, kind in re.findall(r'\{L"(\w+)",\s*(REG_\w+)\}', table)}
    if not values:
        fail("no policy values found in " + str(header))
    return key, values


def template_values(admx):
    """(key, value name) -> registry type, for everything the policies write."""
    written = {}

    def add(key, name, kind, where):
        if (key, name) in written and written[(key, name)] != kind:
            fail(f"{where}: {name} written as {kind} and as {written[(key, name)]}")
        written[(key, name)] = kind

    for policy in admx.iterfind(".//p:policies/p:policy", NS):
        name = policy.get("name")
        key = policy.get("key")
        if policy.get("valueName"):
            for state in ("enabledValue", "disabledValue"):
                value = policy.find(f"p:{state}", NS)
                if value is None:
                    fail(f"policy {name}: {state} missing")
                elif value.find("p:decimal", NS) is None:
                    fail(f"policy {name}: {state} is not a decimal")
            add(key, policy.get("valueName"), "REG_DWORD", name)
        for element in policy.iterfind("p:elements/*", NS):
            kind = element.tag.split("}")[1]
            element_key = element.get("key", key)
            value_name = element.get("valueName")
            if value_name is None:
                fail(f"policy {name}: element {element.get('id')} writes no named value")
                continue
            if kind == "enum":
                types = {
                    "REG_DWORD" if item.find("p:value/p:decimal", NS) is not None else "REG_SZ"
                    for item in element.iterfind("p:item", NS)
                }
                if len(types) != 1:
                    fail(f"policy {name}: enum {value_name} mixes value types")
                add(element_key, value_name, types.pop() if types else "REG_NONE", name)
            elif kind == "multiText":
                add(element_key, value_name, "REG_MULTI_SZ", name)
            elif kind == "text":
                add(element_key, value_name, "REG_EXPAND_SZ" if element.get("expandable") == "true" else "REG_SZ",
                    name)
            elif kind in ("decimal", "boolean"):
                add(element_key, value_name, "REG_DWORD", name)
            else:
                fail(f"policy {name}: element kind {kind} is not checked here")
    return written


def check_adml(path, strings, presentations, elements):
    try:
        adml = ET.parse(path).getroot()
    except ET.ParseError as error:
        fail(f"{path}: {error}")
        return
    have = {s.get("id"): (s.text or "") for s in adml.iterfind(".//p:stringTable/p:string", NS)}
    for wanted in sorted(strings):
        if not have.get(wanted, "").strip():
            fail(f"{path}: string {wanted} missing or empty")
    shown = {p.get("id"): p for p in adml.iterfind(".//p:presentationTable/p:presentation", NS)}
    for wanted, policy_elements in sorted(presentations.items()):
        presentation = shown.get(wanted)
        if presentation is None:
            fail(f"{path}: presentation {wanted} missing")
            continue
        refs = {control.get("refId") for control in presentation if control.get("refId")}
        if refs != policy_elements:
            fail(f"{path}: presentation {wanted} shows {sorted(refs)}, the policy has {sorted(policy_elements)}")


def main():
    root = pathlib.Path(sys.argv[1])
    folder = root / "installer" / "policies"
    key, program = program_values(root / "src" / "base" / "policies.h")
    try:
        admx = ET.parse(folder / "Merovane.admx").getroot()
    except ET.ParseError as error:
        fail(f"Merovane.admx: {error}")
        return

    text = (folder / "Merovane.admx").read_text(encoding="utf-8")
    strings = set(re.findall(r"\$\(string\.(\w+)\)", text))
    presentations = {}
    for policy in admx.iterfind(".//p:policies/p:policy", NS):
        match = re.fullmatch(r"\$\(presentation\.(\w+)\)", policy.get("presentation", ""))
        elements = {element.get("id") for element in policy.iterfind("p:elements/*", NS)}
        if match:
            presentations[match.group(1)] = elements
        elif elements:
            fail(f"policy {policy.get('name')} has elements but no presentation")
        if policy.find("p:parentCategory", NS) is None:
            fail(f"policy {policy.get('name')} is in no category")

    # The vendor's category holds the program's.
    categories = {c.get("name"): c for c in admx.iterfind(".//p:categories/p:category", NS)}
    if not any(c.find("p:parentCategory", NS) is not None and
               c.find("p:parentCategory", NS).get("ref") in categories for c in categories.values()):
        fail("no category sits under a vendor category")

    cultures = {"en-US", BUILT_IN_CULTURE} | {
        CULTURES.get(f.stem, f.stem) for f in (root / "Language").glob("*.ini")}
    present = {p.parent.name for p in folder.glob("*/Merovane.adml")}
    for culture in sorted(cultures - present):
        fail(f"no {culture}\\Merovane.adml for a language the program ships")
    for culture in sorted(present):
        check_adml(folder / culture / "Merovane.adml", strings, presentations, None)

    written = template_values(admx)
    wanted = {(key, name): kind for name, kind in program.items()}
    for entry in sorted(set(written) | set(wanted)):
        if entry not in wanted:
            fail(f"the templates write {entry[0]}\\{entry[1]}, which the program does not read")
        elif entry not in written:
            fail(f"the program reads {entry[0]}\\{entry[1]}, which no template writes")
        elif written[entry] != wanted[entry]:
            fail(f"{entry[0]}\\{entry[1]}: the templates write {written[entry]}, the program reads {wanted[entry]}")


if __name__ == "__main__":
    main()
    for failure in failures:
        print("FAIL:", failure)
    if failures:
        sys.exit(1)
    print("policy templates: OK")
