"""A contact created, an appointment scheduled for it and the contact found again, through the
accessibility bus alone: menu commands and buttons by their actions, boxes by their editable
text, a found line chosen by selecting it. Not one keystroke and not one mouse click."""

import sys

import bus
from bus import Failure, box, button, lines, press, type_into, wait_for


def task(work):
    kestrel = bus.Program(work)
    problems = []
    try:
        main = kestrel.main()

        # A new contact, typed into the editor's boxes as their labels name them.
        kestrel.menu("Contacts", "New")
        editor = kestrel.window("Contacts")
        for name, value in (("Last Name", "Lee"), ("First Name", "Ann"), ("Company", "Acme"), ("City", "Boston"),
                            ("Cell Phone", "617-555-0101")):
            type_into(box(editor, name), value)
        press(button(editor, "Save"))
        kestrel.gone("Contacts")

        # An appointment for it. A day that does not exist is refused aloud, the focus kept.
        kestrel.menu("Appts", "Schedule New")
        appt = kestrel.window("Appointment")
        type_into(box(appt, "Brief description"), "Visit Ann")
        type_into(box(appt, "Where"), "Acme, Boston")
        type_into(box(appt, "Contact or name"), "Ann Lee")
        type_into(box(appt, "Date"), "2/30/2027")
        press(button(appt, "Save"), opens_window=True)
        message = wait_for(lambda: next((w for w in bus.children(kestrel.app)
                                         if bus.role(w) in ("dialog", "alert") and bus.showing(w)
                                         and any("must be a day of the calendar" in o.name
                                                 for o in bus.descendants(w))), None),
                           "the message that the date is refused")
        said = wait_for(lambda: [a for a in kestrel.announcements() if "Not a date" in a], "the refusal said aloud")
        if said[0] != "Date: Not a date: type month/day/year, for example 3/7/2027":
            problems.append("the refusal was said as %r" % said[0])
        press(button(message, "OK"))
        type_into(box(appt, "Date"), bus.TODAY)
        if box(appt, "Date").description:
            problems.append("the date box still says %r once the date is right" % box(appt, "Date").description)
        press(button(appt, "Save"))
        kestrel.gone("Appointment")

        # It falls due in ten minutes: the Reminder is an alert, spoken, and does not take the keys.
        reminder = kestrel.window("Reminder")
        if bus.role(reminder) != "alert":
            problems.append("the Reminder window is a %r, not an alert" % bus.role(reminder))
        wait_for(lambda: any(a.startswith("Reminder: ") and "Visit Ann" in a for a in kestrel.announcements()),
                 "the reminder said aloud")
        if reminder.getState().contains(bus.pyatspi.STATE_ACTIVE):
            problems.append("the Reminder window took the keys")
        press(button(reminder, "Dismiss"))
        week = bus.find(main, "list", "Appointments for the next 7 days")
        wait_for(lambda: any("Visit Ann" in line for line in lines(week)), "the appointment in the seven-day list")

        # Found again with Find: the count is said, and choosing the line shows the contact.
        kestrel.menu("Contacts", "Find")
        find = kestrel.window("Find")
        heard = len(kestrel.announcements())
        type_into(box(find, "Name, company, city, e-mail or phone"), "Boston")
        found = bus.find(find, "list", "Matching contacts")
        wait_for(lambda: any(line.startswith("Lee") for line in lines(found)), "Lee in the found contacts")
        wait_for(lambda: "1 contact found" in kestrel.announcements()[heard:], "the count said aloud")
        line = next(c for c in bus.children(found) if c.name.startswith("Lee"))
        press(line, "Toggle")
        kestrel.gone("Find")
        panel = kestrel.main()
        wait_for(lambda: bus.text_of(box(panel, "Last Name")) == "Lee" and bus.text_of(box(panel, "City")) == "Boston",
                 "the contact shown on the contact panel")
    finally:
        kestrel.quit()
    return problems


if __name__ == "__main__":
    bus.run(lambda: task(sys.argv[1]))
