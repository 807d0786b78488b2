#!/usr/bin/env python3
"""Checks of the installable suite, one group per command:

    check_packaging.py install    SOURCE BUILD   cmake --install into a DESTDIR; the installed programs run
                                                 and find their German texts and help there
    check_packaging.py desktop    SOURCE BUILD VERSION
                                                 menu entries, metainfo, MIME types and manual pages
                                                 validate with their tools
    check_packaging.py help       SOURCE         every help page a window opens exists in English and
                                                 German, and every link between the pages leads somewhere
    check_packaging.py catalogues SOURCE [DOMAIN:DIR[,DIR...] ...]
                                                 the German catalogue of each domain (by default every
                                                 domain of po/CMakeLists.txt) translates every text of
                                                 its sources
"""

import glob
import gzip
import html.parser
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

FAILURES = []


def check(condition, message):
    if not condition:
        FAILURES.append(message)
        print("FAIL: " + message)
    return condition


def run(args, env=None, cwd=None, timeout=120):
    return subprocess.run(args, env=env, cwd=cwd, timeout=timeout, capture_output=True, text=True)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


def program_environment(home):
    env = dict(os.environ)
    env.update({"HOME": home, "XDG_CONFIG_HOME": os.path.join(home, ".config"), "QT_QPA_PLATFORM": "offscreen",
                "LANG": "C.UTF-8"})
    for name in ("LANGUAGE", "LC_ALL", "LC_MESSAGES", "ARDANTO_LOCALEDIR", "ARDANTO_HELPDIR"):
        env.pop(name, None)
    return env


def check_install(source, build):
    with tempfile.TemporaryDirectory() as scratch:
        destdir = os.path.join(scratch, "root")
        env = dict(os.environ, DESTDIR=destdir)
        result = run(["cmake", "--install", build], env=env)
        if not check(result.returncode == 0, "cmake --install failed:\n" + result.stdout + result.stderr):
            return
        prefixes = glob.glob(os.path.join(destdir, "**", "bin", "portkeep"), recursive=True)
        if not check(len(prefixes) == 1, "portkeep is not installed below %s" % destdir):
            return
        prefix = os.path.dirname(os.path.dirname(prefixes[0]))
        share = os.path.join(prefix, "share")

        expected = ["bin/portkeep", "bin/ardanto", "share/locale/de/LC_MESSAGES/portkeep.mo",
                    "share/applications/org.ardanto.Portkeep.desktop",
                    "share/applications/org.ardanto.Quillbox.desktop",
                    "share/metainfo/org.ardanto.Portkeep.metainfo.xml",
                    "share/metainfo/org.ardanto.Quillbox.metainfo.xml", "share/mime/packages/ardanto.xml",
                    "share/man/man1/portkeep.1.gz", "share/man/man1/quillbox.1.gz", "share/man/man1/ardanto.1.gz",
                    "share/ardanto/help/index.html", "share/ardanto/help/de/index.html",
                    "share/ardanto/help/help.css", "share/doc/ardanto/copyright", "share/doc/ardanto/changelog.gz"]
        for app in ("portkeep", "quillbox"):
            expected.append("share/icons/hicolor/scalable/apps/%s.svg" % app)
            for size in (48, 256):
                png = "share/icons/hicolor/%dx%d/apps/%s.png" % (size, size, app)
                expected.append(png)
                if os.path.isfile(os.path.join(prefix, png)):
                    check(png_size(os.path.join(prefix, png)) == (size, size), "%s is not %d px" % (png, size))
        for name in expected:
            check(os.path.isfile(os.path.join(prefix, name)), "not installed: " + name)
        for program in os.listdir(os.path.join(prefix, "bin")):
            check(os.path.isfile(os.path.join(share, "man", "man1", program + ".1.gz")),
                  "%s has no manual page" % program)

        home = os.path.join(scratch, "home")
        os.makedirs(home)
        env = program_environment(home)
        for program in ("portkeep", "quillbox", "ardanto"):
            binary = os.path.join(prefix, "bin", program)
            if program == "quillbox" and not os.path.exists(binary):
                continue  # not part of every build yet
            result = run([binary, "--version"], env=env, timeout=30)
            check(result.returncode == 0 and re.match(r"^\w+ \d+\.\d+", result.stdout),
                  "%s --version said %r (exit %d)" % (program, result.stdout, result.returncode))

        portkeep = os.path.join(prefix, "bin", "portkeep")
        result = run([portkeep, "--print-paths", "/lang:de"], env=env, timeout=30)
        paths = dict(line.split(": ", 1) for line in result.stdout.splitlines() if ": " in line)
        check(paths.get("locale") == os.path.join(share, "locale"),
              "the installed portkeep takes its catalogues from %r" % paths.get("locale"))
        check(paths.get("help") == os.path.join(share, "ardanto", "help", "de", "ardanto-device.html"),
              "the installed portkeep opens the help page %r" % paths.get("help"))

        # The German catalogue is really read: an automatic run of the
        # installed program on the demo device logs in German.
        device = os.path.join(scratch, "device")
        made = run([sys.executable, os.path.join(source, "scripts", "make-demo-device"), device])
        if not check(made.returncode == 0, "make-demo-device failed: " + made.stderr):
            return
        task = os.path.join(scratch, "demo.pkj")
        with open(task, "w") as f:
            f.write("[Config]\nDeviceName=Demo Phone\nDestination=%s\nDirCount=1\n[Directories]\n"
                    "Dir00=Internal storage\\DCIM\n" % os.path.join(scratch, "out"))
        env["PORTKEEP_FOLDER_DEVICES"] = device
        result = run([portkeep, task, "/force", "/close", "/lang:de"], env=env, timeout=60)
        log = os.path.join(home, ".config", "Ardanto6", "pk-demo.log")
        text = open(log, encoding="utf-8-sig").read() if os.path.isfile(log) else ""
        check("==> Sicherung beendet: " in text and "5 Dateien kopiert" in text,
              "the installed portkeep did not log in German:\n" + text + result.stderr)

        # So do the engine, in its log and its exit text, and Quillbox, whose
        # messages go to standard error without a display.
        source_dir = os.path.join(scratch, "mail")
        os.makedirs(source_dir)
        with open(os.path.join(source_dir, "Inbox"), "w") as f:
            f.write("From - Thu Dec 10 12:00:00 2026\nSubject: test\n\nbody\n")
        task = os.path.join(scratch, "mail.buj")
        with open(task, "w") as f:
            f.write("[Global]\nDestination=%s\nLogFile=1\nLogName=%%taskname%%.log\nDirCount=2\n"
                    "[Dir000]\nEnabled=1\nSource=%s\nBackupMode=1\n[Dir001]\nEnabled=1\nSource=%s\nBackupMode=1\n"
                    % (os.path.join(scratch, "mail-out"), source_dir, os.path.join(scratch, "missing")))
        engine = os.path.join(prefix, "bin", "ardanto")
        result = run([engine, task, "/force", "/lang:de"], env=env, timeout=60)
        log = os.path.join(home, ".config", "Ardanto6", "mail.log")
        text = open(log, encoding="utf-8-sig").read() if os.path.isfile(log) else ""
        check(result.returncode == 3 and "Quellverzeichnis nicht gefunden!" in result.stderr and
              "  Auftragsdatei: " + task in text and "  Dateien kopiert: 1, " in text and " - beendet " in text,
              "the installed ardanto did not speak German (exit %d):\n%s%s" % (result.returncode, text, result.stderr))
        quillbox = os.path.join(prefix, "bin", "quillbox")
        result = run([quillbox, "/force", "/lang:de"], env=env, timeout=60)
        check("Keine Thunderbird-Profile gefunden!" in result.stderr,
              "the installed quillbox did not speak German:\n" + result.stdout + result.stderr)


def validate_man_page(path):
    env = dict(os.environ, MANWIDTH="80", LANG="C.UTF-8")
    result = run(["man", "--warnings", "-E", "UTF-8", "-l", path], env=env)
    check(result.returncode == 0 and not result.stderr.strip(),
          "%s has roff warnings:\n%s" % (path, result.stderr))
    return result.stdout


def check_desktop(source, build, version):
    staged = os.path.join(build, "share")
    for entry in glob.glob(os.path.join(staged, "applications", "*.desktop")):
        result = run(["desktop-file-validate", entry])
        check(result.returncode == 0 and not result.stdout.strip(), "desktop-file-validate %s:\n%s" %
              (entry, result.stdout + result.stderr))

    defined = set()
    mime_xml = open(os.path.join(source, "share", "mime", "ardanto.xml"), encoding="utf-8").read()
    defined.update(re.findall(r'<mime-type type="([^"]+)"', mime_xml))
    for entry in glob.glob(os.path.join(source, "share", "applications", "*.desktop")):
        types = re.search(r"^MimeType=(.*)$", open(entry, encoding="utf-8").read(), re.M)
        for mime in filter(None, types.group(1).split(";") if types else []):
            check(mime in defined, "%s names the MIME type %s, which ardanto.xml does not define" % (entry, mime))

    with tempfile.TemporaryDirectory() as scratch:
        os.makedirs(os.path.join(scratch, "mime", "packages"))
        shutil.copy(os.path.join(source, "share", "mime", "ardanto.xml"), os.path.join(scratch, "mime", "packages"))
        result = run(["update-mime-database", os.path.join(scratch, "mime")],
                     env=dict(os.environ, XDG_DATA_HOME=scratch, XDG_DATA_DIRS=scratch))
        check(result.returncode == 0 and not result.stderr.strip(), "update-mime-database: " + result.stderr)
        globs = open(os.path.join(scratch, "mime", "globs2")).read() if result.returncode == 0 else ""
        for mime, pattern in (("application/x-portkeep-task", "*.pkj"),
                              ("application/x-quillbox-backup-task", "*.buj"),
                              ("application/x-quillbox-restore-task", "*.rsj")):
            check("%s:%s" % (mime, pattern) in globs, "%s is not %s" % (pattern, mime))

    for metainfo in glob.glob(os.path.join(staged, "metainfo", "*.metainfo.xml")):
        result = run(["appstreamcli", "validate", "--no-net", "--no-color", metainfo])
        check(result.returncode == 0 and "Validation was successful" in result.stdout and
              not re.search(r"^[EW]:", result.stdout, re.M),
              "appstreamcli validate %s:\n%s" % (metainfo, result.stdout + result.stderr))
        text = open(metainfo, encoding="utf-8").read()
        releases = re.findall(r'<release version="([^"]+)"', text)
        check(releases[:1] == [version], "%s: newest release %s, the project is %s" % (metainfo, releases, version))
        images = re.findall(r"<image>[^<]*/doc/([^<]+)</image>", text)
        check(images, "%s shows no screenshot from doc/" % metainfo)
        for image in images:
            check(os.path.isfile(os.path.join(source, "doc", image)), "%s shows doc/%s, which is missing" %
                  (metainfo, image))

    pages = {}
    for page in glob.glob(os.path.join(staged, "man", "man1", "*.1.gz")):
        pages[os.path.basename(page)[:-5]] = validate_man_page(page)

    # Every option and exit code the engine explains in --help is in its manual page.
    engine = os.path.join(build, "bin", "ardanto")
    result = run([engine, "--help"], env=program_environment(tempfile.gettempdir()), timeout=30)
    if check(result.returncode == 0, "ardanto --help failed") and check("ardanto" in pages, "no ardanto(1)"):
        manual = pages["ardanto"]
        for option in sorted(set(re.findall(r"^\s+(/\w+)", result.stdout, re.M))):
            check(option in manual, "ardanto(1) does not describe %s" % option)
        codes = re.findall(r"^\s+(\d)\s+\w", result.stdout, re.M)
        check(len(codes) >= 7, "ardanto --help lists the exit codes %s" % codes)
        for code in codes:
            check(re.search(r"^ {7}%s\s*$" % code, manual, re.M) or re.search(r"^ {7}%s {2,}" % code, manual, re.M),
                  "ardanto(1) does not explain exit code %s" % code)


class PageParser(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.ids, self.links, self.lang = set(), [], None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            self.ids.add(attrs["id"])
        if tag == "html":
            self.lang = attrs.get("lang")
        for name in ("href", "src"):
            if name in attrs:
                self.links.append(attrs[name])


def check_help(source):
    # The pages the suite's windows open, and any other page the sources name.
    opened = {"index.html", "ardanto-device.html", "ardanto-quill.html", "ardanto-sched.html", "ardanto-dlink.html",
              "ardanto-options.html#mail"}
    for path in glob.glob(os.path.join(source, "src", "**", "*.cpp"), recursive=True):
        opened.update(re.findall(r'u"([\w-]+\.html(?:#[\w-]+)?)"_s', open(path, encoding="utf-8").read()))

    help_dir = os.path.join(source, "share", "help")
    parsed = {}
    for path in glob.glob(os.path.join(help_dir, "**", "*.html"), recursive=True):
        parser = PageParser()
        parser.feed(open(path, encoding="utf-8").read())
        parsed[os.path.normpath(path)] = parser

    for folder, lang in ((help_dir, "en"), (os.path.join(help_dir, "de"), "de")):
        for page in sorted(opened):
            name, _, part = page.partition("#")
            path = os.path.normpath(os.path.join(folder, name))
            if not check(path in parsed, "no %s help page %s" % (lang, name)):
                continue
            check(parsed[path].lang == lang, "%s says it is in %r" % (path, parsed[path].lang))
            check(not part or part in parsed[path].ids, "%s has no part #%s" % (path, part))

    for path, parser in parsed.items():
        check(any(link.split("#")[0] == "index.html" for link in parser.links), "%s does not lead to the contents" %
              path)
        for link in parser.links:
            if re.match(r"^[a-z]+:", link):
                continue
            target, _, part = link.partition("#")
            target_path = os.path.normpath(os.path.join(os.path.dirname(path), target)) if target else path
            if not check(os.path.isfile(target_path), "%s links to %s, which does not exist" % (path, link)):
                continue
            if part:
                check(part in parsed[target_path].ids, "%s links to %s, which has no part #%s" % (path, link, part))


def catalogue_domains(source):
    """DOMAIN:DIR,... of every ardanto_catalogue() in po/CMakeLists.txt."""
    text = open(os.path.join(source, "po", "CMakeLists.txt"), encoding="utf-8").read()
    domains = []
    for body in re.findall(r"ardanto_catalogue\((.*?)\)", text, re.S):
        domain = re.search(r"DOMAIN\s+(\S+)", body).group(1)
        dirs = re.search(r"SOURCE_DIRS\s+([^)]*)", body).group(1).split()
        domains.append(domain + ":" + ",".join(dirs))
    return domains


def check_catalogues(source, domains):
    # Without a list, every domain the build compiles.
    for spec in domains or catalogue_domains(source):
        domain, _, dirs = spec.partition(":")
        po = os.path.join(source, "po", domain, "de.po")
        if not check(os.path.isfile(po), "no German catalogue for " + domain):
            continue
        result = run(["msgfmt", "--check", "--statistics", "-o", "/dev/null", po])
        check(result.returncode == 0 and "fuzzy" not in result.stderr and "untranslated" not in result.stderr,
              "%s: %s" % (po, result.stderr.strip()))
        sources = sorted(p for d in dirs.split(",") for p in glob.glob(os.path.join(source, d, "**", "*.[ch]*"),
                                                                        recursive=True)
                         if p.endswith((".cpp", ".h")))
        with tempfile.TemporaryDirectory() as scratch:
            pot = os.path.join(scratch, domain + ".pot")
            result = run(["xgettext", "--from-code=UTF-8", "--language=C++", "--keyword=_", "--keyword=N_",
                          "-o", pot] + sources, cwd=source)
            if not check(result.returncode == 0, "xgettext: " + result.stderr):
                continue
            # msgcmp: every text of the sources has an entry in de.po.
            result = run(["msgcmp", po, pot])
            check(result.returncode == 0, "%s lacks texts of the sources:\n%s" % (po, result.stderr.strip()))


def main():
    command, source = sys.argv[1], sys.argv[2]
    if command == "install":
        check_install(source, sys.argv[3])
    elif command == "desktop":
        check_desktop(source, sys.argv[3], sys.argv[4])
    elif command == "help":
        check_help(source)
    elif command == "catalogues":
        check_catalogues(source, sys.argv[3:])
    else:
        sys.exit(__doc__)
    print("%s: %s" % (command, "failed" if FAILURES else "ok"))
    sys.exit(1 if FAILURES else 0)


if __name__ == "__main__":
    main()
