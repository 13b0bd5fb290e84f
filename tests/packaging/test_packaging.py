#!/usr/bin/env python3
"""What ships beside orvandel-cli says what the program does: the manual page and the bash and
zsh completions offer exactly the options of --help, command by command; --version, the metainfo's
newest release and the package changelog carry the project's version; the metainfo validates.

Environment: ORV_CLI (the program), ORV_DESKTOP_PROGRAM (when built), ORV_MAN_DIR (the built manual pages), ORV_VERSION,
ORV_SOURCE_DIR (the repository)."""

import gzip
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

CLI = os.environ["ORV_CLI"]
MAN_DIR = os.environ["ORV_MAN_DIR"]
VERSION = os.environ["ORV_VERSION"]
SOURCE = os.environ["ORV_SOURCE_DIR"]
COMPLETION = os.path.join(SOURCE, "resources", "completion", "orvandel-cli.bash")
# zsh finds a completion by its file name, _orvandel-cli, in this folder.


def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, check=False, **kwargs)


def help_text(*command):
    result = run(CLI, *command, "--help")
    assert result.returncode == 0, result.stderr
    return result.stdout


def help_options(*command):
    """The option names of one --help, e.g. {"--help", "-h", "--json"}."""
    text = help_text(*command)
    options = set()
    section = None
    for line in filter(str.strip, text.splitlines()):
        if not line[0].isspace():
            section = line.rstrip(":")
            continue
        if section == "Options":
            match = re.match(r"\s+(-[-\w]*(?:,-[-\w]*)*)", line)
            if match:
                options.update(match.group(1).split(","))
    return options


def help_commands():
    names = set()
    section = None
    for line in filter(str.strip, help_text().splitlines()):
        if not line[0].isspace():
            section = line.rstrip(":")
        elif section == "Subcommands":
            names.add(line.split()[0])
    return names


def man_sections(page):
    """{section or subsection title: the option names it defines}. A definition is a bold term on a
    line of its own, followed by an indented paragraph, as scdoc writes "*--json*" + tab."""
    with gzip.open(os.path.join(MAN_DIR, page + ".1.gz"), "rt") as f:
        lines = f.read().splitlines()
    sections = {}
    title = ""
    for i, line in enumerate(lines):
        if line.startswith(".SH ") or line.startswith(".SS "):
            title = line[4:].strip().strip('"')
            sections.setdefault(title, set())
        elif i + 1 < len(lines) and lines[i + 1].startswith(".RS"):
            sections.setdefault(title, set()).update(re.findall(r"\\fB(-[-\w]*)\\fR", line))
    return sections


class ManualPage(unittest.TestCase):
    def test_every_command_and_option_of_help_is_in_the_manual_page(self):
        sections = man_sections("orvandel-cli")
        commands = help_commands()
        self.assertEqual({"drives", "info", "record", "scan", "restore", "wipe"} - commands, set())
        for command in sorted(commands):
            with self.subTest(command=command):
                self.assertIn(command, sections, "no subsection for the command")
                # -h/--help is common to every command and said once, under OPTIONS.
                self.assertEqual(sections[command], help_options(command) - {"-h", "--help"})
        self.assertEqual(sections["OPTIONS"], help_options())

    def test_desktop_program_page_is_built(self):
        if not os.path.exists(os.path.join(MAN_DIR, "orvandel.1.gz")):
            self.skipTest("built without the desktop program")
        self.assertIn("--version", man_sections("orvandel")["OPTIONS"])


def complete(words, environment=None):
    """What the completion offers for the command line `words`, whose last word is being typed."""
    script = ('source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _orvandel_cli; '
              'printf "%s\\n" "${COMPREPLY[@]}"')
    result = run("bash", "-c", script, "complete", COMPLETION, CLI, *words, env=environment)
    assert result.returncode == 0, result.stderr
    return set(line for line in result.stdout.splitlines() if line)


class Completion(unittest.TestCase):
    def test_commands_and_every_option_of_help(self):
        self.assertEqual(complete([""]), help_commands() | {"--help", "--version"})
        for command in sorted(help_commands()):
            with self.subTest(command=command):
                self.assertEqual(complete([command, "--"]), {o for o in help_options(command) if o.startswith("--")})
        self.assertEqual(complete(["restore", "--k"]), {"--keep-paths"})

    def test_drive_letters_for_source_and_folders_for_to(self):
        with tempfile.TemporaryDirectory() as folder:
            config = os.path.join(folder, "config", "Orvandel")
            os.makedirs(config)
            with open(os.path.join(config, "drives"), "w") as f:
                f.write("E: /nonexistent/usb.img\nQ: /nonexistent/laptop.img\n")
            os.mkdir(os.path.join(folder, "photos"))
            open(os.path.join(folder, "photo-list.txt"), "w").close()
            environment = dict(os.environ, XDG_CONFIG_HOME=os.path.join(folder, "config"))
            self.assertTrue({"E:", "Q:"} <= complete(["scan", ""], environment))
            self.assertEqual(complete(["info", "Q"], environment), {"Q:"})
            prefix = os.path.join(folder, "pho")
            self.assertEqual(complete(["restore", "E:", "--to", prefix], environment),
                             {os.path.join(folder, "photos")})
            self.assertEqual(complete(["restore", "E:", "--mask", ""], environment), set())


def complete_zsh(line, environment):
    """What zsh completion offers for `line`, typed at a zsh prompt and followed by a Tab."""
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "zsh_complete.zsh")
    result = run("zsh", script, os.path.dirname(COMPLETION), line, env=environment, timeout=60)
    return set(word for word in result.stdout.replace("\r", "").splitlines() if word)


class ZshCompletion(unittest.TestCase):
    def test_commands_options_letters_and_folders(self):
        if not shutil.which("zsh"):
            self.skipTest("zsh is not installed (bash tools/setup.sh)")
        with tempfile.TemporaryDirectory() as folder:
            config = os.path.join(folder, "config", "Orvandel")
            os.makedirs(config)
            with open(os.path.join(config, "drives"), "w") as f:
                f.write("Q: /nonexistent/laptop.img\n")
            os.mkdir(os.path.join(folder, "photos"))
            open(os.path.join(folder, "photo-list.txt"), "w").close()
            # The completion runs "orvandel-cli drives" as typed: the program is found on PATH.
            environment = dict(os.environ, XDG_CONFIG_HOME=os.path.join(folder, "config"),
                               PATH=os.path.dirname(CLI) + os.pathsep + os.environ["PATH"])
            self.assertEqual(complete_zsh("orvandel-cli ", environment), help_commands())
            for command in sorted(help_commands()):
                with self.subTest(command=command):
                    self.assertEqual(complete_zsh("orvandel-cli %s --" % command, environment),
                                     {o for o in help_options(command) if o.startswith("--")})
            self.assertIn("Q:", complete_zsh("orvandel-cli info Q", environment))
            self.assertEqual(complete_zsh("orvandel-cli restore Q: --to %s/pho" % folder, environment), {"photos"})


class Version(unittest.TestCase):
    def test_version_is_the_projects(self):
        result = run(CLI, "--version")
        self.assertEqual((result.returncode, result.stdout.strip()), (0, "orvandel-cli " + VERSION))

    def test_desktop_program_says_its_version_without_a_display(self):
        program = os.environ.get("ORV_DESKTOP_PROGRAM")
        if not program:
            self.skipTest("built without the desktop program")
        unset = ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")
        environment = {k: v for k, v in os.environ.items() if k not in unset}
        result = run(program, "--version", env=environment)
        self.assertEqual((result.returncode, result.stdout.strip()), (0, "orvandel " + VERSION))

    def test_release_notes_and_changelog_name_this_version(self):
        metainfo = ElementTree.parse(os.path.join(SOURCE, "resources", "desktop", "org.orvandel.Orvandel.metainfo.xml"))
        self.assertEqual(metainfo.find("releases/release").get("version"), VERSION)
        with open(os.path.join(SOURCE, "resources", "package", "changelog")) as f:
            self.assertEqual(f.readline().split()[1], "(%s)" % VERSION)


class Metainfo(unittest.TestCase):
    def test_appstream_validates(self):
        if not shutil.which("appstreamcli"):
            self.skipTest("appstreamcli is not installed (bash tools/setup.sh)")
        path = os.path.join(SOURCE, "resources", "desktop", "org.orvandel.Orvandel.metainfo.xml")
        result = run("appstreamcli", "validate", "--pedantic", "--no-net", path)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        # Pedantic notes (P:) and infos pass; no warning or error may name the file.
        self.assertNotRegex(result.stdout, r"(?m)^[EW]:", result.stdout)

    def test_desktop_entry_is_named_after_the_id_and_declares_the_licence(self):
        metainfo = ElementTree.parse(os.path.join(SOURCE, "resources", "desktop", "org.orvandel.Orvandel.metainfo.xml"))
        component_id = metainfo.find("id").text
        self.assertEqual(metainfo.find("launchable").text, component_id + ".desktop")
        self.assertTrue(os.path.exists(os.path.join(SOURCE, "resources", "desktop", component_id + ".desktop.in")))
        self.assertEqual(metainfo.find("project_license").text, "GPL-3.0-or-later")
        # Software centres fetch screenshots from their addresses: none may point at a made-up domain.
        for image in metainfo.iter("image"):
            self.assertNotIn(".example", image.text)
        with open(os.path.join(SOURCE, "LICENSE")) as f:
            self.assertIn("GNU GENERAL PUBLIC LICENSE\n                       Version 3", f.read(200))


if __name__ == "__main__":
    unittest.main(verbosity=2)
