#!/usr/bin/python3
"""Writes the default protocol templates: "Протокол поверки.xlsx" for a verification and "Протокол
калибровки.xlsx" for a calibration with an as-left run.

Run with Debian's Python, which has openpyxl (python3-openpyxl):
    /usr/bin/python3 template_xml/make_template.py                  # both, in template_xml/
    /usr/bin/python3 template_xml/make_template.py OUT.xlsx         # the verification template only
    /usr/bin/python3 template_xml/make_template.py --calibration [OUT.xlsx]

The calibration template has the same sheets; each channel's protocol shows, before the as-left run's
results table, the as-found run's (table names "&AF_...", marker "&LST_AF"), the device's result as
found ("&CAL_Dn_AF_RESULT") and its trims ("&CAL_Dn_ADJ").

For each of the four channels the workbook holds four sheets, named by placeholders that the report
replaces or hides: the protocol "&DEV_SH_n", the verification certificate "&DEV_VCR_n", the notice of
unsuitability "&DEV_VER_n" and the calibration certificate "&DEV_CCR_n". Cells hold the placeholders
("&..." texts) that the report fills; the results table has one row with the table names and the
"&LST_F" marker, which the report repeats once per result record; its header row is the print title
of the sheet, so a table that runs over several pages repeats it on each.
"""
import datetime
import os
import sys
import zipfile

from openpyxl import Workbook
from openpyxl.styles import Alignment, Border, Font, Side
from openpyxl.worksheet.page import PageMargins

FIXED_TIME = datetime.datetime(2024, 1, 1, 0, 0, 0)

THIN = Side(style="thin")
BOX = Border(left=THIN, right=THIN, top=THIN, bottom=THIN)
TITLE = Font(name="Times New Roman", size=14, bold=True)
BOLD = Font(name="Times New Roman", size=11, bold=True)
PLAIN = Font(name="Times New Roman", size=11)
SMALL = Font(name="Times New Roman", size=9)
CENTER = Alignment(horizontal="center", vertical="center", wrap_text=True)
LEFT = Alignment(horizontal="left", vertical="center", wrap_text=True)

COLUMNS = 8  # A..H; the marker sits in column I, right of the table


class Sheet:
    """Writes rows from the top of a sheet, each line merged across the table's width."""

    def __init__(self, wb, name, widths):
        self.ws = wb.create_sheet(name)
        self.row = 1
        for i, w in enumerate(widths):
            self.ws.column_dimensions[chr(ord("A") + i)].width = w
        self.ws.column_dimensions["I"].width = 3
        ps = self.ws.page_setup
        ps.paperSize = self.ws.PAPERSIZE_A4
        ps.orientation = "portrait"
        ps.fitToWidth = 1
        ps.fitToHeight = 0
        self.ws.sheet_properties.pageSetUpPr.fitToPage = True
        self.ws.page_margins = PageMargins(left=0.6, right=0.4, top=0.5, bottom=0.6)
        self.ws.oddFooter.center.text = "Страница &P из &N"
        self.ws.oddFooter.center.size = 8

    def line(self, text, font=PLAIN, align=LEFT, height=None, first=1, last=COLUMNS):
        ws = self.ws
        cell = ws.cell(row=self.row, column=first, value=text)
        cell.font = font
        cell.alignment = align
        if last > first:
            ws.merge_cells(start_row=self.row, start_column=first, end_row=self.row, end_column=last)
        if height:
            ws.row_dimensions[self.row].height = height
        self.row += 1
        return cell

    def pair(self, label, value, split=3):
        ws = self.ws
        a = ws.cell(row=self.row, column=1, value=label)
        a.font = PLAIN
        a.alignment = LEFT
        ws.merge_cells(start_row=self.row, start_column=1, end_row=self.row, end_column=split)
        b = ws.cell(row=self.row, column=split + 1, value=value)
        b.font = BOLD
        b.alignment = LEFT
        ws.merge_cells(start_row=self.row, start_column=split + 1, end_row=self.row, end_column=COLUMNS)
        self.row += 1

    def gap(self, n=1):
        self.row += n

    def table(self, headers, names, font=SMALL, marker="&LST_F"):
        ws = self.ws
        for col, text in enumerate(headers, start=1):
            c = ws.cell(row=self.row, column=col, value=text)
            c.font = BOLD
            c.alignment = CENTER
            c.border = BOX
        ws.row_dimensions[self.row].height = 54
        # The header row is printed again at the top of every page a long table runs over.
        ws.print_title_rows = "%d:%d" % (self.row, self.row)
        self.row += 1
        for col, text in enumerate(names, start=1):
            c = ws.cell(row=self.row, column=col, value=text)
            c.font = font
            c.alignment = CENTER
            c.border = BOX
        ws.cell(row=self.row, column=len(names) + 1, value=marker).font = Font(size=6, color="FFFFFF")
        self.row += 1

    def signatures(self, who):
        for position, name in who:
            ws = self.ws
            a = ws.cell(row=self.row, column=1, value=position)
            a.font = PLAIN
            a.alignment = LEFT
            ws.merge_cells(start_row=self.row, start_column=1, end_row=self.row, end_column=3)
            ws.cell(row=self.row, column=4, value="_______________").alignment = CENTER
            ws.merge_cells(start_row=self.row, start_column=4, end_row=self.row, end_column=5)
            b = ws.cell(row=self.row, column=6, value=name)
            b.font = PLAIN
            ws.merge_cells(start_row=self.row, start_column=6, end_row=self.row, end_column=COLUMNS)
            self.row += 2

    def finish(self):
        # The foot of every sheet names the run's entry in the run history (number and hash), so a
        # printed protocol can be compared with the history later.
        self.gap()
        self.line("&HIST_ENTRY", SMALL, LEFT)
        self.ws.print_area = "A1:H%d" % (self.row - 1)


def header_block(s, n):
    s.line("&CD_ORG", BOLD, CENTER)
    s.line("&CD_ADDRESS", SMALL, CENTER)
    s.line("Аттестат аккредитации &CD_CRT_NUM", SMALL, CENTER)
    s.gap()


def device_block(s, n):
    d = "&D%d_" % n
    s.pair("Наименование средства измерений:", d + "NAME")
    s.pair("Тип (модель):", d + "TYPE")
    s.pair("Заводской номер:", d + "SERIAL")
    s.pair("Инвентарный номер:", d + "INV")
    s.pair("Владелец:", d + "OWNER")
    s.pair("Единица измерения давления:", d + "UNITS")
    s.pair("Выходной сигнал:", d + "SIGNAL")


def conditions_block(s):
    s.line("Условия поверки:", BOLD)
    s.line("&CD_TEMP_FULL")
    s.line("&CD_HUM_FULL")
    s.line("&CD_PRES_FULL")


def results_headers(n):
    d = "&D%d_" % n
    return [
        "Диапазон измерений, " + d + "UNITS",
        "Давление по эталону, &ET_UNIT",
        "Расчётный выходной сигнал, " + d + "SIGNAL_UNITS",
        "Измеренный выходной сигнал, " + d + "SIGNAL_UNITS",
        "Измеренное давление, " + d + "UNITS",
        "Приведённая погрешность, %",
        "Допускаемая погрешность, %",
        "Неопределённость, %",
    ]


def results_names(n, prefix="&"):
    """The table names of a run's results: "&D1_INT_I" ..., or "&AF_D1_INT_I" ... for the as-found run
    of a calibration."""
    d = prefix + "D%d_" % n
    reference = "&ET_REFF_I" if prefix == "&" else prefix + "REFF_I"
    return [d + "INT_I", reference, d + "ECSGN_I", d + "SGN_I", d + "VAL_I", d + "ACC_I", d + "ALL_ACC_I",
            d + "UNC_I"]


def protocol(wb, n, calibration=False):
    """The protocol of channel n. A calibration's shows the as-found run's table (its own marker
    "&LST_AF", which the report turns into "&LST_F" once the as-left table is filled), the device's
    result as found and its trims before the as-left run's table; its conclusion is the as-left run's."""
    d = "&D%d_" % n
    vr = "&VR_D%d_" % n
    cal = "&CAL_D%d_" % n
    # The last column is wide enough for "Неопределённость," in one piece: a header wraps between
    # words, and a word wider than its column is broken inside.
    s = Sheet(wb, "&DEV_SH_%d" % n, [16, 13, 13, 13, 13, 13, 13, 19])
    header_block(s, n)
    s.line(("ПРОТОКОЛ КАЛИБРОВКИ № " if calibration else "ПРОТОКОЛ ПОВЕРКИ № ") + d + "SH_NUM", TITLE, CENTER, 22)
    s.line("от &CD_DATE", PLAIN, CENTER)
    s.gap()
    device_block(s, n)
    s.pair("Вид поверки:", vr + "TYPE_OF")
    s.pair("Методика поверки:", vr + "DOC")
    s.pair("Идентификатор поверки:", d + "VER_ID")
    s.pair("Межповерочный интервал:", d + "FINTERVAL")
    s.gap()
    conditions_block(s)
    s.gap()
    s.line("Эталоны и вспомогательные средства:", BOLD)
    s.line("&CD_ET_AUX_LST", PLAIN, LEFT, 30)
    s.gap()
    s.line("Результаты поверки", BOLD, CENTER)
    s.pair("1. Внешний осмотр:", d + "CHECK_THT")
    s.pair("2. Опробование:", d + "CHECK_USG")
    s.pair("3. Проверка электрической прочности изоляции:", d + "CHECK_EL", 5)
    s.pair("4. Проверка электрического сопротивления изоляции:", d + "CHECK_R", 5)
    if calibration:
        s.line("5. Определение основной приведённой погрешности до подстройки (коэффициент запаса &CD_VRCOEFF):")
        s.table(results_headers(n), results_names(n, "&AF_"), marker="&LST_AF")
        s.line("Результаты до подстройки: " + cal + "AF_RESULT.")
        s.gap()
        s.line("6. Подстройка:", BOLD)
        s.line(cal + "ADJ", PLAIN, LEFT, 45)
        s.gap()
        s.line("7. Определение основной приведённой погрешности после подстройки:")
    else:
        s.line("5. Определение основной приведённой погрешности (коэффициент запаса &CD_VRCOEFF):")
    s.table(results_headers(n), results_names(n))
    s.gap()
    s.pair("Примечания:", d + "NOTES", 2)
    s.gap()
    s.line("Заключение: результаты " + ("поверки после подстройки " if calibration else "поверки ") + vr
           + "RESULT_SHORT" + "; средство измерений признано " + vr + "SUITABLE.", PLAIN, LEFT, 30)
    s.line(vr + "RES_DOC", PLAIN, LEFT, 30)
    s.gap()
    s.signatures([("Поверитель: &CD_VERIF_POS", "&CD_VERIF"), ("&CD_CHEF_POS", "&CD_CHEF")])
    s.finish()


def certificate(wb, n):
    d = "&D%d_" % n
    vr = "&VR_D%d_" % n
    s = Sheet(wb, "&DEV_VCR_%d" % n, [14, 12, 12, 12, 12, 12, 12, 12])
    header_block(s, n)
    s.line("СВИДЕТЕЛЬСТВО О ПОВЕРКЕ № " + d + "SH_NUM", TITLE, CENTER, 22)
    s.line("Действительно до: ____________", PLAIN, CENTER)
    s.gap()
    device_block(s, n)
    s.gap()
    s.line("поверено в соответствии с " + vr + "DOC", PLAIN, LEFT, 30)
    s.line("с применением эталонов: &CD_ET_AUX_LST", PLAIN, LEFT, 30)
    s.line("при следующих значениях влияющих факторов: &CD_TEMP_FULL, &CD_HUM_FULL, &CD_PRES_FULL", PLAIN, LEFT, 30)
    s.line("и на основании результатов " + vr + "TYPE_OF поверки признано " + vr + "SUITABLE.", BOLD, LEFT, 30)
    s.line("Протокол поверки № " + d + "SH_NUM от &CD_DATE.", PLAIN)
    s.gap()
    s.signatures([("&CD_CHEF_POS", "&CD_CHEF"), ("Поверитель: &CD_VERIF_POS", "&CD_VERIF")])
    s.line("Дата поверки: &CD_DATE", PLAIN)
    s.finish()


def notice(wb, n):
    d = "&D%d_" % n
    vr = "&VR_D%d_" % n
    s = Sheet(wb, "&DEV_VER_%d" % n, [14, 12, 12, 12, 12, 12, 12, 12])
    header_block(s, n)
    s.line("ИЗВЕЩЕНИЕ О НЕПРИГОДНОСТИ К ПРИМЕНЕНИЮ № " + d + "SH_NUM", TITLE, CENTER, 36)
    s.gap()
    device_block(s, n)
    s.gap()
    s.line("на основании результатов " + vr + "TYPE_OF поверки по " + vr + "DOC признано " + vr + "SUITABLE.",
           BOLD, LEFT, 30)
    s.line("Причина непригодности: приведённая погрешность превышает допускаемую (см. протокол поверки № "
           + d + "SH_NUM от &CD_DATE).", PLAIN, LEFT, 30)
    s.gap()
    s.signatures([("&CD_CHEF_POS", "&CD_CHEF"), ("Поверитель: &CD_VERIF_POS", "&CD_VERIF")])
    s.line("Дата: &CD_DATE", PLAIN)
    s.finish()


def calibration(wb, n):
    d = "&D%d_" % n
    s = Sheet(wb, "&DEV_CCR_%d" % n, [16, 15, 15, 15, 15, 15, 15, 19])
    header_block(s, n)
    s.line("СЕРТИФИКАТ О КАЛИБРОВКЕ № " + d + "SH_NUM", TITLE, CENTER, 22)
    s.line("от &CD_DATE", PLAIN, CENTER)
    s.gap()
    device_block(s, n)
    s.gap()
    conditions_block(s)
    s.line("Эталоны: &CD_ET_AUX_LST", PLAIN, LEFT, 30)
    s.gap()
    s.line("Результаты калибровки", BOLD, CENTER)
    s.table(results_headers(n), results_names(n))
    s.gap()
    s.signatures([("Калибровку выполнил: &CD_VERIF_POS", "&CD_VERIF")])
    s.finish()


def build(path, for_calibration=False):
    wb = Workbook()
    wb.remove(wb.active)
    for n in range(1, 5):
        protocol(wb, n, for_calibration)
        certificate(wb, n)
        notice(wb, n)
        calibration(wb, n)
    wb.properties.creator = "ARM_Quarn"
    wb.properties.title = "Протокол калибровки" if for_calibration else "Протокол поверки"
    wb.properties.created = FIXED_TIME
    wb.properties.modified = FIXED_TIME
    wb.save(path)
    repack_reproducibly(path)


def repack_reproducibly(path):
    """Rewrites the archive with fixed entry times so that regenerating gives the same bytes."""
    with zipfile.ZipFile(path) as z:
        entries = [(info.filename, z.read(info.filename)) for info in z.infolist()]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=FIXED_TIME.timetuple()[:6])
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    args = sys.argv[1:]
    if args[:1] == ["--calibration"]:
        build(args[1] if len(args) > 1 else os.path.join(here, "Протокол калибровки.xlsx"), True)
    elif args:
        build(args[0])
    else:
        build(os.path.join(here, "Протокол поверки.xlsx"))
        build(os.path.join(here, "Протокол калибровки.xlsx"), True)
