#!/usr/bin/env python3
"""Writes the fuzz seed corpus for the package reader: packaged files laid
out as the application's writer lays them out, intact and damaged in the
ways a reader must survive. Deterministic, so the committed files change only
when this script does.

Usage: make_corpus.py [OUTPUT_DIR]   (default: corpus/ beside this script)
"""
import os
import random
import struct
import sys
import zlib

MAGIC = b"\xab\xcd\xab\xcd"


def image(n):
    """A program image that never holds the magic."""
    return (b"MZ" + bytes(range(0x20, 0x7F)) * (n // 95 + 1))[:n]


def package(entries, image_size=32, trailing=b"", directory=None, dir_stream=None, c=None, u=None, length=None,
            entry_streams=None):
    """entries: list of (name, content bytes). Any keyword left None is
    computed as the writer would; setting one damages the package."""
    streams = entry_streams if entry_streams is not None else [zlib.compress(data) for _, data in entries]
    if directory is None:
        items = ", ".join(
            "'%s':{size:%d, csize:%d, time:1393495163000, module:\"app\"}" % (name, len(data), len(stream))
            for (name, data), stream in zip(entries, streams))
        directory = ("({" + items + "})").encode("latin-1")
    if dir_stream is None:
        dir_stream = zlib.compress(directory)
    body = struct.pack(">II", len(dir_stream) if c is None else c, len(directory) if u is None else u)
    body += dir_stream + b"".join(streams) + MAGIC
    if length is None:
        length = len(body) + 4
    return image(image_size) + body + struct.pack(">I", length & 0xFFFFFFFF) + trailing


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    os.makedirs(out, exist_ok=True)
    for name in os.listdir(out):
        os.remove(os.path.join(out, name))

    rng = random.Random(4)
    autorun = b"System.print('autorun');\nSystem.exit(0);\n"
    all_bytes = bytes(range(256))
    noise = bytes(rng.randrange(256) for _ in range(300))
    several = [("scripts/autorun.js", autorun), ("scripts/run.js", b"var run = 1;\n" * 20),
               ("bin/all.bin", all_bytes), ("empty.txt", b""), ("noise.bin", noise)]
    one = [("scripts/autorun.js", autorun)]
    valid_len = len(package(one))

    seeds = {
        # Intact packages.
        "ok_no_entries": package([]),
        "ok_empty_text": package([], directory=b""),
        "ok_one_entry": package(one),
        "ok_several_entries": package(several),
        "ok_at_offset_0": package(one, image_size=0),
        # Trailer followed by the most bytes the search still finds.
        "ok_trailing_9992": package(one, image_size=0, trailing=b"T" * 9992),
        # Trailer followed by bytes holding a second trailer: the first wins.
        "ok_second_trailer_after": package(one, image_size=10000, trailing=b"\0" * 50 + MAGIC + b"\0\0\0\x10"),
        "ok_recurse_attr": package([], directory=b"({'lib':{size:0, csize:8, time:0, module:'m', recurse:true}})",
                                   entry_streams=[zlib.compress(b"")]),
        # Names of every form the directory scanner reads, listed out of
        # index order.
        "ok_names_mixed": package([], directory=b"({'10':{size:1, csize:9}, 2 : {size:1, csize:9},\n"
                                                b" $id_1:{size:0, csize:8, m:[1,{a:'}'}]}, \"e\\x41\\u00e9\\n\\'\":{size:1, csize:9}});",
                                  entry_streams=[zlib.compress(b"a"), zlib.compress(b"b"), zlib.compress(b""),
                                                 zlib.compress(b"c")]),
        # No package: the whole window is searched in vain.
        "bad_no_package": image(10000),
        # Damaged trailer and package length.
        "bad_trailer_alone": MAGIC + struct.pack(">I", 8),
        "bad_length_too_big": package(one, length=valid_len * 2),
        "bad_length_15": package(one, length=15),
        "bad_length_16_no_stream": image(16) + struct.pack(">II", 0, 0) + MAGIC + struct.pack(">I", 16),
        "bad_magic_without_length": image(40) + MAGIC + b"\0\0",
        "bad_short_file_trailing": package(one, trailing=b"\0"),
        # Damaged directory.
        "bad_c_past_trailer": package(one, c=10000),
        "bad_c_zero": package(one, c=0),
        "bad_u_more": package(one, u=len(b"({})") + 1, directory=b"({})"),
        "bad_u_less": package(one, u=3, directory=b"({})"),
        "bad_u_huge": package(one, u=0xFFFFFFFF),
        "bad_dir_not_zlib": package([], dir_stream=b"\x12" * 12, directory=b"({})"),
        "bad_dir_truncated": package([], dir_stream=zlib.compress(b"({})")[:-1], directory=b"({})"),
        # Bytes after the directory stream's end, inside C, are skipped.
        "ok_dir_slack_after_stream": package(one, dir_stream=zlib.compress(b"({})") + b"junk", directory=b"({})"),
        "bad_dir_raw_deflate": package([], dir_stream=zlib.compress(b"({})")[2:-4], directory=b"({})"),
        "bad_dir_not_object": package([], directory=b"42"),
        "bad_dir_zero_byte": package([], directory=b"({'a\0':{size:0, csize:0}})"),
        # Damaged entries.
        "bad_entry_csize_past_trailer": package(one, directory=b"({'a':{size:41, csize:5000}})"),
        "bad_entry_csize_negative": package(one, directory=b"({'a':{size:41, csize:-5}})"),
        "bad_entry_size_more": package(one, directory=b"({'a':{size:42, csize:%d}})" % len(zlib.compress(autorun))),
        "bad_entry_size_less": package(one, directory=b"({'a':{size:40, csize:%d}})" % len(zlib.compress(autorun))),
        "bad_entry_stream_cut": package(one, entry_streams=[zlib.compress(autorun)[:-3]]),
        "bad_entry_sizes_swapped": package(several[:3], directory=b"({'a':{csize:13, size:40}, 'b':{size:9}})"),
    }
    # Bare directory texts for the name scanner, which also reads the raw
    # input: every escape it resolves, and forms it must decline.
    seeds["text_names_escapes"] = (b" ( { 'q\\'t' :{}, \"h\\xE9\\u00ff\\t\\r\\b\\f\\v\\0\\z\\\r\n\\\n\":{},"
                                   b" a$_9:{x:[1,'}',{y:\"]\"}]}, 0:{}, 12:{},} ) ;\n")
    declined = [b"'\\u0100'", b"1.5", b"012", b"'a\\01'", b"'a\\8'", b"1e3", b"0x1", b"/*c*/ 'a'", b"get a(){}, b"]
    for k, name in enumerate(declined):
        seeds["text_names_declined_%d" % k] = b"({'x':{}, " + name + b":{}})"
    total = 0
    for name, data in sorted(seeds.items()):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        total += len(data)
    print("%d seeds, %d bytes in %s" % (len(seeds), total, out))


if __name__ == "__main__":
    main()
