#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: the replies the reference server sends for the
four pages (tools/update-server), in UTF-8 and GB2312, with and without declarations, plus the
error pages a real server answers with; server-list texts; base64 keys and signatures."""
import os
import zlib

here = os.path.dirname(os.path.abspath(__file__))

servers = "http://10.0.0.1:8080^^主服务器||http://exam.example.cn/item7^^备用服务器"
pages = {
    "status": [("error", "")],
    "online": [("error", "")],
    "version": [("error", ""), ("version_no", "2013_02_5700"), ("update_time", "2013-02-01 08:30"),
                ("soft_cmt", "修正了若干问题 & <改进>"), ("bm", "A1")],
    "server_list": [("error", ""), ("lcserverurl", servers), ("res", "")],
    "list_error": [("error", "没有可用的服务器"), ("res", "")],
}


def escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def document(children, root="root"):
    return "<%s>%s</%s>" % (root, "".join("<%s>%s</%s>" % (n, escape(v), n) for n, v in children), root)


def write(target, name, data):
    folder = os.path.join(here, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


replies = {}
for page, children in pages.items():
    body = document(children)
    replies[page + "_utf8"] = ('<?xml version="1.0" encoding="utf-8"?>\n' + body).encode("utf-8")
    replies[page + "_gb2312"] = ('<?xml version="1.0" encoding="gb2312"?>\n' + body).encode("gb2312")
    replies[page + "_bare"] = body.encode("utf-8")
replies["version_no_encoding"] = ('<?xml version="1.0"?>\n' + document(pages["version"])).encode()
replies["version_single_quotes"] = ("<?xml version='1.0' encoding = 'GB18030' ?>\r\n" +
                                    document(pages["version"])).encode("gb18030")
replies["version_other_root"] = ('<?xml version="1.0" encoding="utf-8"?>\n' +
                                 document(pages["version"], "answer")).encode()
replies["cdata_comment"] = ('<?xml version="1.0" encoding="utf-8"?>\n<!-- padding -->'
                            "<root><error><![CDATA[]]></error><soft_cmt>a<b/>c</soft_cmt></root>").encode()
replies["html404"] = (b"<!DOCTYPE html>\n<html><head><meta charset=utf-8><title>404 Not Found"
                      b"</title></head>\n<body><h1>404 Not Found</h1><hr><p>/x</p></body></html>\n")
replies["not_found_gb2312"] = ("<html><head><title>无法找到网页</title></head>\n<body><h1>无法找到网页"
                               "</h1></body></html>\n").encode("gb2312")
replies["plain_text"] = b"This answer is plain text, not an XML document.\n"
for name, data in replies.items():
    write("reply", name, data)
    write("encoding", name, data)

for i, text in enumerate([servers, "http://a^^one", "http://a^^one||", "||^^||", "x^^y^^z||p^^q",
                          "no separators", "a|||^^b||^^^c"]):
    write("server_list", "list%d" % i, text.encode("utf-8"))

# The public key and a package signature of the contract suite, as tools/sign-package writes them.
key = "ehI84kDu+5JcQ+J1kOY5hK3KEDJWIKi9cbP6JHYUFFXA+YcrYzYuLWnlJoEOcLUQ0dfJeFBkZi+0jasRZ/X3Og=="
sig = "fPoyCxfuFQVwX8FeY8w1JiCPYmtgwHscxTR3tdzEeUg99L0w0lLUn0Hr3nnp17ncyVfrP6diWEN6g22+wiOYsQ=="
for name, text in {"key": key + "\n", "sig_crlf": sig + "\r\n", "wrapped": sig[:76] + "\n" + sig[76:],
                   "short": "AQID", "pad1": "AAE=", "pad2": "AA==", "html": "<html>404</html>"}.items():
    write("signature", name, text.encode())

# Undo journals: whole ones, pending and committed, and the torn and foreign files a start finds.
def journal(committed, entries):
    body = ("committed\n" if committed else "pending\n") + "".join(
        "%s\t%s\t%s\n" % e for e in entries)
    data = body.encode("utf-8")
    crc = zlib.crc32(data) & 0xFFFFFFFF
    return b"autoupdate undo journal 1\nlength %d\ncrc32 %08x\n" % (len(data), crc) + data


P = "C:\\Program Files\\考试系统"
entries = [("M", "0\\1", P + "\\Trainova.dll"), ("C", "", P + "\\新 folder"),
           ("M", "0\\2", P + "\\101\\proj.ini")]
pending = journal(False, entries)
write("journal", "pending", pending)
write("journal", "committed", journal(True, entries[:1]))
write("journal", "torn", pending[: len(pending) // 2])
write("journal", "zeroed", bytes(len(pending)))
write("journal", "old_lines", ("M\t0\\1\t" + P + "\\Trainova.dll\nC\t\t" + P + "\\d*\n").encode())

# Block indexes: whole ones (their sums need not be right: the reader takes any), cut short,
# and with more behind them.
import struct


def block_index(length, block_size=4096, release=b"2.1", seed=1):
    count = (length + block_size - 1) // block_size
    out = b"AUBLKIDX" + struct.pack("<IIQ", 1, block_size, length) + bytes(range(32))
    out += struct.pack("<H", len(release)) + release
    for i in range(count):
        out += struct.pack("<IQ", (i * 2654435761 + seed) & 0xFFFFFFFF,
                           (i * 11400714819323198485 + seed) & 0xFFFFFFFFFFFFFFFF)
    return out


whole = block_index(10 * 4096 + 100)
write("blocks", "whole", whole)
write("blocks", "empty_package", block_index(0, release=b""))
write("blocks", "one_short_block", block_index(500, block_size=1024))
write("blocks", "large_blocks", block_index(3 << 20, block_size=1 << 20, release="二.一".encode()))
write("blocks", "cut_short", whole[:-5])
write("blocks", "trailing", whole + b"\0")
