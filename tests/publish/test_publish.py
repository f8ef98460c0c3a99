"""Tests of tools/publish and deploy/serve on the build's fixture installers.

CMake passes the paths through the environment:
  NORVANTA_PUBLISH_TOOL   tools/publish
  NORVANTA_SERVE_TOOL     deploy/serve
  NORVANTA_FIXTURE_DIR    the build's fixtures folder
  NORVANTA_PKI_DIR        the build's test PKI
  NORVANTA_RESOURCE_TOOL  tests/fixtures/make_version_resource.py
  NORVANTA_TEST_WORK      a scratch folder of this test
"""
import hashlib
import importlib.machinery
import importlib.util
import json
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import unittest
import urllib.error
import urllib.request

sys.dont_write_bytecode = True

TOOL = os.environ["NORVANTA_PUBLISH_TOOL"]
SERVE = os.environ["NORVANTA_SERVE_TOOL"]
FIXTURES = os.environ["NORVANTA_FIXTURE_DIR"]
PKI = os.environ["NORVANTA_PKI_DIR"]
RESOURCE_TOOL = os.environ["NORVANTA_RESOURCE_TOOL"]
WORK = os.environ["NORVANTA_TEST_WORK"]

MANIFEST_URL = "/rss/v2/client/client-updates/norvanta-win"
DOWNLOAD_URL = "/rss/v2/client/client-updates/norvanta-win/download"


def load_tool():
    loader = importlib.machinery.SourceFileLoader("norvanta_publish", TOOL)
    module_spec = importlib.util.spec_from_loader("norvanta_publish", loader)
    module = importlib.util.module_from_spec(module_spec)
    loader.exec_module(module)
    return module


publish_tool = load_tool()


def fixture(name):
    folder = os.path.join(FIXTURES, name)
    (file,) = os.listdir(folder)
    return os.path.join(folder, file)


def thumbprint(name):
    with open(os.path.join(PKI, name + ".thumbprint")) as source:
        return source.read().strip()


def read_bytes(path):
    with open(path, "rb") as source:
        return source.read()


def run_publish(*arguments, umask=None):
    return subprocess.run([sys.executable, TOOL, *arguments], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True,
                          preexec_fn=None if umask is None else lambda: os.umask(umask))


def sign(unsigned, signed):
    subprocess.run(["osslsigncode", "sign", "-certs", os.path.join(PKI, "publisher.pem"),
                    "-key", os.path.join(PKI, "publisher.key"), "-h", "sha256",
                    "-in", unsigned, "-out", signed], check=True, capture_output=True)


def replace_once(data, old, new):
    at = data.find(old)
    assert at >= 0 and data.find(old, at + 1) < 0, "expected exactly one %r" % old
    return data[:at] + new + data[at + len(old):]


class Scratch(unittest.TestCase):
    """A fresh folder per test, left behind only when the test failed."""

    def setUp(self):
        os.makedirs(WORK, exist_ok=True)
        self.folder = tempfile.mkdtemp(prefix=self.id().rsplit(".", 1)[-1] + "-", dir=WORK)
        self.addCleanup(self.remove_if_passed)

    def remove_if_passed(self):
        outcome = getattr(self, "_outcome", None)
        if outcome is not None and getattr(outcome, "success", True):
            shutil.rmtree(self.folder, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def installer_with_version(self, version_utf16, name):
        """setupUnsigned with its ProductVersion text replaced, signed by the publisher."""
        data = replace_once(read_bytes(fixture("setupUnsigned")),
                            "1.2.3.4".encode("utf-16-le"), version_utf16)
        unsigned = self.path(name + ".unsigned.exe")
        with open(unsigned, "wb") as out:
            out.write(data)
        signed = self.path(name + ".exe")
        sign(unsigned, signed)
        return signed


class Accepted(Scratch):

    def test_good_installer_gives_exact_site(self):
        installer = fixture("setupCurrent")
        site = self.path("site")
        # A strict umask must not make the site unreadable for the web server.
        result = run_publish(installer, site, "--thumbprint", thumbprint("publisher"),
                             "--ca", os.path.join(PKI, "root.pem"), umask=0o077)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("signer thumbprint: %s\n" % thumbprint("publisher"), result.stdout)

        self.assertEqual(sorted(os.listdir(site)), ["NorvantaWinSetup.exe", "manifest.json"])
        self.assertEqual(sorted(os.listdir(self.folder)), ["site"])  # no staging left
        served = read_bytes(os.path.join(site, "NorvantaWinSetup.exe"))
        self.assertEqual(served, read_bytes(installer))
        manifest = json.loads(read_bytes(os.path.join(site, "manifest.json")))
        self.assertEqual(manifest, {
            "available": True,
            "product": "NorvantaWin",
            "latestVersion": "1.2.3.4",
            "sha256": hashlib.sha256(served).hexdigest(),
            "sizeBytes": len(served),
            "downloadPath": "/rss/v2/client/client-updates/norvanta-win/download",
        })
        # 1 == True in Python: the JSON types must be right as well.
        self.assertIs(manifest["available"], True)
        self.assertIs(type(manifest["sizeBytes"]), int)
        # A web server's workers usually run as another user.
        self.assertEqual(os.stat(site).st_mode & 0o555, 0o555)
        for name in os.listdir(site):
            self.assertEqual(os.stat(os.path.join(site, name)).st_mode & 0o444, 0o444, name)

    def test_accepted_variants(self):
        cases = [
            # fixture, extra arguments, printed thumbprint, latestVersion
            ("setupCurrent", ["--thumbprint", thumbprint("publisher").upper()], "publisher",
             "1.2.3.4"),
            # Without --thumbprint the signer is reported, whoever it is.
            ("setupOtherPublisher", [], "publisher2", "1.2.3.4"),
            # The downloader compares the text: leading zeros must survive.
            ("setupPaddedVersion", ["--thumbprint", thumbprint("publisher")], "publisher",
             "1.2.3.04"),
        ]
        for name, arguments, signer, version in cases:
            with self.subTest(name=name, arguments=arguments):
                site = self.path(name + "-" + str(len(arguments)))
                result = run_publish(fixture(name), site, *arguments)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn("signer thumbprint: %s\n" % thumbprint(signer), result.stdout)
                manifest = json.loads(read_bytes(os.path.join(site, "manifest.json")))
                self.assertEqual(manifest["latestVersion"], version)

    def test_republishing_replaces_both_files_and_keeps_others(self):
        site = self.path("site")
        self.assertEqual(run_publish(fixture("setupCurrent"), site).returncode, 0)
        with open(os.path.join(site, "robots.txt"), "w") as out:
            out.write("keep\n")
        result = run_publish(fixture("setupNext"), site)
        self.assertEqual(result.returncode, 0, result.stderr)
        manifest = json.loads(read_bytes(os.path.join(site, "manifest.json")))
        self.assertEqual(manifest["latestVersion"], "1.2.3.5")
        self.assertEqual(read_bytes(os.path.join(site, "NorvantaWinSetup.exe")),
                         read_bytes(fixture("setupNext")))
        self.assertEqual(manifest["sha256"],
                         hashlib.sha256(read_bytes(fixture("setupNext"))).hexdigest())
        self.assertEqual(read_bytes(os.path.join(site, "robots.txt")), b"keep\n")


class Refused(Scratch):

    def make_empty(self):
        open(self.path("empty.exe"), "wb").close()
        return self.path("empty.exe")

    def make_oversized(self):
        # Sparse: the size is refused before the file is read or copied.
        with open(self.path("big.exe"), "wb") as out:
            out.truncate(268435457)
        return self.path("big.exe")

    def make_text(self):
        with open(self.path("notes.exe"), "w") as out:
            out.write("MZ is not enough\n" * 10)
        return self.path("notes.exe")

    def make_forged(self):
        """setupAltered with the signed file digest rewritten to match the change:
        only the signer's own signature can tell."""
        data = read_bytes(fixture("setupAltered"))
        pe = publish_tool.read_pe(data)
        signature = publish_tool.embedded_signature(data, pe)
        actual = publish_tool.authenticode_digest(data, pe, signature.digest_name)
        with open(self.path("forged.exe"), "wb") as out:
            out.write(replace_once(data, signature.file_digest, actual))
        return self.path("forged.exe")

    def make_other_root(self):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=Unrelated Root", "-keyout", self.path("other.key"),
                        "-out", self.path("other.pem")], check=True, capture_output=True)
        return self.path("other.pem")

    def test_refusals_write_nothing(self):
        publisher = thumbprint("publisher")
        cases = [
            # installer, extra arguments, exit code, part of the message
            (fixture("setupUnsigned"), [], 1, "has no Authenticode signature"),
            (fixture("setupAltered"), [], 1, "does not match the file"),
            (self.make_forged(), [], 1, "signature is not valid"),
            (fixture("setupOtherPublisher"), ["--thumbprint", publisher], 1,
             "not by the expected publisher " + publisher),
            (fixture("setupCurrent"), ["--thumbprint", thumbprint("publisher2")], 1,
             "signed by %s, not by the expected publisher" % publisher),
            (fixture("setupCurrent"), ["--ca", self.make_other_root()], 1,
             "does not chain to the root"),
            (fixture("setupShortDescription"), [], 1,
             'FileDescription is "NorvantaWin"; the downloader requires "NorvantaWin Setup"'),
            (fixture("setupProductCase"), [], 1, 'ProductName is "NORVANTAWIN"'),
            (fixture("clientCurrent"), [], 1, 'FileDescription is ""'),
            (self.installer_with_version("1.2.3.x".encode("utf-16-le"), "letter"), [], 1,
             'ProductVersion is "1.2.3.x"'),
            (self.installer_with_version("1.2.3\0\0".encode("utf-16-le"), "three"), [], 1,
             'ProductVersion is "1.2.3"'),
            (self.make_empty(), [], 1, "the installer is empty"),
            (self.make_oversized(), [], 1,
             "268435457 bytes; the downloader accepts at most 268435456"),
            (self.make_text(), [], 1, "not a Windows executable"),
            (self.path("missing.exe"), [], 1, "is not a file"),
            (fixture("setupCurrent"), ["--thumbprint", publisher[:38]], 2, "40 hexadecimal digits"),
            (fixture("setupCurrent"), ["--thumbprint", ":".join(publisher[i:i + 2]
                                                                for i in range(0, 40, 2))],
             2, "40 hexadecimal digits"),
        ]
        for number, (installer, arguments, code, message) in enumerate(cases):
            with self.subTest(installer=os.path.basename(os.path.dirname(installer)) + "/" +
                              os.path.basename(installer), arguments=arguments):
                parent = self.path("out-%d" % number)
                os.mkdir(parent)
                result = run_publish(installer, os.path.join(parent, "site"), *arguments)
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                self.assertIn(message, result.stderr)
                self.assertEqual(os.listdir(parent), [])

    def test_refusal_leaves_existing_site_unchanged(self):
        site = self.path("site")
        self.assertEqual(run_publish(fixture("setupCurrent"), site).returncode, 0)
        before = {name: read_bytes(os.path.join(site, name)) for name in os.listdir(site)}
        result = run_publish(fixture("setupAltered"), site)
        self.assertEqual(result.returncode, 1)
        self.assertEqual({name: read_bytes(os.path.join(site, name)) for name in os.listdir(site)},
                         before)
        self.assertEqual(sorted(os.listdir(self.folder)), ["site"])


class VersionResource(Scratch):
    """The tool must read version strings exactly as the downloader does."""

    NAMES = ("ProductName", "Implementation", "ProductVersion", "FileDescription")

    def test_fixture_layouts(self):
        cases = [
            ("setupCurrent", {"ProductName": "NorvantaWin", "FileDescription": "NorvantaWin Setup",
                              "ProductVersion": "1.2.3.4"}),
            # Trailing white space goes, leading and inner white space stays.
            ("versionTrailingBlanks", {"ProductName": "  NorvantaWin", "ProductVersion": "1.2.3.4",
                                       "FileDescription": "In  side"}),
            # Only the first translation counts, even where a later one has the string.
            ("versionSeveralTranslations", {"ProductName": "First"}),
            ("versionEmbeddedNul", {"ProductName": "Norvanta", "ProductVersion": "1.2.3.4"}),
            ("versionOverlongValue", {"ProductName": "NorvantaWin", "ProductVersion": "1.2.3.4"}),
            ("versionShortTranslation", {}),
            ("versionNoTranslation", {}),
            ("versionNone", {}),
        ]
        for name, expected in cases:
            with self.subTest(fixture=name):
                strings = publish_tool.read_version_strings(fixture(name), self.NAMES)
                self.assertEqual(strings, {key: expected.get(key, "") for key in self.NAMES})

    def resource(self, *directives):
        case = self.path("case.txt")
        with open(case, "w", encoding="utf-8") as out:
            out.write("".join(line + "\n" for line in directives))
        subprocess.run([sys.executable, RESOURCE_TOOL, case, self.path("version.bin")], check=True)
        return read_bytes(self.path("version.bin"))

    def test_string_table_name_is_matched_without_case(self):
        # Resource compilers write the table name in upper case.
        data = self.resource("translation 040904b0", "string 040904b0 ProductName=NorvantaWin")
        data = replace_once(data, "040904b0".encode("utf-16-le"), "040904B0".encode("utf-16-le"))
        self.assertEqual(publish_tool.version_strings_of_resource(data, ["ProductName"]),
                         {"ProductName": "NorvantaWin"})

    def test_names_are_matched_as_the_version_api_matches_them(self):
        # pefile's own reading of these (pe.FileInfo) differs from Windows'.
        cases = [
            # A repeated name: the first one counts, not the last.
            (["string 040904b0 ProductName=First", "string 040904b0 ProductName=Second"], "First"),
            # Names are matched without case.
            (["string 040904b0 PRODUCTNAME=NorvantaWin"], "NorvantaWin"),
        ]
        for strings, expected in cases:
            with self.subTest(strings=strings):
                data = self.resource("translation 040904b0", *strings)
                self.assertEqual(publish_tool.version_strings_of_resource(data, ["ProductName"]),
                                 {"ProductName": expected})

    def test_trailing_white_space_windows_may_keep_is_refused(self):
        data = self.resource("translation 040904b0", "string 040904b0 ProductVersion=1.2.3.4\u00a0")
        with self.assertRaisesRegex(publish_tool.Refusal, "U\\+00A0"):
            publish_tool.version_strings_of_resource(data, ["ProductVersion"])

    def test_strict_version_syntax(self):
        accepted = ["1.2.3.4", "0.0.0.0", "65535.65535.65535.65535", "00001.2.3.4", "1.2.3.04"]
        refused = ["", "1.2.3", "1.2.3.4.5", "1..3.4", ".1.2.3", "1.2.3.", "65536.0.0.0",
                   "000001.2.3.4", " 1.2.3.4", "+1.2.3.4", "1.2.3.4a", "1,2.3.4",
                   "\uff11.2.3.4", "1.2.3.\u0664", "1_0.2.3.4"]
        for text in accepted:
            self.assertTrue(publish_tool.is_strict_version(text), text)
        for text in refused:
            self.assertFalse(publish_tool.is_strict_version(text), text)


def process_alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as source:
            return source.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def serve_start(site, run, port):
    return subprocess.run(
        [SERVE, "start", "--site", site, "--run", run, "--cert", os.path.join(PKI, "server.pem"),
         "--key", os.path.join(PKI, "server.key"), "--listen", "127.0.0.1:%d" % port,
         "--wait", "5"], stdin=subprocess.DEVNULL, capture_output=True, text=True)


class Serving(Scratch):
    """deploy/serve with nginx, fetched over HTTPS as the downloader fetches."""

    def test_site_is_served_at_exactly_two_urls(self):
        site = self.path("site")
        self.assertEqual(run_publish(fixture("setupCurrent"), site).returncode, 0)
        run = self.path("run")
        port = free_port()
        started = serve_start(site, run, port)
        self.assertEqual(started.returncode, 0, started.stderr)
        self.addCleanup(subprocess.run, [SERVE, "stop", "--run", run], stdin=subprocess.DEVNULL)

        context = ssl.create_default_context(cafile=os.path.join(PKI, "root.pem"))
        context.minimum_version = ssl.TLSVersion.TLSv1_2

        class NoRedirects(urllib.request.HTTPRedirectHandler):
            def redirect_request(self, *arguments):
                return None

        opener = urllib.request.build_opener(urllib.request.HTTPSHandler(context=context),
                                             NoRedirects())

        def get(target):
            try:
                with opener.open("https://localhost:%d%s" % (port, target), timeout=30) as reply:
                    return reply.status, reply.headers.get_content_type(), reply.read()
            except urllib.error.HTTPError as error:
                return error.code, None, None

        status, kind, body = get(MANIFEST_URL)
        self.assertEqual((status, kind), (200, "application/json"))
        self.assertEqual(body, read_bytes(os.path.join(site, "manifest.json")))
        status, kind, body = get(DOWNLOAD_URL)
        self.assertEqual((status, kind), (200, "application/octet-stream"))
        self.assertEqual(body, read_bytes(fixture("setupCurrent")))
        for target in [MANIFEST_URL + "/", DOWNLOAD_URL + "/", "/rss/v2/client/client-updates",
                       "/", "/manifest.json", "/NorvantaWinSetup.exe", "/nginx.conf",
                       "/rss/v2/client/client-updates/norvanta-win/../norvanta-win/download/x"]:
            with self.subTest(target=target):
                self.assertEqual(get(target)[0], 404)

        # A second server on the same run folder is refused; stop ends it for good.
        again = serve_start(site, run, free_port())
        self.assertNotEqual(again.returncode, 0)
        self.assertIn("already serves", again.stderr)
        with open(os.path.join(run, "nginx.pid")) as source:
            pid = int(source.read())
        subprocess.run([SERVE, "stop", "--run", run], stdin=subprocess.DEVNULL, check=True)
        self.assertFalse(process_alive(pid))
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", port), timeout=5).close()


if __name__ == "__main__":
    unittest.main()
