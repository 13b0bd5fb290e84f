"""What every test of orvandel-cli starts from: a private folder for settings and output, the
program run with the UTC zone, and its output checked for sanitizer reports and signals."""

import json
import os
import shutil
import subprocess
import tempfile
import unittest

CLI = os.environ.get("ORV_CLI", "build/cli/orvandel-cli")


class CliCase(unittest.TestCase):
    prefix = "orv-cli-"  # the private folder's name starts so
    timeout = 60  # seconds a run may take

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix=self.prefix)
        self.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.tmp, "config"), TZ="UTC")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def run_cli(self, *args, timeout=None):
        result = subprocess.run([CLI, *args], capture_output=True, text=True, env=self.env,
                                timeout=timeout or self.timeout)
        self.assertGreaterEqual(result.returncode, 0, f"killed by a signal: {result.stderr}")
        for marker in ("runtime error", "AddressSanitizer", "LeakSanitizer"):
            self.assertNotIn(marker, result.stderr)
        return result

    def scan_json(self, source, *options):
        """The whole JSON of a scan that must succeed."""
        result = self.run_cli("scan", source, "--json", "--quiet", *options)
        self.assertEqual(result.returncode, 0, result.stderr)
        return json.loads(result.stdout)
