#!/usr/bin/env python3
"""Writes examples/roster.dbf: a sample roster of 120 students (dBase III, GBK text).

Fields: 考籍号 C(17), 姓名 C(10), 性别 C(2), 班级 C(10), 出生日期 D, 成绩 N(5,1).
Records 17, 48, 77 and 103 are marked deleted. The output is deterministic.
Run: python3 examples/make_roster.py [OUT]
"""
import random
import struct
import sys

FIELDS = [("考籍号", "C", 17, 0), ("姓名", "C", 10, 0), ("性别", "C", 2, 0),
          ("班级", "C", 10, 0), ("出生日期", "D", 8, 0), ("成绩", "N", 5, 1)]
SURNAMES = "王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹彭曾肖田董袁潘于蒋蔡余杜叶程苏魏吕丁任沈姚卢姜崔钟谭陆汪范金石廖贾夏韦付方白邹孟熊秦邱江尹薛闫段雷侯龙史陶黎贺顾毛郝龚邵万钱严覃武戴莫孔向汤"
GIVEN = "伟芳娜秀英敏静丽强磊军洋勇艳杰娟涛明超秀兰霞平刚桂英华建国志红文辉玉兰晨宇浩然子涵欣怡梓萱雨轩佳琪思远博文"
DELETED = {17, 48, 77, 103}


def field_bytes(value, length, left):
    data = value.encode("gbk")[:length]
    pad = b" " * (length - len(data))
    return data + pad if left else pad + data


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "examples/roster.dbf"
    rnd = random.Random(20111028)
    record_length = 1 + sum(f[2] for f in FIELDS)
    header_length = 32 + 32 * len(FIELDS) + 1
    records = []
    for i in range(1, 121):
        key = "11010{:02d}2026{:06d}".format(rnd.randint(1, 18), 100000 + i * 37)
        name = rnd.choice(SURNAMES) + "".join(rnd.choice(GIVEN) for _ in range(rnd.choice((1, 2))))
        sex = rnd.choice(("男", "女"))
        klass = "高三({})班".format(rnd.randint(1, 9))
        birth = "2008{:02d}{:02d}".format(rnd.randint(1, 12), rnd.randint(1, 28))
        score = "{:.1f}".format(rnd.randint(3000, 7500) / 10)
        rec = b"*" if i in DELETED else b" "
        rec += field_bytes(key, 17, True) + field_bytes(name, 10, True)
        rec += field_bytes(sex, 2, True) + field_bytes(klass, 10, True)
        rec += field_bytes(birth, 8, True) + field_bytes(score, 5, False)
        assert len(rec) == record_length
        records.append(rec)
    head = struct.pack("<B3BIHH", 0x03, 126, 12, 9, len(records), header_length, record_length)
    head += b"\0" * 17 + bytes([0x7A]) + b"\0\0"  # byte 29: code page 936
    desc = b""
    pos = 1
    for name, typ, length, dec in FIELDS:
        raw = name.encode("gbk")
        assert len(raw) <= 10
        desc += raw + b"\0" * (11 - len(raw)) + typ.encode() + struct.pack("<I", pos)
        desc += bytes([length, dec]) + b"\0" * 14
        pos += length
    with open(out, "wb") as f:
        f.write(head + desc + b"\r" + b"".join(records) + b"\x1a")


if __name__ == "__main__":
    main()
