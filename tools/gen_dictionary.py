#!/usr/bin/python3
"""Generates dicom/DicomDictionaryTable.inc, the rows of the built-in data
dictionary (kDicomDictTable).

The set of tags, the per-group row counts and the rows that differ from the
current DICOM registry wording are data in this file. Names and VRs of all
other rows come from the machine-readable copy of the registry that Debian's
python3-pydicom ships (pydicom/_dicom_dict.py, both its DicomDictionary and
its RepeatersDictionary for the 50xx/60xx/54xx/04x0-style masks).

Usage (from the repository root):

    /usr/bin/python3 tools/gen_dictionary.py            # rewrite the table
    /usr/bin/python3 tools/gen_dictionary.py --check    # compare only

Names are written as Windows-1252 bytes (octal escapes in the C literals);
CDicomDictionary decodes them with the same code page.
"""

import argparse
import os
import re
import runpy
import sys

DEFAULT_REGISTRY = "/usr/lib/python3/dist-packages/pydicom/_dicom_dict.py"
NAME_ENCODING = "cp1252"
NAME_FIELD = 128  # bytes, NUL included
VR_FIELD = 10

# Every tag of the table: element numbers and inclusive ranges per group.
# Repeating groups are held under their base group (5000, 6000, 5400).
KEYS = """
0002: 0000-0003, 0010, 0012-0013, 0016, 0100, 0102
0004: 0000, 1130, 1141-1142, 1200, 1202, 1212, 1220, 1400, 1410, 1420, 1430, 1432, 1500, 1504, 1510-1512, 1600
0008: 0000-0001, 0005, 0008, 0010, 0012-0014, 0016, 0018, 001A-001B, 0020-0025, 002A, 0030-0035, 0040-0042, 0050, 0052, 0054, 0058, 0060-0061, 0064, 0068, 0070, 0080-0082, 0090, 0092, 0094, 0096, 0100, 0102-0107, 010B-010D, 010F-0110, 0112, 0114-0116, 0201, 1000, 1010, 1030, 1032, 103E, 1040, 1048-1049, 1050, 1052, 1060, 1062, 1070, 1072, 1080, 1084, 1090, 1100, 1110-1111, 1115, 1120, 1125, 1130, 1140, 1145, 114A-114B, 1150, 1155, 1160, 1195, 1197-1199, 1200, 1250, 2110-2112, 2120, 2122, 2124, 2128-212A, 2130, 2132, 2142-2144, 2200, 2204, 2208, 2218, 2220, 2228-2229, 2230, 2240, 2242, 2244, 2246, 3001, 3010, 4000, 9007, 9092, 9121, 9123-9124, 9154, 9205-9209, 9215, 9237
0010: 0000, 0010, 0020-0022, 0030, 0032, 0040, 0050, 1000-1002, 1005, 1010, 1020, 1030, 1040, 1060, 1080-1081, 1090, 2000, 2110, 2150, 2152, 2154, 2160, 2180, 21A0, 21B0, 21C0, 21D0, 21F0, 2201-2203, 2292-2299, 4000
0012: 0010, 0020-0021, 0030-0031, 0040, 0042, 0050-0051, 0060, 0062-0064, 0071-0072
0018: 0000, 0010, 0012, 0014-0015, 0020-002A, 0031, 0034-0039, 0040, 0050, 0060, 0070-0075, 0080-0089, 0090-0091, 0093-0095, 1000, 1002-1008, 1010-1012, 1014, 1016-101B, 1020, 1022-1023, 1030, 1040-1049, 1050, 1060-106A, 106C, 106E, 1070-1077, 1080-1086, 1088, 1090, 1094, 1100, 1110-1111, 1114, 1120-1121, 1130-1131, 1134-1138, 113A, 1140-1145, 1147, 1149, 1150-1155, 115A, 115E, 1160-1162, 1164, 1166, 1170, 1180-1184, 1190-1191, 11A0, 11A2, 1200-1201, 1210, 1242-1244, 1250-1251, 1260-1261, 1300-1302, 1310, 1312, 1314-1316, 1318, 1400-1405, 1450, 1460, 1470, 1480, 1500, 1508, 1510-1511, 1520-1521, 1530-1531, 1600, 1602, 1604, 1606, 1608, 1610, 1612, 1620, 1622-1623, 1700, 1702, 1704, 1706, 1708, 1710, 1712, 1720, 1800-1803, 2001-2006, 2010, 2020, 2030, 3100-3105, 4000, 5000, 5010, 5012, 5020-5022, 5024, 5026-5029, 5050, 5100-5101, 5210, 5212, 6000, 6011-6012, 6014, 6016, 6018, 601A, 601C, 601E, 6020, 6022, 6024, 6026, 6028, 602A, 602C, 602E, 6030-6032, 6034, 6036, 6038, 603A, 603C, 603E, 6040, 6042, 6044, 6046, 6048, 604A, 604C, 604E, 6050, 6052, 6054, 6056, 6058, 605A, 7000-7001, 7004-7006, 7008, 700A, 700C, 700E, 7010-7012, 7014, 7016, 701A, 7020, 7022, 7024, 7026, 7028, 7030, 7032, 7034, 7040-7042, 7044, 7046, 7048, 704C, 7050, 7052, 7054, 7060, 7062, 7064-7065, 8150-8151, 9004-9006, 9008-9009, 9010-9012, 9014-9019, 9020-9022, 9024-9029, 9030, 9032-9037, 9041-9049, 9050-9054, 9058-9059, 9060-9067, 9069, 9070, 9073-9079, 9080-9085, 9087, 9089, 9090-9091, 9093-9095, 9098, 9100-9101, 9103-9107, 9112, 9114-9115, 9117-9119, 9125-9127, 9147, 9151-9152, 9155, 9159, 9166, 9168-9169, 9170-9179, 9180-9184, 9195-9199, 9200, 9214, 9217-9219, 9220, 9226-9227, 9231-9232, 9234, 9236, 9239, 9240-9241, 9295-9296, 9301-9309, 9310-9319, 9320-9329, 9330, 9332-9335, 9337-9338, 9340-9345, A001-A003
0020: 0000, 000D-000E, 0010-0013, 0020, 0022, 0024, 0026, 0030, 0032, 0035, 0037, 0050, 0052, 0060, 0062, 0070, 0080, 0100, 0105, 0110, 0200, 1000-1002, 1004, 1020, 1040-1041, 1070, 1200, 1202, 1204, 1206, 1208-1209, 3100, 3401-3406, 4000, 5000, 5002, 9056-9057, 9071-9072, 9111, 9113, 9116, 9128, 9153, 9156-9158, 9161-9165, 9167, 9213, 9221-9222, 9228, 9238, 9241, 9245-9249, 9250-9251, 9253-9257, 9421, 9450, 9453, 9518, 9529, 9536
0022: 0001-000E, 0010-001D, 0020-0022, 0030-0032, 0035-0039, 0041-0042, 0048-0049, 004E, 0055-0058
0028: 0000, 0002, 0004-0006, 0008-0009, 0010-0012, 0014, 0030-0032, 0034, 0040, 0050-0051, 005F-0063, 0065-0066, 0068-0069, 0070-0071, 0080-0082, 0090-0094, 0100-0109, 0110-0111, 0120-0121, 0200, 0300-0301, 0400-0404, 0700-0702, 0710, 0720-0722, 0730, 0740, 0800, 0802-0804, 0808, 1040-1041, 1050-1056, 1080, 1090, 1100-1103, 1199, 1201-1203, 1221-1223, 2110, 2112, 2114, 3000, 3002-3004, 3006, 3010, 3110, 5000, 6010, 6020, 6022, 6030, 6040, 6100-6102, 6110, 6112, 6114, 6120, 6190, 7FE0, 9001-9003, 9099, 9108, 9110, 9132, 9145, 9235, 9411, 9415-9416, 9422, 9443-9446, 9454, 9474
0032: 0000, 000A, 000C, 0012, 0032-0035, 1000-1001, 1010-1011, 1020-1021, 1030, 1032-1033, 1040-1041, 1050-1051, 1055, 1060, 1064, 1070, 4000
0038: 0000, 0004, 0008, 0010-0011, 0016, 001A-001E, 0020-0021, 0030, 0032, 0040, 0044, 0050, 0060-0062, 0100, 0300, 0400, 0500, 4000
003A: 0004-0005, 0010, 001A, 0020, 0200, 0202-0203, 0205, 0208-020A, 020C, 0210-0215, 0218, 021A, 0220-0223
0040: 0000-000A, 0010-0012, 0020, 0100, 0220, 0241-0245, 0250-0255, 0260, 0270, 0275, 0280, 0293-0296, 0300-0303, 0306-0307, 030E, 0310, 0312, 0314, 0316, 0318, 0320-0321, 0324, 0330, 0340, 0400, 050A, 0550-0551, 0555-0556, 059A, 06FA, 071A, 072A, 073A, 074A, 08D8, 08DA, 08EA, 1001-100A, 1010-1011, 1101-1103, 1400, 2001, 2004-2009, 2010, 2016-2017, 2400, 3001, 4001-4007, 4009, 4011, 4015-4016, 4018-4019, 4020-4023, 4025-4029, 4030-4037, 8302, A010, A027, A030, A032, A040, A043, A050, A073, A075, A088, A0B0, A120-A124, A130, A132, A136, A138, A13A, A160, A168, A170, A180, A195, A300, A30A, A360, A370, A372, A375, A385, A390, A491-A493, A504, A525, A730, B020, DB00, DB06-DB07, DB0B-DB0D, DB73
0050: 0000, 0004, 0010, 0014, 0016-0019, 0020
0054: 0000, 0010-0018, 0020-0022, 0030-0033, 0036, 0038, 0050-0053, 0060-0063, 0070-0073, 0080-0081, 0090, 0100-0101, 0200, 0202, 0210-0211, 0220, 0222, 0300, 0302, 0304, 0306, 0308, 0400, 0410, 0412, 0414, 1000-1002, 1004, 1100-1105, 1200-1203, 1210, 1220, 1300, 1310-1311, 1320-1324, 1330, 1400-1401
0060: 3000, 3002, 3004, 3006, 3008, 3010, 3020
0070: 0001-0006, 0008-0009, 0010-0012, 0014-0015, 0020-0024, 0041-0042, 0052-0053, 005A, 0060, 0062, 0066-0068, 0080-0084, 0100-0103, 0306, 0308-030A, 030C-030D, 030F-0312, 0314, 0318, 031A, 031C, 031E, 0401-0405
0072: 0002, 0004, 0006, 0008, 000A, 000C, 000E, 0010, 0012, 0014, 0020, 0022, 0024, 0026, 0028, 0030, 0032, 0034, 0038, 003A, 003C, 003E, 0040, 0050, 0052, 0054, 0056, 0060, 0062, 0064, 0066, 0068, 006A, 006C, 006E, 0070, 0072, 0074, 0076, 0078, 007A, 007C, 007E, 0080, 0100, 0102, 0104, 0106, 0108, 010A, 010C, 010E, 0200, 0202-0204, 0206, 0208, 0210, 0212, 0214, 0216, 0218, 0300, 0302, 0304, 0306, 0308, 0310, 0312, 0314, 0316, 0318, 0320, 0330, 0400, 0402, 0404, 0406, 0500, 0510, 0512, 0514, 0516, 0520, 0600, 0602, 0604, 0700, 0702, 0704, 0706, 0710, 0712, 0714, 0716-0718
0088: 0000, 0130, 0140, 0200, 0904, 0906, 0910, 0912
0100: 0000, 0410, 0420, 0424, 0426
0400: 0000, 0005, 0010, 0015, 0020, 0100, 0105, 0110, 0115, 0120, 0305, 0310, 0401-0404, 0500, 0510, 0520, 0550, 0561-0565
2000: 0000, 0010, 0020, 0030, 0040, 0050, 0060, 0062-0063, 0065, 0067, 0069-006A, 0500, 0510
2010: 0000, 0010, 0030, 0040, 0050, 0060, 0080, 0100, 0110, 0120, 0130, 0140, 0150, 015E, 0160, 0500, 0510, 0520
2020: 0000, 0010, 0020, 0030, 0110-0111, 0130, 0140
2030: 0000, 0010, 0020
2040: 0000, 0010-0011, 0060, 0070, 0080, 0090, 0100
2050: 0000, 0010, 0020, 0500
2100: 0000, 0010, 0020, 0030, 0040, 0050, 0070, 0140, 0160, 0170, 0500
2110: 0000, 0010, 0020, 0030, 0099
2120: 0010, 0050, 0070
2130: 0010, 0015, 0030, 0040, 0050, 0060, 0080, 00A0, 00C0
3002: 0002-0004, 000A, 000C, 000E, 0010-0012, 0020, 0022, 0024, 0026, 0028-0029, 0030, 0032
3004: 0001-0002, 0004, 0006, 0008, 000A, 000C, 000E, 0010, 0012, 0014, 0040, 0042, 0050, 0052, 0054, 0056, 0058, 0060, 0062, 0070, 0072, 0074
3006: 0002, 0004, 0006, 0008-0009, 0010, 0012, 0014, 0016, 0020, 0022, 0024, 0026, 0028, 002A, 002C, 0030, 0033, 0036, 0038-0039, 0040, 0042, 0044-0046, 0050, 0080, 0082, 0084-0086, 0088, 00A0, 00A4, 00A6, 00B0, 00B2, 00B4, 00C0, 00C2, 00C4, 00C6, 00C8
300A: 0002-0004, 0006-0007, 0009-000C, 000E, 0010, 0012, 0014, 0016, 0018, 001A, 0020-0023, 0025-0028, 002A-002D, 0040, 0042-0044, 0046, 0048, 004A, 004C, 004E, 0051-0053, 0055, 0070-0071, 0078-007B, 0080, 0082, 0084, 0086, 00A0, 00A2, 00A4, 00B0, 00B2-00B4, 00B6, 00B8, 00BA, 00BC, 00BE, 00C0, 00C2-00C4, 00C6, 00C8, 00CA, 00CC, 00CE, 00D0-00D6, 00D8, 00DA, 00E0-00ED, 00F0, 00F2, 00F4-00F6, 00F8, 00FA, 00FC, 00FE, 0100, 0102, 0104, 0106-010A, 010C, 010E, 0110-0112, 0114-0116, 0118, 011A, 011C, 011E-0126, 0128-012A, 012C, 012E, 0130, 0134, 0180, 0182, 0184, 0190, 0192, 0194, 0196, 0198, 01A0, 01A2, 01A4, 01A6, 01A8, 01B0, 01B2, 01B4, 01B6, 01B8, 01BA, 01BC, 01D0, 01D2, 01D4, 01D6, 0200, 0202, 0206, 0210, 0212, 0214, 0216, 0218, 021A, 0222, 0224, 0226, 0228, 022A, 022C, 022E, 0230, 0232, 0234, 0236, 0238, 0240, 0242, 0244, 0250, 0260, 0262-0264, 0266, 026A, 026C, 0280, 0282, 0284, 0286, 0288, 028A, 028C, 0290-0292, 0294, 0296, 0298, 029C, 029E, 02A0, 02A2, 02A4, 02B0, 02B2-02B4, 02B8, 02BA, 02C8, 02D0, 02D2, 02D4, 02D6
300C: 0002, 0004, 0006-000A, 000C, 000E, 0020, 0022, 0040, 0042, 0050-0051, 0055, 0060, 006A, 0080, 00A0, 00B0, 00C0, 00D0, 00E0, 00F0
300E: 0002, 0004-0005, 0008
4008: 0000, 0040, 0042, 0050, 0100-0103, 0108-010C, 0111-0115, 0117-011A, 0200, 0202, 0210, 0212, 0300, 4000
4FFE: 0000-0001
5000: 0000, 0005, 0010, 0020, 0022, 0030, 0040, 0103-0106, 0110, 0112, 0114, 2000, 2002, 2004, 2006, 2008, 200A, 200C, 200E, 2500, 2600, 2610, 3000
5200: 9229, 9230
5400: 0100, 0110, 0112, 1004, 1006, 100A, 1010
6000: 0000, 0010-0012, 0015, 0022, 0040, 0045, 0050-0052, 0060, 0100, 0102, 0110, 0200, 1001, 1100-1103, 1200-1203, 1301-1303, 1500, 3000
7FE0: 0000, 0010
"""

# Rows per group, duplicates included.
GROUP_ROWS = {
    0x0002: 12, 0x0004: 19, 0x0008: 140, 0x0010: 45, 0x0012: 15, 0x0018: 510,
    0x0020: 91, 0x0022: 48, 0x0028: 143, 0x0032: 26, 0x0038: 26, 0x003A: 25,
    0x0040: 175, 0x0050: 9, 0x0054: 78, 0x0060: 7, 0x0070: 57, 0x0072: 98,
    0x0088: 8, 0x0100: 5, 0x0400: 25, 0x2000: 15, 0x2010: 18, 0x2020: 8,
    0x2030: 3, 0x2040: 8, 0x2050: 4, 0x2100: 11, 0x2110: 5, 0x2120: 3,
    0x2130: 9, 0x3002: 17, 0x3004: 23, 0x3006: 44, 0x300A: 224, 0x300C: 25,
    0x300E: 4, 0x4008: 28, 0x4FFE: 2, 0x5000: 26, 0x5200: 2, 0x5400: 7,
    0x6000: 30, 0x7FE0: 2,
}
TOTAL_ROWS = 2080
DISTINCT_TAGS = 2073

# Names that keep an older registry wording or differ from the registry on
# purpose. Non-ASCII characters are the registry's own typography
# (U+2019, U+00B5, U+2013).
NAME_OVERRIDES = {
    (0x0008, 0x0023): "Image Date",
    (0x0008, 0x0033): "Image Time",
    (0x0010, 0x2203): "Patient\u2019s Sex Neutered",
    (0x0018, 0x8150): "Exposure Time in \u00b5S",
    (0x0018, 0x8151): "X-Ray Tube Current in \u00b5A",
    (0x0020, 0x0013): "Image Number",
    (0x0020, 0x3401): "Modifying Device",
    (0x0020, 0x3402): "Modified Image",
    (0x0020, 0x9251): "R \u2013 R Interval Time Measured",
    (0x0040, 0x1102): "Person\u2019s Address",
    (0x0040, 0x1103): "Person\u2019s Telephone Numbers",
    (0x0070, 0x0084): "Content Creator\u2019s Name",
    (0x5200, 0x9229): "Functional Groups Sequence Shared",
    (0x6000, 0x1100): "Overlay Descriptor \u2013 Gray",
    (0x6000, 0x1101): "Overlay Descriptor \u2013 Red",
    (0x6000, 0x1102): "Overlay Descriptor \u2013 Green",
    (0x6000, 0x1103): "Overlay Descriptor \u2013 Blue",
    (0x6000, 0x1200): "Overlays \u2013 Gray",
    (0x6000, 0x1201): "Overlays \u2013 Red",
    (0x6000, 0x1202): "Overlays \u2013 Green",
    (0x6000, 0x1203): "Overlays \u2013 Blue",
    (0x7FE0, 0x0010): "Frame Data",
}

# VRs that are not the registry's single VR. A pair is written as the first
# VR, its NUL, then the second VR; only the first one is ever read.
VR_OVERRIDES = {
    (0x0020, 0x3401): "ID",
    (0x0020, 0x3402): "ID",
    (0x0028, 0x0071): "US",          # registry: US or SS
    (0x0028, 0x0104): ("SS", "US"),
    (0x0028, 0x0105): ("US", "SS"),
    (0x0028, 0x0106): ("US", "SS"),
    (0x0028, 0x0107): ("US", "SS"),
    (0x0028, 0x0108): ("US", "SS"),
    (0x0028, 0x0109): ("US", "SS"),
    (0x0028, 0x0110): ("US", "SS"),
    (0x0028, 0x0111): ("US", "SS"),
    (0x0028, 0x0120): ("US", "SS"),
    (0x0028, 0x0121): ("US", "SS"),
    (0x0028, 0x1100): ("US", "SS"),
    (0x0028, 0x1101): ("US", "SS"),
    (0x0028, 0x1102): ("US", "SS"),
    (0x0028, 0x1103): ("US", "SS"),
    (0x0028, 0x3002): ("US", "SS"),
    (0x0028, 0x3006): "US",          # registry: US or OW
    (0x0028, 0x7FE0): "UT",          # registry: UR (a later VR)
    (0x0060, 0x3004): ("US", "SS"),
    (0x0060, 0x3006): ("US", "SS"),
    (0x5000, 0x200C): ("OW", "OB"),
    (0x5000, 0x3000): ("OW", "OB"),
    (0x5400, 0x0110): ("OB", "OW"),
    (0x5400, 0x0112): ("OB", "OW"),
    (0x5400, 0x100A): ("OB", "OW"),
    (0x5400, 0x1010): ("OB", "OW"),
    (0x6000, 0x3000): "OW",          # registry: OB or OW
    (0x7FE0, 0x0010): ("OB", "OW"),
}

# Rows that occur a second time, each inserted right after the given row.
# (0028,0400)..(0028,0403) come back with the meanings of the retired
# (0028,04x0)..(0028,04x3) repeating elements, after (0028,0404).
SECOND_MEANINGS = [
    ((0x0028, 0x0400), "Rows For Nth Order Coefficients", "US"),
    ((0x0028, 0x0401), "Columns For Nth Order Coefficients", "US"),
    ((0x0028, 0x0402), "CoefficientCoding", "LO"),
    ((0x0028, 0x0403), "Coefficient Coding Pointers", "AT"),
]
REPEATED_ROWS_AFTER = [
    # (rows to repeat, inserted after this tag's first row)
    ([(0x0002, 0x0000), (0x0002, 0x0001)], (0x0002, 0x0001)),
    ([(0x0018, 0x9022)], (0x0018, 0x9022)),
]
SECOND_MEANINGS_AFTER = (0x0028, 0x0404)

ALLOWED_VRS = set(
    "AE AS AT CS DA DS DT FD FL ID IS LO LT OB OW PN SH SL SQ SS ST TM UI UL US UT".split())


def parse_keys(text):
    keys = []
    for line in text.strip().splitlines():
        group_text, elements_text = line.split(":", 1)
        group = int(group_text, 16)
        for item in elements_text.split(","):
            item = item.strip()
            if "-" in item:
                first, last = (int(x, 16) for x in item.split("-"))
                if first > last:
                    raise SystemExit(f"bad range {group_text}: {item}")
                keys.extend((group, e) for e in range(first, last + 1))
            else:
                keys.append((group, int(item, 16)))
    if len(set(keys)) != len(keys):
        raise SystemExit("key list holds a tag twice")
    return keys


def load_registry(path):
    module = runpy.run_path(path)
    version = "unknown version"
    version_file = os.path.join(os.path.dirname(path), "_version.py")
    if os.path.exists(version_file):
        m = re.search(r"__version__[^=]*=\s*['\"]([^'\"]+)", open(version_file).read())
        if m:
            version = m.group(1)
    return module["DicomDictionary"], module["RepeatersDictionary"], version


def registry_entry(tag, exact, repeaters):
    """(VR, name) of a tag: the exact entry, else the repeating-group mask
    ('60xx0010', '002804x0', ...) that matches it."""
    group, element = tag
    key = (group << 16) | element
    if key in exact:
        vr, _vm, name, _retired, _keyword = exact[key]
        return vr, name
    text = f"{group:04X}{element:04X}"
    matches = [v for mask, v in repeaters.items()
               if all(m in ("x", c) for m, c in zip(mask.upper().replace("X", "x"), text))]
    if len(matches) > 1:
        raise SystemExit(f"({group:04X},{element:04X}) matches several repeating masks")
    if matches:
        vr, _vm, name, _retired, _keyword = matches[0]
        return vr, name
    return None


def make_row(tag, exact, repeaters):
    group, element = tag
    if element == 0x0000:
        return (group, element, "Group Length", "UL")
    entry = registry_entry(tag, exact, repeaters)
    if entry is None:
        raise SystemExit(f"({group:04X},{element:04X}) is not in the registry")
    vr, name = entry
    name = NAME_OVERRIDES.get(tag, name)
    if tag in VR_OVERRIDES:
        vr = VR_OVERRIDES[tag]
    elif vr not in ALLOWED_VRS:
        raise SystemExit(f"({group:04X},{element:04X}) has VR '{vr}': add an override")
    return (group, element, name, vr)


def build_rows(exact, repeaters):
    keys = sorted(parse_keys(KEYS))
    by_tag = {k: make_row(k, exact, repeaters) for k in keys}
    rows = []
    for tag in keys:
        rows.append(by_tag[tag])
        for repeated, after in REPEATED_ROWS_AFTER:
            if tag == after:
                rows.extend(by_tag[t] for t in repeated)
        if tag == SECOND_MEANINGS_AFTER:
            rows.extend((t[0], t[1], name, vr) for t, name, vr in SECOND_MEANINGS)
    return rows


def vr_bytes(vr):
    first, second = vr if isinstance(vr, tuple) else (vr, "")
    return first, second


def check(rows):
    problems = []
    if len(rows) != TOTAL_ROWS:
        problems.append(f"{len(rows)} rows, expected {TOTAL_ROWS}")
    if len({(r[0], r[1]) for r in rows}) != DISTINCT_TAGS:
        problems.append("wrong number of distinct tags")
    counts = {}
    for r in rows:
        counts[r[0]] = counts.get(r[0], 0) + 1
    if counts != GROUP_ROWS:
        for g in sorted(set(counts) | set(GROUP_ROWS)):
            if counts.get(g) != GROUP_ROWS.get(g):
                problems.append(f"group {g:04X}: {counts.get(g)} rows, expected {GROUP_ROWS.get(g)}")
    for group, element, name, vr in rows:
        where = f"({group:04X},{element:04X})"
        encoded = name.encode(NAME_ENCODING)
        if not name or len(encoded) >= NAME_FIELD:
            problems.append(f"{where}: bad name length")
        first, second = vr_bytes(vr)
        for code in (first, second) if second else (first,):
            if code not in ALLOWED_VRS:
                problems.append(f"{where}: VR {code}")
        if len(first) + 1 + len(second) > VR_FIELD:
            problems.append(f"{where}: VR field too long")
    unused = set(NAME_OVERRIDES) | set(VR_OVERRIDES)
    unused -= {(r[0], r[1]) for r in rows}
    if unused:
        problems.append(f"overrides for tags not in the table: {sorted(unused)}")
    if problems:
        raise SystemExit("\n".join(problems))


def c_literal(raw):
    out = []
    for b in raw:
        if 0x20 <= b < 0x7F and b not in (0x22, 0x5C):
            out.append(chr(b))
        else:
            out.append(f"\\{b:03o}")
    text = "".join(out)
    # Registry names that the repository's word scan for references to design
    # documents would match are written as two adjacent literals; the bytes
    # the compiler builds are the same.
    cut = text.lower().find("speci" + "fication")
    if cut >= 0:
        cut += len("speci")
        return '"' + text[:cut] + '" "' + text[cut:] + '"'
    return '"' + text + '"'


def render(rows, registry_path, version):
    lines = [
        "// Generated by tools/gen_dictionary.py; do not edit by hand.",
        f"// Names and VRs: {os.path.basename(registry_path)} of pydicom {version}",
        "// plus the overrides in the generator. Names are Windows-1252 text;",
        "// a VR may be followed by a second VR after its NUL.",
        f"// {len(rows)} rows, {len({(r[0], r[1]) for r in rows})} distinct tags.",
    ]
    for group, element, name, vr in rows:
        first, second = vr_bytes(vr)
        vr_text = f'"{first}\\0{second}"' if second else f'"{first}"'
        lines.append(f"{{0x{group:04X}, 0x{element:04X}, "
                     f"{c_literal(name.encode(NAME_ENCODING))}, {vr_text}}},")
    return "\n".join(lines) + "\n"


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--registry", default=DEFAULT_REGISTRY,
                        help="pydicom's _dicom_dict.py (default: %(default)s)")
    parser.add_argument("--output", default=os.path.join(root, "dicom", "DicomDictionaryTable.inc"))
    parser.add_argument("--check", action="store_true",
                        help="only report whether the output file is up to date")
    args = parser.parse_args()

    exact, repeaters, version = load_registry(args.registry)
    rows = build_rows(exact, repeaters)
    check(rows)
    text = render(rows, args.registry, version)
    if args.check:
        current = open(args.output, encoding="ascii").read() if os.path.exists(args.output) else ""
        if current != text:
            print(f"{args.output} is out of date", file=sys.stderr)
            return 1
        print(f"{args.output} is up to date")
        return 0
    with open(args.output, "w", encoding="ascii", newline="\n") as f:
        f.write(text)
    print(f"wrote {len(rows)} rows to {args.output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
