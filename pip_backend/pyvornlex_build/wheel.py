"""Writes a wheel (PEP 427) from a staging directory."""

import base64
import hashlib
import os
import sys
import sysconfig
import zipfile


def wheel_tag():
    """The interpreter, ABI and platform tag of an extension built for the
    running interpreter, e.g. cp310-cp310-linux_x86_64."""
    interpreter = "cp%d%d" % sys.version_info[:2]
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return "%s-%s-%s" % (interpreter, interpreter, platform)


def wheel_metadata(generator):
    return ("Wheel-Version: 1.0\nGenerator: %s\nRoot-Is-Purelib: false\nTag: %s\n"
            % (generator, wheel_tag()))


def _record_line(arcname, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d" % (arcname, digest, len(data))


def write_wheel(path, staging_dir, dist_info_name, dist_info_files):
    """Zips every file below staging_dir, then the dist-info files (a dict of
    name to text) and the RECORD that lists them all."""
    records = []
    with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED) as archive:
        for directory, subdirectories, files in os.walk(staging_dir):
            subdirectories.sort()
            for name in sorted(files):
                full = os.path.join(directory, name)
                arcname = os.path.relpath(full, staging_dir).replace(os.sep, "/")
                with open(full, "rb") as handle:
                    data = handle.read()
                info = zipfile.ZipInfo(arcname, date_time=(1980, 1, 1, 0, 0, 0))
                info.external_attr = (os.stat(full).st_mode & 0xFFFF) << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                archive.writestr(info, data)
                records.append(_record_line(arcname, data))
        for name, text in dist_info_files.items():
            arcname = "%s/%s" % (dist_info_name, name)
            data = text.encode("utf-8")
            archive.writestr(arcname, data)
            records.append(_record_line(arcname, data))
        record_name = "%s/RECORD" % dist_info_name
        archive.writestr(record_name, "\n".join(records + [record_name + ",,"]) + "\n")
