"""Every window of the real program opened in turn through the accessibility bus and walked as a
screen reader walks it: no control that takes the focus may lack a name, no two may be alike, and
every text box must be named by the label beside it. Windows added later are held to the same."""

import os
import sys

import bus
from bus import Failure, box, button, faults, find, lines, press, type_into, wait_for

CSV = "Last Name,First Name,City\r\nKay,Kim,Austin\r\nPark,Pat,Denver\r\n"

# Commands walked above with what they need; the sweep opens every other one.
WALKED = {"Schedule New", "Calendar", "New", "View in Tree", "View in Grid", "Find", "Export Contacts",
          "Import Contacts", "Export iCalendar\u2026", "Options", "About", "Contents"}
# Commands that print, write mail, end the program, or open only the desktop's file chooser.
NOT_SWEPT = {"Exit", "Print", "Print ToDo", "Print Lead Forms", "Report a bug", "Reminders",
             "Export vCard\u2026", "Import vCard\u2026", "Import iCalendar\u2026"}


def walk(work):
    kestrel = bus.Program(work, greet=True)
    problems = []

    def check(window, stage=""):
        found = faults(window)
        controls = sum(1 for o in bus.descendants(window) if bus.showing(o) and bus.focusable(o))
        print("walked %r%s: %d controls, %d faults" % (window.name, " (" + stage + ")" if stage else "", controls, len(found)))
        for fault in found:
            problems.append((stage + ": " if stage else "") + fault)

    def expect(condition, what):
        if not condition:
            problems.append(what)

    try:
        greeting = kestrel.window("Welcome to Kestrel")
        check(greeting)
        press(button(greeting, "Okay"))
        kestrel.gone("Welcome to Kestrel")

        main = kestrel.main()
        check(main, "reminders in front")
        expect(find(main, "list", "Appointments for the next 7 days") is not None, "the seven-day list is not named")
        expect(find(main, "list", "To Do") is not None, "the to-do list is not named")
        expect(find(main, "status bar") is not None, "no status bar")

        kestrel.menu("Appts", "Schedule New")
        appt = kestrel.window("Appointment")
        check(appt)
        type_into(box(appt, "Brief description"), "Call Ann")
        type_into(box(appt, "Contact or name"), "Ann Lee")
        press(button(appt, "Save"))
        kestrel.gone("Appointment")

        reminder = kestrel.window("Reminder")
        check(reminder)
        expect(bus.role(reminder) == "alert", "the Reminder window is a %r" % bus.role(reminder))
        press(button(reminder, "Dismiss"))

        kestrel.menu("Appts", "Calendar")
        main = kestrel.main()
        wait_for(lambda: find(main, "push button", "Sunday, March 7, 2027, 1 appointment"), "the 7th named with its appointment")
        check(main, "calendar in front")
        expect(find(main, "push button", "Next month") is not None, "the month arrows are not named")

        kestrel.menu("Contacts", "New")
        editor = kestrel.window("Contacts")
        check(editor)
        type_into(box(editor, "Last Name"), "Lee")
        type_into(box(editor, "First Name"), "Ann")
        press(button(editor, "Save"))
        kestrel.gone("Contacts")

        kestrel.menu("Contacts", "View in Tree")
        main = kestrel.main()
        wait_for(lambda: find(main, "tree", "Contacts"), "the contact tree")
        check(main, "contacts in front")

        kestrel.menu("Contacts", "View in Grid")
        grid = kestrel.window("Contact Grid")
        check(grid)
        close(kestrel, grid)

        kestrel.menu("Contacts", "Find")
        finder = kestrel.window("Find")
        check(finder, "empty")
        type_into(box(finder, "Name, company, city, e-mail or phone"), "Lee")
        wait_for(lambda: lines(find(finder, "list", "Matching contacts")), "the found contacts")
        check(finder, "found")
        close(kestrel, finder)

        kestrel.menu("Contacts", "Export Contacts")
        export = kestrel.window("Export Leads to CSV")
        check(export)
        press(button(export, "Cancel"))

        walk_import(kestrel, work, check)

        kestrel.menu("Appts", "Export iCalendar\u2026")
        ical = kestrel.window("Export iCalendar")
        check(ical)
        press(button(ical, "Cancel"))

        kestrel.menu("File", "Options")
        options = kestrel.window("Options")
        check(options)
        press(button(options, "Cancel"))

        kestrel.menu("Help", "About")
        about = kestrel.window("About Kestrel")
        check(about)
        press(button(about, "OK"))

        kestrel.menu("Help", "Contents")
        help_window = wait_for(lambda: next((w for w in bus.children(kestrel.app)
                                             if w.name not in ("Kestrel", "") and bus.showing(w)
                                             and find(w, "tree", "Contents")), None), "the help window")
        check(help_window)

        sweep(kestrel, check)
    finally:
        kestrel.quit()
    return problems


def sweep(kestrel, check):
    """Every other menu command that opens a window, such as windows added after this test was
    written: walked, then closed with Escape (or its Cancel, Close or OK)."""
    bar = find(kestrel.main(), "menu bar")
    commands = [(top.name, item.name) for top in bus.children(bar)
                for item in bus.descendants(top, into_items=True) if bus.role(item) == "menu item"]
    for top, item in commands:
        if not item or item in WALKED or item in NOT_SWEPT:
            continue
        before = {(w.name, bus.role(w)) for w in bus.children(kestrel.app) if bus.showing(w)}
        kestrel.menu(top, item)
        try:
            window = wait_for(lambda: next((w for w in bus.children(kestrel.app) if bus.showing(w)
                                            and (w.name, bus.role(w)) not in before), None), "a window", timeout=5)
        except Failure:
            continue  # the command opens no window
        check(window, "%s > %s" % (top, item))
        title = window.name
        bus.pyatspi.Registry.generateKeyboardEvent(9, None, bus.pyatspi.KEY_PRESSRELEASE)  # Escape
        bus.pump(1)
        for name in ("Cancel", "Close", "Close/Cancel", "OK"):
            if not any(w.name == title and bus.showing(w) for w in bus.children(kestrel.app)):
                break
            try:
                press(button(window, name))
            except Failure:
                pass
        # A message box may share the main window's title: it is gone when the windows showing
        # are those from before the command.
        wait_for(lambda: {(w.name, bus.role(w)) for w in bus.children(kestrel.app) if bus.showing(w)} <= before,
                 "the window %r to close" % title)


def close(kestrel, window):
    """Closes a window that has no Close button, as its close box would: its Escape."""
    title = window.name
    bus.pyatspi.Registry.generateKeyboardEvent(9, None, bus.pyatspi.KEY_PRESSRELEASE)  # Escape
    kestrel.gone(title)


def walk_import(kestrel, work, check):
    path = os.path.join(work, "leads.csv")
    with open(path, "w") as f:
        f.write(CSV)
    kestrel.menu("Contacts", "Import Contacts")
    window = kestrel.window("Import Leads")
    check(window, "choosing a file")
    press(button(window, "Browse"), opens_window=True)
    chooser = wait_for(lambda: next((w for w in bus.children(kestrel.app)
                                     if w.name == "Select Directory and CSV File" and bus.showing(w)), None),
                       "the file dialog")
    name = next(o for o in bus.descendants(chooser) if bus.role(o) in bus.TEXT_ROLES and bus.showing(o)
                and bus.states(o).contains(bus.pyatspi.STATE_EDITABLE))
    type_into(name, path)
    press(button(chooser, "Open"))
    wait_for(lambda: bus.find(window, "label", path), "the chosen file's name")
    check(window, "file chosen")
    press(button(window, "Map"))
    mapping = wait_for(lambda: find(window, "list", "Map Field Names"), "the mapping stage")
    wait_for(lambda: bus.showing(mapping) and lines(mapping), "the file's fields")
    check(window, "mapping")
    # A field chosen through the bus opens its mapping dialog.
    press(bus.children(mapping)[2], "Toggle")
    field = kestrel.window("Map Fields")
    check(field)
    press(button(field, "Map"))  # nothing chosen yet: the dialog stays
    press(button(field, "Delete From Field"))
    kestrel.gone("Map Fields")
    press(button(window, "Map by Name"))
    press(button(window, "Done Mapping"))
    wait_for(lambda: find(window, "table", "Rows and fields to import") and
             bus.showing(find(window, "table", "Rows and fields to import")), "the preview")
    wait_for(lambda: any("rows ready" in a for a in kestrel.announcements()), "the rows ready said aloud")
    check(window, "preview")
    press(button(window, "Import"), opens_window=True)
    summary = wait_for(lambda: next((w for w in bus.children(kestrel.app)
                                     if bus.role(w) in ("dialog", "alert") and bus.showing(w) and w.name != "Import Leads"
                                     and bus.find(w, "push button", "OK")), None), "the import's summary")
    check(summary, "summary")
    press(button(summary, "OK"))
    kestrel.gone("Import Leads")


if __name__ == "__main__":
    bus.run(lambda: walk(sys.argv[1]))
