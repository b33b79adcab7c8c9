#!/usr/bin/env python3
"""Independent reader for the writer's tests: lists an archive as JSON, reading every member
(which verifies its CRC-32) and reporting the end records it found. With --names-only it
lists just the names, for very large archives."""
import hashlib
import json
import struct
import sys
import zipfile


def end_records(path):
    with open(path, "rb") as f:
        data = f.read()
    eocd = data[-22:]
    (sig, _, _, count, total, size, offset, comment) = struct.unpack("<IHHHHIIH", eocd)
    result = {"eocd": {"signature": sig, "count": count, "total": total, "size": size,
                       "offset": offset, "comment": comment}, "length": len(data)}
    locator = data[-42:-22] if len(data) >= 42 else b""
    if locator[:4] == b"PK\x06\x07":
        (_, _, record_offset, disks) = struct.unpack("<IIQI", locator)
        rec = data[record_offset:record_offset + 56]
        (sig, length, made, needed, disk, start, n1, n2, size64, offset64) = struct.unpack("<IQHHIIQQQQ", rec)
        result["zip64"] = {"signature": sig, "length": length, "made": made, "needed": needed,
                           "count": n1, "total": n2, "size": size64, "offset": offset64,
                           "disks": disks, "record_offset": record_offset}
    return result


def main(path, with_data):
    out = end_records(path)
    entries = []
    with zipfile.ZipFile(path) as archive:
        if not with_data:
            out["names"] = archive.namelist()
            json.dump(out, sys.stdout)
            return
        for info in archive.infolist():
            item = {"name": info.filename, "size": info.file_size, "compressed": info.compress_size,
                    "crc": info.CRC, "mode": info.external_attr >> 16, "low": info.external_attr & 0xFFFF,
                    "date_time": list(info.date_time), "flags": info.flag_bits,
                    "made": info.create_version, "system": info.create_system,
                    "needed": info.extract_version, "offset": info.header_offset,
                    "method": info.compress_type,
                    "extra": info.extra.hex()}
            content = archive.read(info)
            item["sha256"] = hashlib.sha256(content).hexdigest()
            if len(content) <= 256:
                item["data"] = content.decode("utf-8", "replace")
            entries.append(item)
    out["entries"] = entries
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    main(sys.argv[1], "--names-only" not in sys.argv[2:])
