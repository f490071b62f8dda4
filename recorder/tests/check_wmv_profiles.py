#!/usr/bin/env python3
"""Reads the profile files the WMV profile test wrote (UTF-16LE, 20000 bytes,
zero-filled) with xml.etree and compares every element and attribute, in
order, with the layout of a Windows Media profile for the recorder."""
import os
import sys
import xml.etree.ElementTree as ET

AUDIO = {  # kbit/s: stream bitrate, bytes per second, block size, codec data
    32: (31960, 3995, 742, "008800001F0000000000"),
    64: (64040, 8005, 1487, "008800000F0000000000"),
    96: (96024, 12003, 4459, "008800000F0000000000"),
    128: (128016, 16002, 5945, "008800000F0000000000"),
    192: (192016, 24002, 8917, "008800000F0000000000"),
    256: (256032, 32004, 5945, "008800000F0000000000"),
}
CODECS = [
    ("WMV3", "{33564D57-0000-0010-8000-00AA00389B71}"),
    ("MP4S", "{5334504D-0000-0010-8000-00AA00389B71}"),
    ("WVC1", "{31435657-0000-0010-8000-00AA00389B71}"),
    ("WMV2", "{32564D57-0000-0010-8000-00AA00389B71}"),
]


def audio_stream(kbps):
    bitrate, per_second, block, data = AUDIO[kbps]
    return ("streamconfig", [("majortype", "{73647561-0000-0010-8000-00AA00389B71}"), ("streamnumber", "1"),
                             ("streamname", "Audio Stream"), ("inputname", "Audio409"), ("bitrate", str(bitrate)),
                             ("bufferwindow", "-1"), ("reliabletransport", "0"), ("decodercomplexity", ""),
                             ("rfc1766langid", "en-us")],
            [("wmmediatype", [("subtype", "{00000161-0000-0010-8000-00AA00389B71}"), ("bfixedsizesamples", "1"),
                              ("btemporalcompression", "0"), ("lsamplesize", str(block))],
              [("waveformatex", [("wFormatTag", "353"), ("nChannels", "2"), ("nSamplesPerSec", "44100"),
                                 ("nAvgBytesPerSec", str(per_second)), ("nBlockAlign", str(block)),
                                 ("wBitsPerSample", "16"), ("codecdata", data)], [])])])


def video_stream(width, height, kbps, fps, codec, with_audio):
    fourcc, subtype = CODECS[codec]
    zero_rect = [("left", "0"), ("top", "0"), ("right", "0"), ("bottom", "0")]
    return ("streamconfig", [("majortype", "{73646976-0000-0010-8000-00AA00389B71}"),
                             ("streamnumber", "2" if with_audio else "1"), ("streamname", "Video Stream"),
                             ("inputname", "Video409"), ("bitrate", str(kbps * 1000)),
                             ("bufferwindow", "5000" if with_audio else "-1"), ("reliabletransport", "0"),
                             ("decodercomplexity", "" if with_audio else "AU"), ("rfc1766langid", "en-us")],
            [("videomediaprops", [("maxkeyframespacing", "100000000" if with_audio else "80000000"),
                                  ("quality", "80")], []),
             ("wmmediatype", [("subtype", subtype), ("bfixedsizesamples", "0"), ("btemporalcompression", "1"),
                              ("lsamplesize", "0")],
              [("videoinfoheader", [("dwbitrate", str(kbps * 1000)), ("dwbiterrorrate", "0"),
                                    ("avgtimeperframe", str(10000000 // fps))],
                [("rcsource", zero_rect, []), ("rctarget", zero_rect, []),
                 ("bitmapinfoheader", [("biwidth", str(width)), ("biheight", str(height)), ("biplanes", "1"),
                                       ("bibitcount", "24"), ("bicompression", fourcc), ("bisizeimage", "0"),
                                       ("bixpelspermeter", "0"), ("biypelspermeter", "0"), ("biclrused", "0"),
                                       ("biclrimportant", "0")], [])])])])


def profile(description, streams):
    return ("profile", [("version", "589824"), ("storageformat", "1"), ("name", "Parv Profile"),
                        ("description", description)], streams)


def tree(element):
    return (element.tag, list(element.attrib.items()), [tree(child) for child in element])


def expected(name):
    kind, value = name.split("-")
    if kind == "video":
        return profile("Streams: 1 video", [video_stream(640, 480, 1000, 15, int(value), False)])
    if kind == "audio":
        return profile("Streams: 1 audio", [audio_stream(int(value))])
    return profile("Streams: 1 audio 1 video",
                   [audio_stream(int(value)), video_stream(1024, 768, 2500, 30, 0, True)])


def main():
    folder = sys.argv[1]
    failed = 0
    names = sorted(f[:-4] for f in os.listdir(folder) if f.endswith(".prx"))
    for name in names:
        data = open(os.path.join(folder, name + ".prx"), "rb").read()
        problems = []
        if len(data) != 20000:
            problems.append("size %d" % len(data))
        if data[:2] in (b"\xff\xfe", b"\xfe\xff"):
            problems.append("byte-order mark")
        text = data.decode("utf-16-le").split("\0", 1)[0]
        got = tree(ET.fromstring(text))
        if got != expected(name):
            problems.append("layout differs:\n  got      %s\n  expected %s" % (got, expected(name)))
        for p in problems:
            print("%s: %s" % (name, p))
        failed += bool(problems)
    print("%d profiles checked, %d differ" % (len(names), failed))
    return 1 if failed or len(names) != 16 else 0


if __name__ == "__main__":
    sys.exit(main())
