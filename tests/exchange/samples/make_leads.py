# A purchased lead list as a spreadsheet program saves it, written with openpyxl 3.0.9 (Debian 12):
#   python3 make_leads.py
# then opened and saved by LibreOffice 7.4 Calc:
#   soffice --headless --convert-to ods leads-openpyxl.xlsx   (renamed leads-libreoffice.ods)
#   soffice --headless --convert-to xlsx leads-libreoffice.ods
import datetime
from openpyxl import Workbook
from openpyxl.comments import Comment
from openpyxl.styles import Font

wb = Workbook()
ws = wb.active
ws.title = "Leads"
ws.append(["First Name", "Last Name", "Company", "Address", "City", "State", "ZIP", "Phone", "Mobile", "E-mail", "Added", "Rating"])
for c in ws[1]:
    c.font = Font(bold=True)
rows = [
    ["Ann", "O'Neil", "Acme, Inc.", "12 Main St\nSuite 4", "Boston", "MA", 2134, 6175550100, "+1 617 555 0199", "ann@acme.example", datetime.datetime(2024, 3, 5), 0.25],
    ["José", "Müller", "=1+1", "Hauptstraße 5", "Köln", None, "01067", 49221123456, "+4917112345", "jose@example.de", datetime.datetime(2023, 12, 31, 14, 30), 4.5],
    [None] * 12,
    [None] * 12,
    ["Lee", "Chen", "Chen & Sons", "1 Elm", "Austin", "TX", 78701, "512-555-0100", None, None, None, 3],
    ["Kim", "Park", "Park", "5 Oak  Lane", "Austin", "TX", 73301, 2125550100, "-", "kim@park.example", datetime.datetime(2024, 1, 2), 1234567],
]
for r in rows:
    ws.append(r)
for row in (2, 3, 6, 7):
    ws.cell(row, 7).number_format = "00000"
ws.cell(2, 8).number_format = "(###) ###-####"
ws.cell(2, 11).number_format = "mm/dd/yyyy"
ws.cell(3, 11).number_format = "yyyy-mm-dd hh:mm"
ws.cell(7, 11).number_format = "d-mmm-yy"
ws.cell(2, 12).number_format = "0%"
ws.cell(6, 12).number_format = "0.0"
ws.cell(7, 12).number_format = "#,##0"
ws.cell(3, 3).data_type = "s"  # the text "=1+1", not a formula
ws.cell(5, 1).comment = Comment("Called twice, no answer", "Seller")
ws.cell(6, 1).comment = Comment("Met at the fair", "Seller")
other = wb.create_sheet("Notes")
other.append(["Not", "the", "first", "sheet"])
wb.save("leads-openpyxl.xlsx")
