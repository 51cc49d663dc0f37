#!/usr/bin/env python3
"""Mutation run: plants one small, plausible fault at a time into a copy of the product code,
builds only the test suites that can see it, runs them and tells which faults no test noticed.

    tools/mutate.py                 # every mutant; the copy and its build go to /tmp/tavimor-mutate
    tools/mutate.py --list          # the mutants, without building anything
    tools/mutate.py --only 3 17     # some of them, by number

The working tree is never touched: its tracked and untracked (not ignored) files are copied first.
A mutant whose text is not found exactly once, or that does not compile, is reported as such and
counts neither way. Suites that read the shared corpus skip those rows in the copy.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

# (file, text as it stands, text with the fault, suites that see it, what the fault is)
MUTANTS = [
    ("dcp/RunSettings.cpp", "result.hashCheck = isNumber && hashCheck != 0;",
     "result.hashCheck = isNumber && hashCheck > 0;", ["test_checkrun"],
     "only positive hash/check values switch hashing on"),
    ("dcp/RunSettings.cpp", "text = text.left(text.indexOf(QLatin1Char(';'))).trimmed();",
     "text = text.left(text.indexOf(QLatin1Char(';')));", ["test_discovery"],
     "blanks before a ; comment stay in the certificate entry"),
    ("dcp/RunSettings.cpp", "const int count = qMin(num, highestIndex + 1);",
     "const int count = qMin(num, highestIndex);", ["test_discovery"],
     "the highest certificate entry is left out"),
    ("dcp/RunSettings.cpp", "if (line.kind == IniLine::Entry && line.section.compare(group, Qt::CaseInsensitive) == 0)",
     "if (line.kind == IniLine::Entry)", ["test_discovery"],
     "entries of every section are taken as certificate entries"),
    ("dcp/MasterDiscovery.cpp", "candidate.recipientSubjectName.contains(cert, Qt::CaseSensitive)",
     "candidate.recipientSubjectName.contains(cert, Qt::CaseInsensitive)", ["test_discovery"],
     "certificate names match in any letter case"),
    ("dcp/MasterDiscovery.cpp", "if (!(today < candidate.notValidAfter.left(10)))",
     "if (today > candidate.notValidAfter.left(10))", ["test_discovery"],
     "a KDM that ends today is still used"),
    ("dcp/MasterDiscovery.cpp", "if (QFileInfo(path).suffix().toLower() != QLatin1String(\"xml\"))",
     "if (QFileInfo(path).suffix() != QLatin1String(\"xml\"))", ["test_discovery"],
     "documents named *.XML are taken for track files"),
    ("dcp/MasterDiscovery.cpp", "if (candidate.compositionPlaylistId != compositionId)\n        return",
     "if (false)\n        return", ["test_discovery"], "a KDM for another composition is chosen"),
    ("dcp/MasterDiscovery.cpp", "if (code >= 2) {", "if (code > 2) {", ["test_discovery"],
     "two masters on the disk are not told"),
    ("dcp/MasterDiscovery.cpp", "name == QLatin1String(\"ASSETMAP.xml\")",
     "name.compare(QLatin1String(\"ASSETMAP.xml\"), Qt::CaseInsensitive) == 0", ["test_discovery"],
     "an asset map in other letter case is found"),
    ("dcp/XmlBoundedStream.cpp", "if (m_openElements.size() >= m_limits.maxDepth)",
     "if (m_openElements.size() > m_limits.maxDepth)", ["test_xmlreader"],
     "one level more than the depth limit is read"),
    ("dcp/XmlBoundedStream.cpp", "if (result.size() + m_xml.text().size() > m_limits.maxValueChars) {",
     "if (result.size() + m_xml.text().size() >= m_limits.maxValueChars) {", ["test_xmlreader"],
     "a value exactly at the length limit is cut"),
    ("dcp/XmlBoundedStream.cpp", "const QByteArray name = declaration.mid(at + 1, close - at - 1).toLower();",
     "const QByteArray name = declaration.mid(at + 1, close - at - 1);", ["test_xmlreader"],
     "a UTF-8 declaration in capitals is not checked byte by byte"),
    ("dcp/InputFiles.cpp", "line.kind = equals > 0 ? IniLine::Entry : IniLine::Malformed;",
     "line.kind = equals >= 0 ? IniLine::Entry : IniLine::Malformed;", ["test_cli", "test_discovery"],
     "a line starting with = is an entry without a key"),
    ("dcp/DcpInspector.cpp", "    kdm.notValidAfter.clear();\n", "", ["test_checkrun"],
     "the reset keeps the KDM's end date"),
    ("dcp/DcpInspector.cpp", "return namespaceUri.contains(kInteropNamespacePrefix, Qt::CaseSensitive) ||",
     "return namespaceUri.contains(kInteropNamespacePrefix, Qt::CaseInsensitive) ||",
     ["test_xmlreader"], "the Interop namespace matches in any letter case"),
    ("run/CheckRun.cpp", "if (strSign == QLatin1String(\"OK\")) {",
     "if (strSign.compare(QLatin1String(\"OK\"), Qt::CaseInsensitive) == 0) {", ["test_checkrun"],
     "\"ok\" ends a run"),
    ("run/CheckRun.cpp", "if (m_inspector.assetMap.annotationText != cpl.contentTitleText)",
     "if (m_inspector.assetMap.annotationText.compare(cpl.contentTitleText, Qt::CaseInsensitive) != 0)",
     ["test_checkrun"], "the composition title matches in any letter case"),
    ("run/CheckRun.cpp", "if (m_inspector.assetMap.annotationText != pkl.annotationText)",
     "if (m_inspector.assetMap.annotationText.trimmed() != pkl.annotationText.trimmed())",
     ["test_checkrun"], "blanks around the packing list's annotation are ignored"),
    ("run/CheckRun.cpp", "if (!m_inspector.settings.hashCheck) {", "if (false) {",
     ["test_checkrun", "test_cli"], "hashing runs whatever the settings say"),
    ("run/CheckRun.cpp", "    if (m_masterFolder.isEmpty())\n        pass(CheckRow::CarrierHeader);",
     "    if (true)\n        pass(CheckRow::CarrierHeader);", ["test_checkrun", "test_cli"],
     "a folder check passes the carrier heading"),
    ("run/CompositionRules.cpp", "if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FA5) {",
     "if (c.unicode() > 0x4E00 && c.unicode() <= 0x9FA5) {", ["test_checkrun"],
     "U+4E00 is not taken as Chinese"),
    ("run/CompositionRules.cpp", "if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FA5) {",
     "if (c.unicode() >= 0x4E00 && c.unicode() < 0x9FA5) {", ["test_checkrun"],
     "U+9FA5 is not taken as Chinese"),
    ("run/CompositionRules.cpp", "            if (!pictureTaken) {", "            if (true) {",
     ["test_checkrun"], "the last 3D track pre-fills the picture fields"),
    ("run/CompositionRules.cpp", "        rate = asset.editRate.toLongLong(&isNumber, 10);",
     "        if (i == 0)\n            rate = asset.editRate.toLongLong(&isNumber, 10);\n        else\n            isNumber = true;",
     ["test_checkrun"], "the first track's rate counts"),
    ("run/CompositionRules.cpp", "const qint64 seconds = frames / rate;",
     "const qint64 seconds = (frames + rate - 1) / rate;", ["test_checkrun", "test_cli"],
     "the length is rounded up"),
    ("run/CompositionRules.cpp", "if (asset.id == track.id && asset.hash == track.hash) {",
     "if (asset.id == track.id) {", ["test_checkrun"],
     "the composition's digests are not compared"),
    ("run/LabelRules.cpp", "return major > 3 || (major == 3 && !match.captured(2).isEmpty());",
     "return major >= 3;", ["test_checkrun"], "\"USB3\" passes the interface rule"),
    ("run/PackageRules.cpp", "        if (asset.id == pklId)",
     "        if (asset.id.compare(pklId, Qt::CaseInsensitive) == 0)", ["test_packagerules"],
     "the packing list's id matches in any letter case"),
    ("run/KdmRules.cpp", "if (candidate.compositionPlaylistId == cplId && hasDcpNamespace(candidate.namespaceUri)) {",
     "if (hasDcpNamespace(candidate.namespaceUri)) {", ["test_checkrun"],
     "another composition's KDM decides the namespace rule"),
    ("run/CarrierRules.cpp", "if (removableDrives.size() >= 2) {", "if (removableDrives.size() > 2) {",
     ["test_checkrun"], "two volumes pass as one"),
    ("run/HashThread.cpp", "if (actual != expectedHashes.value(index)) {",
     "if (fileDone == 0 || actual != expectedHashes.value(index)) {", ["test_checkrun"],
     "an empty file never matches its digest"),
    ("run/HashThread.cpp", "if (actual != expectedHashes.value(index)) {",
     "if (actual.compare(expectedHashes.value(index), Qt::CaseInsensitive) != 0) {",
     ["test_checkrun"], "digests match in any letter case"),
    ("run/HashThread.cpp", "            lock.unlock();\n            sendTexts(shared);\n            lock.lock();\n",
     "            lock.unlock();\n            lock.lock();\n", ["test_checkrun"],
     "progress texts are held back until the verdict"),
    ("run/HashThread.cpp", "            if (shared.fewerLanes.load(std::memory_order_relaxed))\n                pauseWhileDiskBehind(shared);\n",
     "", ["test_checkrun"], "lanes leave a disk that fell behind only when their files end"),
    ("report/ComplianceReport.cpp", "    fullGuard.inputFiles << inspector.settings.path;\n", "",
     ["test_report"], "the report may replace the settings file"),
    ("report/ComplianceReport.cpp", "result == QStringLiteral(\"符合\") ? QStringLiteral(\" ★\") : QStringLiteral(\" ☆\");",
     "result == QStringLiteral(\"符合\") ? QStringLiteral(\" ☆\") : QStringLiteral(\" ★\");",
     ["test_report"], "the listing's marks are swapped"),
    ("report/ComplianceReport.cpp", "    if (info.exists() && !isComplianceReport(path))\n        return ReportPathProblem::NotAReport;",
     "", ["test_report", "test_cli"], "the report replaces any file"),
    ("cli/ConsoleText.cpp", "total += widths[c] + (c + 1 < columns ? 2 : 0);", "total += widths[c] + 2;",
     ["test_cli"], "the rule is two columns too wide"),
    ("cli/MasterCheck.cpp", "else if (frontEnd.reachedConfirmation() && !m_labels)",
     "else if (frontEnd.reachedConfirmation())", ["test_cli"],
     "refused labels exit as unconfirmed"),
    ("cli/LabelFile.cpp", "        else if (field.startsEmpty)\n            text.clear();", "",
     ["test_cli"], "fields the dialog starts empty keep the pre-fill"),
    ("platform/linux/LinuxVolumeService.cpp", "if (field.at(i) == '\\\\' && i + 3 < field.size() &&",
     "if (field.at(i) == '\\\\' && i + 4 < field.size() &&", ["test_volumes_linux"],
     "an escape at the end of a mount point is not decoded"),
    ("platform/VolumeService.cpp", "QLatin1String(\"NTFS\"), Qt::CaseInsensitive)",
     "QLatin1String(\"NTFS\"), Qt::CaseSensitive)",
     ["test_carrier", "test_checkrun"], "\"ntfs\" in small letters is not NTFS"),
]


def run(command, cwd, timeout=None, quiet=True):
    out = subprocess.DEVNULL if quiet else None
    try:
        return subprocess.run(command, cwd=cwd, stdout=out, stderr=out, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def copy_tree(source, target):
    files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=source,
                           check=True, capture_output=True).stdout.decode().split("\0")
    for name in filter(None, files):
        if not os.path.isfile(os.path.join(source, name)):
            continue
        destination = os.path.join(target, name)
        os.makedirs(os.path.dirname(destination), exist_ok=True)
        if not os.path.exists(destination) or open(destination, "rb").read() != open(
                os.path.join(source, name), "rb").read():
            shutil.copy2(os.path.join(source, name), destination)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--only", type=int, nargs="*")
    parser.add_argument("--work", default="/tmp/tavimor-mutate")
    parser.add_argument("--jobs", default="2")
    args = parser.parse_args()

    chosen = [(i + 1, m) for i, m in enumerate(MUTANTS) if not args.only or i + 1 in args.only]
    if args.list:
        for number, (path, _, _, suites, what) in chosen:
            print(f"{number:3} {path}: {what} [{' '.join(suites)}]")
        return 0

    source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    tree, build = os.path.join(args.work, "src"), os.path.join(args.work, "build")
    copy_tree(source, tree)
    if run(["cmake", "-S", tree, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
            "-DTAVIMOR_BUILD_BENCHMARKS=OFF"], tree) != 0:
        sys.exit("cannot configure the copy")
    suites = sorted({s for _, m in chosen for s in m[3]})
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")

    def build_and_test(names):
        if run(["cmake", "--build", build, "-j", args.jobs, "--target"] + names, tree) != 0:
            return "build"
        for name in names:
            result = subprocess.run([os.path.join(build, "tests", name)], cwd=build, env=env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    timeout=300)
            if result.returncode != 0:
                return name
        return None

    print(f"baseline: building and running {' '.join(suites)}", flush=True)
    if build_and_test(suites) is not None:
        sys.exit("the unmutated copy does not pass its suites")

    killed, survived, invalid = [], [], []
    for number, (path, before, after, names, what) in chosen:
        file = os.path.join(tree, path)
        original = open(file, encoding="utf-8").read()
        if original.count(before) != 1:
            invalid.append((number, what, "text found %d times" % original.count(before)))
            print(f"{number:3} INVALID {path}: {what} (text found {original.count(before)} times)")
            continue
        started = time.time()
        try:
            open(file, "w", encoding="utf-8").write(original.replace(before, after))
            try:
                by = build_and_test(names)
            except subprocess.TimeoutExpired:
                by = "timeout"
        finally:
            open(file, "w", encoding="utf-8").write(original)
        seconds = time.time() - started
        if by == "build":
            invalid.append((number, what, "does not compile"))
            verdict = "INVALID (does not compile)"
        elif by:
            killed.append(number)
            verdict = f"killed by {by}"
        else:
            survived.append((number, path, what))
            verdict = "SURVIVED"
        print(f"{number:3} {verdict:28} {path}: {what} ({seconds:.0f} s)", flush=True)

    # Leave the copy's binaries as they were.
    build_and_test(suites)
    valid = len(killed) + len(survived)
    print(f"\n{len(killed)} of {valid} mutants killed ({100.0 * len(killed) / max(valid, 1):.0f} %), "
          f"{len(invalid)} invalid")
    for number, path, what in survived:
        print(f"  survived {number}: {path}: {what}")
    return 0 if not survived else 1


if __name__ == "__main__":
    sys.exit(main())
