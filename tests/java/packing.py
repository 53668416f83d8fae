"""Builds the test applications and the packed files the Java tests run.

A packed file is what the launcher executable looks like to the JVM: leading
bytes (the program image and configuration), then a ZIP archive whose offsets
count from the archive's own start, holding the support classes at the root
and the application jars stored under BOOT-INF/lib/.
"""
import hashlib
import io
import os
import shutil
import struct
import subprocess
import zipfile

FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures")


class Jdk:
    def __init__(self, home):
        self.home = home

    def tool(self, name):
        return os.path.join(self.home, "bin", name)

    def run(self, *args, **kwargs):
        return subprocess.run([str(a) for a in args], check=True, capture_output=True, text=True, **kwargs)

    def javac(self, out_dir, sources, class_path=None):
        os.makedirs(out_dir, exist_ok=True)
        args = [self.tool("javac"), "-d", out_dir]
        if class_path:
            args += ["-cp", os.pathsep.join(class_path)]
        self.run(*args, *sources)

    def jar(self, jar_file, content_dir, manifest=None, compress=True):
        args = [self.tool("jar"), "--create", "--file", jar_file]
        if manifest:
            args += ["--manifest", manifest]
        if not compress:
            args.append("--no-compress")
        self.run(*args, "-C", content_dir, ".")


def java_sources(directory):
    found = []
    for root, _, files in os.walk(directory):
        found += [os.path.join(root, f) for f in files if f.endswith(".java")]
    return sorted(found)


def copy_resources(source_dir, out_dir):
    """Copies every non-Java file of a fixture tree next to its classes."""
    for root, _, files in os.walk(source_dir):
        for name in files:
            if name.endswith(".java"):
                continue
            relative = os.path.relpath(os.path.join(root, name), source_dir)
            target = os.path.join(out_dir, relative)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(os.path.join(root, name), target)


def big_data():
    """About 400 KiB that deflate well but not trivially: beyond the whole-read size."""
    chunks = []
    for i in range(12000):
        chunks.append(("line %06d %s\n" % (i, hashlib.sha1(str(i % 97).encode()).hexdigest())).encode())
    return b"".join(chunks)


class TestApplication:
    """Compiles the fixture application into jars and directories under work_dir."""

    def __init__(self, jdk, work_dir, support_jar):
        self.jdk = jdk
        self.work = work_dir
        self.support_jar = support_jar
        self.jars = {}

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def build(self):
        jdk = self.jdk
        core = self.path("classes", "core")
        jdk.javac(core, java_sources(os.path.join(FIXTURES, "core")))
        copy_resources(os.path.join(FIXTURES, "core"), core)
        self.jars["core"] = self.path("core.jar")
        jdk.jar(self.jars["core"], core, manifest=os.path.join(FIXTURES, "core.mf"))

        plugin = self.path("classes", "plugin")
        jdk.javac(plugin, java_sources(os.path.join(FIXTURES, "plugin")), [self.jars["core"]])
        copy_resources(os.path.join(FIXTURES, "plugin"), plugin)
        os.makedirs(os.path.join(plugin, "data"), exist_ok=True)
        with open(os.path.join(plugin, "data", "big.bin"), "wb") as f:
            f.write(big_data())
        self.jars["plugin"] = self.path("plugin.jar")
        jdk.jar(self.jars["plugin"], plugin)

        stored = self.path("classes", "stored")
        os.makedirs(os.path.join(stored, "stored"), exist_ok=True)
        shutil.copyfile(os.path.join(FIXTURES, "stored-plain.txt"), os.path.join(stored, "stored", "plain.txt"))
        self.jars["stored"] = self.path("stored.jar")
        jdk.jar(self.jars["stored"], stored, compress=False)

        app = self.path("classes", "app")
        jdk.javac(app, java_sources(os.path.join(FIXTURES, "app")), [self.jars["core"], self.support_jar])
        self.jars["app"] = self.path("app.jar")
        jdk.jar(self.jars["app"], app, manifest=os.path.join(FIXTURES, "app.mf"))

        self.classes_dir = self.path("classes", "classesdir")
        jdk.javac(self.classes_dir, java_sources(os.path.join(FIXTURES, "classesdir")))
        copy_resources(os.path.join(FIXTURES, "classesdir"), self.classes_dir)

        extra = self.path("classes", "extra")
        jdk.javac(extra, java_sources(os.path.join(FIXTURES, "extra")))
        self.extra_jar = self.path("extra.jar")
        jdk.jar(self.extra_jar, extra)
        self.extra_dir = self.path("extra-dir")
        os.makedirs(self.extra_dir, exist_ok=True)
        shutil.copyfile(os.path.join(FIXTURES, "extra-dir.txt"), os.path.join(self.extra_dir, "extra-dir.txt"))

        self.driver_dir = self.path("driver")
        jdk.javac(self.driver_dir, java_sources(os.path.join(FIXTURES, "driver")), [self.support_jar])

    def lib_jars(self):
        """The application jars in class-path order."""
        return [self.jars[k] for k in ("core", "plugin", "stored", "app")]


def _entry(name, compress):
    info = zipfile.ZipInfo(name, date_time=(2024, 1, 2, 3, 4, 6))
    info.compress_type = zipfile.ZIP_DEFLATED if compress else zipfile.ZIP_STORED
    info.external_attr = (0o40755 << 16) | 0x10 if name.endswith("/") else 0o644 << 16
    return info


def write_packed(out_file, support_jar, lib_jars=(), classes_dir=None, compress_libs=False,
                 prefix=b"\x7fELF" + bytes(range(256)) * 24):
    """Writes prefix + archive; returns the archive's start offset in the file."""
    archive = io.BytesIO()
    with zipfile.ZipFile(archive, "w") as z, zipfile.ZipFile(support_jar) as support:
        for info in support.infolist():
            if info.filename.startswith("META-INF/"):
                continue
            data = support.read(info)
            z.writestr(_entry(info.filename, not info.filename.endswith("/")), data)
        # No directory entries for BOOT-INF/: a packer need not write them.
        if classes_dir:
            for root, _, files in sorted(os.walk(classes_dir)):
                for name in sorted(files):
                    full = os.path.join(root, name)
                    relative = os.path.relpath(full, classes_dir).replace(os.sep, "/")
                    with open(full, "rb") as f:
                        z.writestr(_entry("BOOT-INF/classes/" + relative, True), f.read())
        for jar in lib_jars:
            with open(jar, "rb") as f:
                z.writestr(_entry("BOOT-INF/lib/" + os.path.basename(jar), compress_libs), f.read())
    body = archive.getvalue()
    with open(out_file, "wb") as f:
        f.write(prefix)
        f.write(body)
    check_offsets_count_from_archive_start(out_file, len(prefix))
    return len(prefix)


def check_offsets_count_from_archive_start(packed_file, archive_start):
    """The layout premise of every test: directory offset + size == end record - archive start."""
    with open(packed_file, "rb") as f:
        data = f.read()
    end = data.rfind(b"PK\x05\x06")
    size, offset = struct.unpack_from("<II", data, end + 12)
    if offset + size != end - archive_start or archive_start == 0:
        raise AssertionError("packed archive offsets do not count from the archive start")


def find_packer(source_dir):
    """The project's packager when it has been built, unless the helper layout is forced."""
    if os.environ.get("NXO_JAVA_TEST_LAYOUT") == "helper":
        return None
    packer = os.environ.get("NXO_PACKER") or os.path.join(source_dir, "dist", "nxo")
    return packer if os.access(packer, os.X_OK) else None


def pack_with_packer(packer, out_file, support_jar, main_class, lib_jars, classes_dir=None):
    args = [packer, "pack", "--target", "linux", "--main-class", main_class, "--support", support_jar]
    if classes_dir:
        args += ["--classes", classes_dir]
    if not lib_jars and not classes_dir:
        args.append("--no-check")  # the main class comes from the extra class path
    args += ["-o", out_file] + list(lib_jars)
    result = subprocess.run(args, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError("nxo pack failed: %s%s" % (result.stdout, result.stderr))
