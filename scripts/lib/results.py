#!/usr/bin/env python3
"""Test results of one tier of the test command, in JUnit XML.

    results.py count DIR        prints "PASSED FAILED SKIPPED" for every
                                *.xml in DIR, then one line per failed or
                                skipped test ("failed NAME" / "skipped NAME:
                                reason")
    results.py record FILE STATUS NAME [MESSAGE]
                                appends one check made by a test script
                                (STATUS pass, fail or skip) to FILE, a
                                JUnit XML file of that script's own checks

The files are those the test runners write themselves: CTest's
--output-junit, GoogleTest's --gtest_output=xml, and the files that the
scripts' own checks are recorded in with `record`. Nothing is read from a
runner's console text.

A test counts as skipped only when its runner says it chose to skip it
(GoogleTest's GTEST_SKIP, CTest's skip expression or skip return code) or
that it is disabled (a GoogleTest DISABLED_ test, which waits for a change
before it is switched on). A test that CTest could not run at all (a
missing executable) counts as failed.
"""
import os
import sys
import xml.etree.ElementTree as ElementTree

CTEST_SKIP_MESSAGES = ("SKIP_REGULAR_EXPRESSION_MATCHED", "SKIP_RETURN_CODE")


def skip_reason(case):
    """The reason GoogleTest printed after "Skipped", when the output has it."""
    if case.get("status") == "disabled" or case.get("result") == "suppressed":
        return "disabled"
    out = case.findtext("system-out") or ""
    lines = [line.rstrip("\r") for line in out.splitlines()]
    for index, line in enumerate(lines):
        if line.endswith(": Skipped") and index + 1 < len(lines):
            return lines[index + 1].strip()
    skipped = case.find("skipped")
    return (skipped.get("message") or "").strip() if skipped is not None else ""


def classify(case):
    if case.find("failure") is not None or case.find("error") is not None:
        return "failed"
    if case.get("status") == "fail":
        return "failed"
    skipped = case.find("skipped")
    if case.get("status") == "disabled" or case.get("result") == "suppressed":
        return "skipped"
    if case.get("status") == "notrun":
        message = skipped.get("message", "") if skipped is not None else ""
        return "skipped" if message.startswith(CTEST_SKIP_MESSAGES) else "failed"
    if skipped is not None or case.get("result") == "skipped":
        return "skipped"
    return "passed"


def case_name(case):
    name = case.get("name", "?")
    classname = case.get("classname", "")
    if classname and classname != name and not name.startswith(classname + "."):
        return f"{classname}.{name}"
    return name


def count(directory):
    totals = {"passed": 0, "failed": 0, "skipped": 0}
    details = []
    if os.path.isdir(directory):
        for entry in sorted(os.listdir(directory)):
            if not entry.endswith(".xml"):
                continue
            path = os.path.join(directory, entry)
            try:
                root = ElementTree.parse(path).getroot()
            except ElementTree.ParseError as error:
                totals["failed"] += 1
                details.append(f"failed {entry}: unreadable results ({error})")
                continue
            for case in root.iter("testcase"):
                verdict = classify(case)
                totals[verdict] += 1
                if verdict == "failed":
                    details.append(f"failed {case_name(case)}")
                elif verdict == "skipped":
                    details.append(f"skipped {case_name(case)}: {skip_reason(case)}")
    print(totals["passed"], totals["failed"], totals["skipped"])
    for line in details:
        print(line)


def record(path, status, name, message=""):
    if status not in ("pass", "fail", "skip"):
        sys.exit(f"results.py: unknown status {status!r}")
    if os.path.exists(path):
        root = ElementTree.parse(path).getroot()
    else:
        root = ElementTree.Element("testsuite", name=os.path.splitext(os.path.basename(path))[0])
    case = ElementTree.SubElement(root, "testcase", name=name, classname=name)
    if status == "fail":
        ElementTree.SubElement(case, "failure", message=message)
    elif status == "skip":
        ElementTree.SubElement(case, "skipped", message=message)
    cases = root.findall("testcase")
    root.set("tests", str(len(cases)))
    root.set("failures", str(sum(1 for c in cases if c.find("failure") is not None)))
    root.set("skipped", str(sum(1 for c in cases if c.find("skipped") is not None)))
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    ElementTree.ElementTree(root).write(path, encoding="utf-8", xml_declaration=True)


def main(argv):
    if len(argv) == 3 and argv[1] == "count":
        count(argv[2])
    elif len(argv) in (5, 6) and argv[1] == "record":
        record(*argv[2:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
