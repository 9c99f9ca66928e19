#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target: fuzz/corpus/<target>/<case>.

Each seed is a valid input in the layout its target reads (see the comment at the top of each
target): well-formed UAIL answers and requests with their checksums, HART frames with their
checksums, scenario texts, INI and project files, and a small workbook. The fuzzer starts from
these instead of from nothing, so a short CI run already reaches the deeper paths.

usage: fuzz/corpus/make_seeds.py   (rewrites the folders; run from anywhere)
"""
import io
import os
import shutil
import struct
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def crc16(data):
    """The UAIL checksum: CRC-16 with the reflected polynomial 0xA001, start 0xFFFF (MODBUS)."""
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def uail_answer(body):
    body = body.encode("cp1251")
    return b"!" + body + str(crc16(body)).encode() + b"\r"


def uail_request(payload):
    payload = payload.encode("cp1251")
    return b"\xff:" + payload + str(crc16(payload)).encode() + b"\r"


def hex_float(v):
    """A float as the calibrator sends it: its four bytes, least significant first, in hex."""
    return struct.pack("<f", v).hex().upper()


def hart_answer(command, data, long_address=True, address=b"\xa6\x06\x01\x02\x03", status=(0, 0)):
    head = bytes([0x86]) + address if long_address else bytes([0x06, address[0]])
    body = head + bytes([command, len(data) + 2, status[0], status[1]]) + bytes(data)
    checksum = 0
    for b in body:
        checksum ^= b
    return b"\xff" * 5 + body + bytes([checksum])


def hart_request(command, data=b"", long_address=None, poll=0):
    """A master's request: short address (polling) or the device's long address."""
    if long_address is None:
        head = bytes([0x02, 0x80 | poll])
    else:
        head = bytes([0x82]) + long_address
    body = head + bytes([command, len(data)]) + bytes(data)
    checksum = 0
    for b in body:
        checksum ^= b
    return b"\xff" * 5 + body + bytes([checksum])


# Answer texts of a Quarn / Brenk calibrator and its Kesto module (address, fields).
QUARN_MEASURING = "1;0000C842;100.00;99.50;0.05;5;"
BRENK_MEASURING = "1;0000C842;0000CA42;"
QUARN_SETTINGS = "1;0;0;1;0;3;5;0000A040;"
BRENK_SETTINGS = "1;1;0;3;1;5;0;0000C842;CDCC4C3D;CDCCCC3D;"
IDENTIFICATION = "1;Q1-004711;15.03.2024;0000BEC2;00401C45;"
QUARN_VERSION = "1;2;15;QC-2500;1;3;"
BRENK_VERSION = "1;3;7;250;"
DORV_INFO = "1;1;2;-100.5;2500000.0;52311;"
KESTO_CURRENTS = "3;" + "".join(hex_float(v) for v in (4.0, 12.0, 20.0, 8.0)) + ";"
DONE = "1;$0;"


def command0_rev7():
    return bytes([254, 0x26, 0x06, 5, 7, 3, 2, 0xA9, 0x01, 0x12, 0x34, 0x56,
                  8, 4, 0x01, 0x07, 0x02, 0x00, 0x26, 0x12, 0x34, 0x01])


def command0_rev5():
    return bytes([254, 0x26, 0x06, 5, 5, 3, 2, 0xA9, 0x01, 0x12, 0x34, 0x56])


def hart_answers():
    pv = bytes([12]) + struct.pack(">f", 300.0)
    # Command 3: the loop current, then unit and value of the four dynamic variables.
    currents = struct.pack(">f", 12.0)
    for unit, value in ((12, 300.0), (32, 21.5), (250, 0.0), (250, 0.0)):
        currents += bytes([unit]) + struct.pack(">f", value)
    range_info = bytes([0, 0, 12]) + struct.pack(">fff", 600.0, 0.0, 0.5) + bytes([0, 0, 250])
    return {
        "command0_rev7": hart_answer(0, command0_rev7()),
        "command0_rev5_short": hart_answer(0, command0_rev5(), long_address=False, address=b"\x80"),
        "command1_pv": hart_answer(1, pv),
        "command3_currents": hart_answer(3, currents),
        "command15_range": hart_answer(15, range_info),
        "command13_tag": hart_answer(13, bytes([0x51, 0x04, 0x20, 0x82, 0x08, 0x20]) + bytes(12) + bytes([1, 1, 124])),
        "busy": hart_answer(1, b"", status=(32, 0)),
        "error_response": hart_answer(35, b"", status=(9, 0)),
    }


def seeds():
    out = {}

    # UAIL field readers: [k as int8][destination size % 24][answer text].
    out["fuzz_uail_fields"] = {
        "measuring_field1": bytes([1, 20]) + QUARN_MEASURING.encode(),
        "measuring_field3_short": bytes([3, 6]) + QUARN_MEASURING.encode(),
        "identification_field1": bytes([1, 20]) + IDENTIFICATION.encode(),
        "settings_field7": bytes([7, 12]) + QUARN_SETTINGS.encode(),
        "kesto_currents": bytes([1, 20]) + KESTO_CURRENTS.encode(),
        "error_answer": bytes([1, 20]) + DONE.encode(),
        "leading_separator": bytes([0, 20]) + b";abc;def;",
    }

    # The calibrator's line: whole answers, one after the other, and a segment the target frames itself.
    out["fuzz_uail_receiver"] = {
        "quarn_measuring": uail_answer(QUARN_MEASURING),
        "brenk_measuring": uail_answer(BRENK_MEASURING),
        "identification_and_version": uail_answer(IDENTIFICATION) + uail_answer(QUARN_VERSION),
        "noise_then_answer": b"\x00\x13garbage\r" + uail_answer(QUARN_SETTINGS),
        "error_answer": uail_answer(DONE),
        "kesto_currents": uail_answer(KESTO_CURRENTS),
        "framed_by_target": b"\x00\x01" + BRENK_SETTINGS.encode(),
    }

    # Calibrator answers: [selector][bytes]. Selector bit 7: Quarn; the low 7 bits pick a text
    # converter (0..3) or, from 4 on, step (n % 21) of the target's list, reading from the Dorv
    # port when n is odd; bit 3 is the Kesto data flag.
    steps = [
        ("measuring", QUARN_MEASURING, BRENK_MEASURING, False),
        ("measuring_dorv_state", DORV_INFO, DORV_INFO, False),
        ("control", "1;1;0;", "1;$0;", False),
        ("control_done", DONE, DONE, False),
        ("read_settings", QUARN_SETTINGS, BRENK_SETTINGS, False),
        ("read_identification", IDENTIFICATION, IDENTIFICATION, False),
        ("read_version", QUARN_VERSION, BRENK_VERSION, False),
        ("write_settings", DONE, DONE, False),
        ("sensor_type", DONE, DONE, False),
        ("kesto_open", "3;$0;", "3;$0;", False),
        ("kesto_position", "3;$0;", "3;$0;", False),
        ("kesto_read", KESTO_CURRENTS, KESTO_CURRENTS, False),
        ("kesto_error", "3;5;", "3;5;", False),
        ("dorv_type", "0;13;", "0;81;", True),
        ("dorv_register52", "0;" + hex_float(2.5) + ";", "0;" + hex_float(2.5) + ";", True),
        ("dorv_register30", "0;2;", "0;2;", True),
        ("dorv_register139", "0;0F270000;", "0;0F270000;", True),
        ("dorv_pressure", "0;250.0;", "0;0.25;", True),
        ("dorv_info", DORV_INFO, DORV_INFO, False),
        ("identify", "1;105;", "1;84;", False),
        ("found", "1;105;", "1;84;", False),
    ]
    calibrator = {
        "quarn_settings_text": bytes([0x80]) + b"0;0;1;1;3;5;0000A040;",
        "brenk_settings_text": bytes([0x00]) + b"1;0;2;1;7;1;00007A43;CDCC4C3D;CDCCCC3D",
        "identification_text": bytes([0x81]) + b"Q1-004711;15.03.2024;0000BEC2;00401C45;",
        "quarn_version_text": bytes([0x82]) + b"2;15;QC-2500;1;3;",
        "brenk_version_text": bytes([0x02]) + b"3;7;250;",
        "dorv_info_text": bytes([0x83]) + b"1;2;-100.5;2500000.0;52311;",
    }
    for index, (name, quarn, brenk, dorv_port) in enumerate(steps):
        n = next(v for v in range(4, 128) if v % 21 == index and (v & 1) == (1 if dorv_port else 0))
        calibrator[f"step_{name}_quarn"] = bytes([0x80 | n]) + uail_answer(quarn)
        calibrator[f"step_{name}_brenk"] = bytes([n]) + uail_answer(brenk)
    out["fuzz_calibrator_answers"] = calibrator

    # HART answers, whole (the frame parser) and as a byte stream (the byte-wise receiver).
    answers = hart_answers()
    out["fuzz_hart_deform"] = dict(answers)
    out["fuzz_hart_rxchar"] = {
        "command0_then_command1": answers["command0_rev7"] + answers["command1_pv"],
        "command3": answers["command3_currents"],
        "short_address": answers["command0_rev5_short"],
        "noise_then_range": b"\x13\x00\xff" + answers["command15_range"],
    }

    # HART tables: [table as int32][code as uint32][text].
    def text_seed(table, code, text):
        return struct.pack("<iI", table, code) + text.encode("cp1251")

    out["fuzz_hart_text"] = {
        "units_kpa": text_seed(2, 12, "кПа"),
        "transfer_function": text_seed(3, 0, "Линейная"),
        "response_code": text_seed(1, (35 << 8) | 16, "PT-101"),
        "packed_tag": text_seed(2, 237, "TAG12345"),
        "message": text_seed(2, 5, "PRESSURE TRANSMITTER 01 "),
    }

    # The simulated bench: [model][operations]. An operation byte: bit 0 the line (calibrator / Dorv),
    # bits 1..3 the kind, bits 4..7 its argument (kind 6: a request of arg + 1 payload bytes; kind 7:
    # one second passes; kind 4: a read).
    def request_op(payload, line=0):
        p = payload.encode()
        assert 1 <= len(p) <= 16
        return bytes([((len(p) - 1) << 4) | (6 << 1) | line]) + p

    def raw_op(data, line=0):
        assert 1 <= len(data) <= 16
        return bytes([((len(data) - 1) << 4) | line]) + data

    second, read = bytes([7 << 1]), bytes([4 << 1])
    out["fuzz_sim_engine"] = {
        "quarn_identify_measure": b"\x00" + request_op("1;0;") + second + read + request_op("1;1;") + second + read,
        "brenk_settings": b"\x01" + request_op("1;16;") + second + read + request_op("1;9;") + second + read,
        "kesto_read": b"\x00" + request_op("3;0;") + second + read + request_op("3;1;") + second + read,
        "dorv_line": b"\x00" + request_op("0;0;", line=1) + bytes([(7 << 1) | 1, (4 << 1) | 1]),
        "raw_request_frame": b"\x00" + raw_op(uail_request("1;0;")) + second + read,
        "line_settings_and_purge": b"\x00" + bytes([0x40 | (1 << 1), (2 << 1)]) + request_op("1;11;") + second + read,
    }

    out["fuzz_sim_scenario"] = {
        "documented": (
            "model = quarn\nseed = 7\nturnaround_ms = 20-80\nunits = 0\ndecimals = 3\nnoise_kpa = 0.002\n"
            "source_kpa = 650\noperator.points = 0, 150, 300, 450, 600\noperator.dwell_s = 10\n"
            "channel.1.range = 0, 600\nchannel.2.output = 20-4\nchannel.3.error_percent = 0.3\n"
            "channel.4.present = 0\nswitch.1 = 100, 5\nswitch.2 = 200, 10, opens\n"
            "fault = kesto silent after=20\n").encode(),
        "brenk_with_dorv": (
            "model = brenk\n# the transducer on its own line\ndorv.fitted = 1\ndorv.type = 13\ndorv.range = 0, 2500\n"
            "version = 3.7\nserial = B-77\n").encode(),
        "faults": (
            "fault = calibrator late 500 cmd=1 count=2\nfault = any badcrc prob=0.5\n"
            "fault = calibrator disconnect at_ms=1000 for_ms=500\nfault = calibrator error 5 after=3\n").encode(),
        "channels": (
            "channels = 2\nchannel.1.revision = 5\nchannel.1.tag = PT-1\nchannel.2.function = sqrt\n"
            "channel.2.hart_error = 35:9\nkesto.status.1 = auto\n").encode(),
    }

    # The transmitters' HART line. Bit 7 of the first byte: records [channel, command, length, data];
    # otherwise raw chunks whose length (low 6 bits + 1) comes first.
    structured = bytearray([0x80])
    for channel, command, data in ((0, 0, b""), (1, 1, b""), (2, 3, b""), (3, 13, b""), (0, 15, b""),
                                   (1, 35, bytes([12]) + struct.pack(">ff", 600.0, 0.0)),
                                   (2, 40, struct.pack(">f", 12.0)), (0, 45, struct.pack(">f", 12.01)),
                                   (3, 6, bytes([3])), (1, 48, b"")):
        structured += bytes([channel, command, len(data)]) + data
    poll = hart_request(0)
    out["fuzz_simhart_line"] = {
        "structured_commands": bytes(structured),
        "structured_write_message": bytes([0x81, 0, 17, 24]) + bytes(24),
        "raw_polling": bytes([0x01, len(poll) - 1]) + poll,
        "raw_split_request": bytes([0x00, 4]) + poll[:5] + bytes([len(poll) - 6]) + poll[5:],
    }

    # Data files.
    ini = "[Раздел]\r\nКлюч=значение\r\nчисло=1.25\r\n\r\n[Second]\r\nflag=1\r\nempty=\r\n"
    out["fuzz_data_ini"] = {
        "windows1251": ini.encode("cp1251"),
        "utf8_bom": b"\xef\xbb\xbf" + ini.encode("utf-8"),
        "utf16le_bom": b"\xff\xfe" + ini.encode("utf-16-le"),
        "memo": "[S]\r\nmemo=строка 1\\nстрока 2\r\nvalue=-0.0\r\n".encode("cp1251"),
    }
    with open(os.path.join(ROOT, "examples", "demo.aip"), "rb") as f:
        demo = f.read()
    # The demo project up to its sixth point section: every header section, the four channels, five
    # points. As it is, a saved project cut off (refused); with a key of the screen's section and of a
    # channel left out, a hand-made file that loads.
    head = demo[: demo.index(b"[Points_set_0_point_6]")]
    hand_made = head.replace(b"ed_IVTM_SN=\r\n", b"").replace(b"tDamp=0\r\n", b"", 1)
    out["fuzz_data_project"] = {
        "demo_head_cut": head,
        "hand_made": hand_made,
        "channel_only": demo[demo.index(b"[Device_ch_0]"): demo.index(b"[Device_ch_1]")],
        "edited_checksum": hand_made[: hand_made.index(b"[Points_set_0_point_1]")]
        + b"[ProjectChecksum]\r\ncrc32=0BADF00D\r\n",
    }

    # The workstation settings file and the measurement-method list.
    settings = (
        "[MainForm]\r\nLeft=120\r\nTop=80\r\nWidth=1100\r\nHeight=778\r\n\r\n"
        "[Path]\r\nProjectFileName=/home/оператор/Проекты/демо.aip\r\n\r\n"
        "[_FormMain_COMselect_]\r\nmenuAll_item=0\r\nCOM1=0\r\nCOM7=1\r\n\r\n"
        "[_FormMain_menuExtDorv_port_]\r\nCOM3=1\r\n")
    out["fuzz_data_settings"] = {
        "workstation": settings.encode("cp1251"),
        "utf8": settings.encode("utf-8"),
        "first_start": b"",
    }
    methods = "[MP_list]\r\n" + "".join(
        f"device_{i}={d}\r\ndoc_{i}={m}\r\n"
        for i, (d, m) in enumerate([("Преобразователь давления", "МИ 1997-89"),
                                    (" Датчик давления Метран-150 ", "МП 4212-012-2013"),
                                    ("", "без прибора")]))
    out["fuzz_data_methods"] = {
        "rows": "Датчик давления\n".encode("cp1251") + methods.encode("cp1251"),
        "no_match": b"X\n" + methods.encode("cp1251"),
    }

    # The calibrator catalogues: "<model text>\n<document>"; the shipped files and small variants.
    catalogs = os.path.join(ROOT, "lab", "catalogs")

    def catalogue(name):
        with open(os.path.join(catalogs, name), "rb") as f:
            return f.read()

    out["fuzz_data_catalogue"] = {
        "quarn_models": b"QC-2500\n" + catalogue("Models_Quarn.xml"),
        "brenk_models": b"025\n" + catalogue("Models_Brenk.xml"),
        "errors": b"\n" + catalogue("Errors.xml"),
        "cyrillic_name": "КД-100\n".encode() + '<?xml version="1.0" encoding="windows-1251"?><Models><Model>'
        "<Model_name>КД-100</Model_name><VpCont>+2</VpCont><sens_1><G_1> 2.5e3 </G_1></sens_1>"
        "</Model></Models>".encode("cp1251"),
        "utf16": b"X\n" + "<Models><Model><Model_name>X</Model_name><sens_2><A_1>50</A_1></sens_2>"
        "</Model></Models>".encode("utf-16"),
    }

    # The report assembly: flags (enabled channels, calibration, periodic), decimals, unit, unit
    # factor, record count; each enabled channel's record; the header texts and the reference list;
    # the result records; then "name=text" lines (placeholder, method row, in turn).
    def channel(sn, unit="кПа", el_unit="мА", err=0.5, lo=0.0, hi=600.0, signal=0):
        return struct.pack("<i40s40s40s40s120sffiffff20sf4sf4s20sif", 1, "Датчик давления".encode("cp1251"),
                           b"DD-600", sn.encode(), b"INV-1", "Лаборатория".encode("cp1251"), err, 0.0, 0,
                           lo, lo, hi, hi, unit.encode("cp1251"), 4.0, b"", 20.0, b"", el_unit.encode("cp1251"),
                           signal, 1.0)

    def result(pref, err):
        return struct.pack("<If", 1, pref) + struct.pack("<6f", 12.0, 12.0, pref, pref, err, 0.05) * 4

    def header(aux):
        texts = b"20".ljust(8, b"\0") + b"50".ljust(8, b"\0") + b"750".ljust(8, b"\0")
        texts += b"7/2024".ljust(20, b"\0") + b"01.02.2024".ljust(20, b"\0")
        return texts + bytes([len(aux)]) + aux

    def assembly(flags, channels, records, lines, digits=3, units=0):
        return (bytes([flags, digits, units]) + struct.pack("<f", 1.0) + bytes([len(records)])
                + b"".join(channels) + header("Барометр БАММ-1".encode("cp1251")) + b"".join(records)
                + "\n".join(lines).encode())

    points = [result(p, 0.01 * i) for i, p in enumerate((0.0, 150.0, 300.0, 450.0, 600.0))]
    out["fuzz_report_assembly"] = {
        "one_channel": assembly(0x01, [channel("1001")], points[:3],
                                ["amp_CD_ORG=ЦСМ", "Датчик давления=МИ 1997-89"]),
        "four_channels_periodic": assembly(0x2F, [channel(str(1001 + c)) for c in range(4)], points,
                                           ["amp_CD_TEMP=20", "Датчик=МИ", "amp_CD_ADDRESS=г. Тверь,\nул. 1"]),
        "calibration_voltage": assembly(0x12, [channel("77", el_unit="В", signal=4, hi=10.0)], points[:2],
                                        ["CD_DATE=01.01.2025"], digits=250, units=200),
        "no_channel": assembly(0x00, [], [], []),
    }

    # The workbook filler: [what % 4][bytes]. 0 a whole package, 1 a worksheet, 2 the workbook part,
    # 3 a formula.
    out["fuzz_xlsxgen_workbook"] = {
        "package": b"\x00" + small_workbook(),
        "worksheet": b"\x01" + (
            '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><dimension ref="A1:C3"/>'
            '<sheetData><row r="2"><c r="A2" t="inlineStr"><is><t>&amp;T1</t></is></c><c r="B2">'
            "<f>SUM(A2:A2)+'&amp;SH'!$B$9</f></c></row></sheetData>"
            '<mergeCells count="1"><mergeCell ref="B3:C3"/></mergeCells></worksheet>').encode(),
        "workbook": b"\x02" + (
            '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
            'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>'
            '<sheet name="&amp;SH" sheetId="1" r:id="rId1"/><sheet name="&amp;HIDE" sheetId="2" r:id="rId2"/>'
            '</sheets><definedNames><definedName name="_xlnm.Print_Area" localSheetId="0">'
            "'&amp;SH'!$A$1:$E$9</definedName></definedNames></workbook>").encode(),
        "formula": b"\x03" + b"SUM(A1:B3)*$C$2+'&SH'!D4+Other!$E5",
    }
    return out


def small_workbook():
    """A one-sheet package with a marker, a table row marker and a formula, written by hand."""
    parts = {
        "[Content_Types].xml": (
            '<?xml version="1.0" encoding="UTF-8"?><Types '
            'xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
            '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
            '<Default Extension="xml" ContentType="application/xml"/>'
            '<Override PartName="/xl/workbook.xml" '
            'ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
            '<Override PartName="/xl/worksheets/sheet1.xml" '
            'ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
            '</Types>'),
        "_rels/.rels": (
            '<?xml version="1.0" encoding="UTF-8"?><Relationships '
            'xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" '
            'Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" '
            'Target="xl/workbook.xml"/></Relationships>'),
        "xl/workbook.xml": (
            '<?xml version="1.0" encoding="UTF-8"?><workbook '
            'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
            'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>'
            '<sheet name="&amp;SH" sheetId="1" r:id="rId1"/></sheets></workbook>'),
        "xl/_rels/workbook.xml.rels": (
            '<?xml version="1.0" encoding="UTF-8"?><Relationships '
            'xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" '
            'Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" '
            'Target="worksheets/sheet1.xml"/></Relationships>'),
        "xl/worksheets/sheet1.xml": (
            '<?xml version="1.0" encoding="UTF-8"?><worksheet '
            'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><dimension ref="A1:C2"/>'
            '<sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>&amp;A</t></is></c></row>'
            '<row r="2"><c r="A2" t="inlineStr"><is><t>&amp;T1</t></is></c><c r="B2"><v>1</v></c>'
            '<c r="C2"><f>B2*2+$B$2</f></c></row></sheetData></worksheet>'),
    }
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in parts.items():
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, text.encode())
    return buffer.getvalue()


def main():
    for target, cases in seeds().items():
        folder = os.path.join(HERE, target)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for name, data in cases.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        print(f"{target}: {len(cases)} seeds")
    return 0


if __name__ == "__main__":
    sys.exit(main())
