#!/usr/bin/env python3
"""Independent reader for the writer's tests: an archive's end records and, as JSON, its members
read whole (which verifies their CRC-32), or with --names-only just their names (large archives)."""
import json, struct, sys, zipfile


def end_records(data):
    (_, _, _, count, total, size, offset, _) = struct.unpack("<IHHHHIIH", data[-22:])
    result = {"eocd": {"count": count, "total": total, "size": size, "offset": offset}, "length": len(data)}
    locator = data[-42:-22]
    if locator[:4] == b"PK\x06\x07":
        (_, _, record_offset, disks) = struct.unpack("<IIQI", locator)
        (_, length, _, needed, _, _, n1, n2, size64, offset64) = struct.unpack(
            "<IQHHIIQQQQ", data[record_offset:record_offset + 56])
        result["zip64"] = {"length": length, "needed": needed, "count": n1, "total": n2, "size": size64,
                           "offset": offset64, "disks": disks, "record_offset": record_offset}
    return result


def main(path, with_data):
    with open(path, "rb") as f:
        out = end_records(f.read())
    with zipfile.ZipFile(path) as archive:
        if not with_data:
            out["names"] = archive.namelist()
        else:
            out["entries"] = [{
                "name": info.filename, "size": info.file_size, "compressed": info.compress_size,
                "mode": info.external_attr >> 16, "low": info.external_attr & 0xFFFF,
                "date_time": list(info.date_time), "flags": info.flag_bits, "made": info.create_version,
                "system": info.create_system, "needed": info.extract_version, "offset": info.header_offset,
                "method": info.compress_type, "extra": info.extra.hex(),
                "data": data.decode("utf-8", "replace") if len(data := archive.read(info)) <= 256 else None}
                for info in archive.infolist()]
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    main(sys.argv[1], "--names-only" not in sys.argv[2:])
